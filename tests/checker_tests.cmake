# The file checker and the command-line tools jetcheck and jetsql: every
# fixture passes, copies broken on purpose fail with the right problem, and
# jetsql reads what mdb-reader reads and deletes all or nothing.
jet_test(jet_checker_test jet/checker_test.cpp)
add_dependencies(jet_checker_test mkclientes)
target_compile_definitions(jet_checker_test PRIVATE
  CHECKER_TEST_MKCLIENTES="$<TARGET_FILE:mkclientes>")

find_program(NODE_EXECUTABLE node)
set(_node "")
if(NODE_EXECUTABLE)
  set(_node "${NODE_EXECUTABLE}")
endif()

jet_test(jet_delete_statement_test tools/delete_statement_test.cpp)
jet_test(jet_tools_test tools/tools_test.cpp)
add_dependencies(jet_tools_test jetcheck jetsql jetdump)
target_compile_definitions(jet_tools_test PRIVATE
  JETCHECK_PATH="$<TARGET_FILE:jetcheck>"
  JETSQL_PATH="$<TARGET_FILE:jetsql>"
  JETDUMP_PATH="$<TARGET_FILE:jetdump>"
  NODE_PATH="${_node}"
  COMPARE_SCRIPT="${CMAKE_CURRENT_SOURCE_DIR}/node/compare.mjs")

# jetsql's SELECT against mdb-reader and mdb-export, on every fixture: the
# comparison script of the reader tests, with jetdump's row listing answered
# by jetsql.
if(NODE_EXECUTABLE AND IS_DIRECTORY "${SHARED_DIR}/fixtures")
  file(GENERATE OUTPUT "${CMAKE_CURRENT_BINARY_DIR}/jetsql_as_jetdump"
    CONTENT "#!/bin/sh
# jetdump's command line, with a table's rows read by jetsql.
if [ \"$1\" = --json ]; then exec '$<TARGET_FILE:jetsql>' \"$2\" \"SELECT * FROM [$3]\"; fi
exec '$<TARGET_FILE:jetdump>' \"$@\"
"
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
      WORLD_READ WORLD_EXECUTE)
  file(GLOB_RECURSE _jetsql_compare_files CONFIGURE_DEPENDS
    "${SHARED_DIR}/fixtures/real/*.mdb" "${SHARED_DIR}/fixtures/clientes/*.mdb"
    "${SHARED_DIR}/fixtures/large/*.mdb")
  list(SORT _jetsql_compare_files)
  foreach(_file IN LISTS _jetsql_compare_files)
    file(RELATIVE_PATH _rel "${SHARED_DIR}/fixtures" "${_file}")
    add_test(NAME "jetsql_compare.${_rel}"
      COMMAND "${NODE_EXECUTABLE}" "${CMAKE_CURRENT_SOURCE_DIR}/node/compare.mjs"
        --jetdump "${CMAKE_CURRENT_BINARY_DIR}/jetsql_as_jetdump" --name "${_rel}" "${_file}")
    set_tests_properties("jetsql_compare.${_rel}" PROPERTIES
      ENVIRONMENT "${TEST_ENV};TZ=UTC" SKIP_RETURN_CODE 77 LABELS "compare" TIMEOUT 300)
  endforeach()
endif()
