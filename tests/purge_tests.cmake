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

# The purge when the machine fails under it: the power cut at every sync and
# at seeded writes, and every call that changes files failing in turn, on an
# in-memory file layer (support/crash_os.h). Hundreds of reopenings and
# checks, a few seconds in a Debug build; the failure paths are worth the
# sanitizers.
add_executable(purge_power_test purge/purge_power_test.cpp)
target_link_libraries(purge_power_test PRIVATE purge fakeruntime testsupport GTest::gtest_main)
add_dependencies(purge_power_test mkclientes)
target_compile_definitions(purge_power_test PRIVATE
  PURGE_TEST_MKCLIENTES="$<TARGET_FILE:mkclientes>")
gtest_discover_tests(purge_power_test
  PROPERTIES LABELS "sanitize;power" ENVIRONMENT "${TEST_ENV}" TIMEOUT 300
  DISCOVERY_TIMEOUT 60)

# The purge killed at 50 moments, as a child process; each time the next
# open must give a sound file with every client whole or gone.
add_executable(purge_crash_child purge/purge_crash_child.cpp)
target_link_libraries(purge_crash_child PRIVATE purge fakeruntime ${CMAKE_DL_LIBS})
jet_test(purge_crash_test purge/purge_crash_test.cpp)
target_link_libraries(purge_crash_test PRIVATE jettools)
add_dependencies(purge_crash_test purge_crash_child mkclientes jetcheck jetdump)
target_compile_definitions(purge_crash_test PRIVATE
  PURGE_TEST_NODE="${_purge_node}"
  PURGE_TEST_JETDUMP="$<TARGET_FILE:jetdump>"
  PURGE_TEST_COMPARE="${CMAKE_CURRENT_SOURCE_DIR}/node/compare.mjs"
  PURGE_CRASH_CHILD="$<TARGET_FILE:purge_crash_child>"
  PURGE_CRASH_MKCLIENTES="$<TARGET_FILE:mkclientes>"
  PURGE_CRASH_JETCHECK="$<TARGET_FILE:jetcheck>")
