# Reader comparison: for every .mdb under the shared fixtures (real/, clientes/, large/),
# one test checks that jetdump lists the same user tables as mdb-reader and mdb-tables,
# reads every table's rows as mdb-reader does and counts as many rows as mdb-export
# (tests/node/compare.mjs). The fixtures are found when CMake runs; without them, or
# without Node.js, a single test says why and is skipped, or fails under REQUIRE_SHARED=1.

set(READER_COMPARE_SCRIPT "${CMAKE_CURRENT_SOURCE_DIR}/node/compare.mjs")
find_program(NODE_EXECUTABLE node)

set(_reader_compare_files "")
set(_reader_compare_why "")
if(NOT IS_DIRECTORY "${SHARED_DIR}/fixtures")
  set(_reader_compare_why "shared fixtures not found at ${SHARED_DIR}/fixtures (set SHARED_DIR)")
elseif(NOT NODE_EXECUTABLE)
  set(_reader_compare_why "Node.js (node) not found; scripts/setup.sh installs it")
else()
  file(GLOB_RECURSE _reader_compare_files CONFIGURE_DEPENDS
    "${SHARED_DIR}/fixtures/real/*.mdb" "${SHARED_DIR}/fixtures/clientes/*.mdb"
    "${SHARED_DIR}/fixtures/large/*.mdb")
  list(SORT _reader_compare_files)
  if(NOT _reader_compare_files)
    set(_reader_compare_why "no .mdb files under ${SHARED_DIR}/fixtures/real, clientes or large")
  endif()
endif()

if(_reader_compare_why)
  add_test(NAME reader_compare.unavailable
    COMMAND sh -c "echo \"reader comparison unavailable: $1\"; \
if [ \"$REQUIRE_SHARED\" = 1 ]; then echo 'REQUIRE_SHARED=1: failing'; exit 1; fi; exit 77"
      reader_compare "${_reader_compare_why}")
  set_tests_properties(reader_compare.unavailable PROPERTIES
    SKIP_RETURN_CODE 77 LABELS "compare")
  return()
endif()

foreach(_file IN LISTS _reader_compare_files)
  file(RELATIVE_PATH _rel "${SHARED_DIR}/fixtures" "${_file}")
  set(_name "reader_compare.${_rel}")
  add_test(NAME "${_name}"
    COMMAND "${NODE_EXECUTABLE}" "${READER_COMPARE_SCRIPT}"
      --jetdump "$<TARGET_FILE:jetdump>" --name "${_rel}" "${_file}")
  set_tests_properties("${_name}" PROPERTIES
    ENVIRONMENT "${TEST_ENV};TZ=UTC"
    SKIP_RETURN_CODE 77
    LABELS "compare"
    TIMEOUT 300)
endforeach()
