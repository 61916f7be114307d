# The cut-off date normalisation, through the scripted runtime.
jet_test(purge_pasafecha_test purge/pasafecha_test.cpp)
target_link_libraries(purge_pasafecha_test PRIVATE purge fakeruntime)

# The purge run through the scripted runtime on copies of the client fixtures.
jet_test(purge_run_test purge/purge_run_test.cpp)
target_link_libraries(purge_run_test PRIVATE purge fakeruntime)

# On databases built for each case, also read back by mdb-export and mdb-reader.
find_program(NODE_EXECUTABLE node)
set(_purge_node "${NODE_EXECUTABLE}")
if(NOT NODE_EXECUTABLE)
  set(_purge_node "")
endif()
jet_test(purge_built_db_test purge/purge_built_db_test.cpp)
target_link_libraries(purge_built_db_test PRIVATE purge fakeruntime)
add_dependencies(purge_built_db_test jetdump)
target_compile_definitions(purge_built_db_test PRIVATE
  PURGE_TEST_NODE="${_purge_node}"
  PURGE_TEST_JETDUMP="$<TARGET_FILE:jetdump>"
  PURGE_TEST_COMPARE="${CMAKE_CURRENT_SOURCE_DIR}/node/compare.mjs")
