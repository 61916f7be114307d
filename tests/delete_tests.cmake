# Deleting rows: index entries taken out of synthetic and real trees, usage
# map bits, and rounds of deletions over copies of every shared fixture.
jet_test(jet_delete_index_test jet/delete_index_test.cpp)

# The rounds over the fixtures compare the files with mdb-export and
# mdb-reader after every round (tests/node/compare.mjs, needing jetdump and
# Node.js). Labelled "delete" only: too slow to repeat under the sanitizers.
find_program(NODE_EXECUTABLE node)
set(_delete_node "${NODE_EXECUTABLE}")
if(NOT NODE_EXECUTABLE)
  set(_delete_node "")
endif()
add_executable(jet_delete_rounds_test jet/delete_rounds_test.cpp)
target_link_libraries(jet_delete_rounds_test PRIVATE testsupport GTest::gtest_main)
add_dependencies(jet_delete_rounds_test jetdump mkclientes)
target_compile_definitions(jet_delete_rounds_test PRIVATE
  DELETE_TEST_NODE="${_delete_node}"
  DELETE_TEST_JETDUMP="$<TARGET_FILE:jetdump>"
  DELETE_TEST_MKCLIENTES="$<TARGET_FILE:mkclientes>"
  DELETE_TEST_COMPARE="${CMAKE_CURRENT_SOURCE_DIR}/node/compare.mjs")
gtest_discover_tests(jet_delete_rounds_test
  PROPERTIES LABELS "delete" ENVIRONMENT "${TEST_ENV}" TIMEOUT 600
  DISCOVERY_TIMEOUT 60)
jet_test(jet_delete_damage_test jet/delete_damage_test.cpp)

# Deletes deferred to the commit against the same deletes one by one, on
# fixtures and a generated client database, read back by mdb-export and
# mdb-reader too; pending rows, savepoints, and commits that fail.
jet_test(jet_deferred_delete_test jet/deferred_delete_test.cpp)
add_dependencies(jet_deferred_delete_test jetdump mkclientes)
target_compile_definitions(jet_deferred_delete_test PRIVATE
  DEFERRED_TEST_NODE="${_delete_node}"
  DEFERRED_TEST_JETDUMP="$<TARGET_FILE:jetdump>"
  DEFERRED_TEST_MKCLIENTES="$<TARGET_FILE:mkclientes>"
  DEFERRED_TEST_COMPARE="${CMAKE_CURRENT_SOURCE_DIR}/node/compare.mjs")
