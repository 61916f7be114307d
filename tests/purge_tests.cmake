# The purge run through the scripted runtime on copies of the client fixtures.
jet_test(purge_run_test purge/purge_run_test.cpp)
target_link_libraries(purge_run_test PRIVATE purge fakeruntime)
