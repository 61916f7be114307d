# The engine's, db's and the purge's GoogleTest suites built for Windows and
# run under Wine. Each suite is one CTest test: listing the cases of each
# program under Wine at build time would cost a Wine start per program.
# Suites that are POSIX by nature (child processes killed by signal, the
# comparisons with mdb-export and Node.js, symbolic links, OFD locks) are
# not built here, or skip those cases with a reason.

# GoogleTest from Debian's sources (package googletest), built with the
# cross compiler: no network, no prebuilt library for the wrong system.
set(GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest sources to build for Windows")
if(NOT EXISTS "${GTEST_SOURCE_DIR}/CMakeLists.txt")
  message(STATUS "GoogleTest sources not found at ${GTEST_SOURCE_DIR}: the Windows tests are skipped")
  return()
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory("${GTEST_SOURCE_DIR}" googletest EXCLUDE_FROM_ALL)
# GoogleTest's own sources are not held to the project's warnings.
target_compile_options(gtest PRIVATE -w)
target_compile_options(gtest_main PRIVATE -w)
# (GoogleTest's CMake names them GTest::gtest and GTest::gtest_main itself.)

# Wine runs the tests: "wine" where the package gives that command,
# otherwise the 64-bit loader in Wine's library folder.
find_program(WINE_LOADER NAMES wine wine64
  PATHS /usr/lib/wine /usr/lib/x86_64-linux-gnu/wine /usr/lib64/wine NO_CMAKE_FIND_ROOT_PATH)
if(WINE_LOADER)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${WINE_LOADER}")
else()
  message(STATUS "Wine not found: the Windows tests are built but not run")
endif()

# What Wine calls the shared fixtures: its drive Z: is the root of the
# machine it runs on.
set(WIN_SHARED_DIR "Z:${SHARED_DIR}")
# A Wine configuration of its own, in the build folder; no messages from
# Wine itself, and no offer to install Mono or Gecko.
set(WINE_TEST_ENV
  "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix" "WINEDEBUG=-all" "WINEDLLOVERRIDES=mscoree,mshtml="
  "SHARED_DIR=${WIN_SHARED_DIR}")

add_library(testsupport STATIC support/shared_fixtures.cpp support/faulty_os.cpp
  support/crash_os.cpp support/write_protocol.cpp)
target_link_libraries(testsupport PUBLIC GTest::gtest jet_internal)
target_include_directories(testsupport PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_definitions(testsupport PUBLIC JET_SHARED_DIR="${WIN_SHARED_DIR}")

add_library(fakeruntime STATIC support/fake_runtime.cpp)
target_link_libraries(fakeruntime PUBLIC runtime)
target_include_directories(fakeruntime PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})

# The Wine configuration is made once, before any test: tests started
# together would otherwise each try to make it. Its Wine server is started first and kept up for the whole run (until
# 60 s after its last program ends), so that no test starts while a server
# is stopping; windows.wineserver stops it at the end.
if(WINE_LOADER)
  get_filename_component(wine_dir "${WINE_LOADER}" DIRECTORY)
  find_program(WINE_SERVER NAMES wineserver HINTS "${wine_dir}"
    PATHS /usr/lib/wine /usr/lib/x86_64-linux-gnu/wine NO_CMAKE_FIND_ROOT_PATH)
  if(WINE_SERVER)
    set(wine_server_start
      "mkdir -p \"$WINEPREFIX\"; \"${WINE_SERVER}\" -p60 </dev/null >/dev/null 2>&1 || true; ")
  endif()
  add_test(NAME windows.wineprefix COMMAND sh -c
    "${wine_server_start}\"${WINE_LOADER}\" wineboot --init")
  set_tests_properties(windows.wineprefix PROPERTIES
    ENVIRONMENT "${WINE_TEST_ENV}" FIXTURES_SETUP wineprefix LABELS "windows" TIMEOUT 300)
  if(WINE_SERVER)
    add_test(NAME windows.wineserver COMMAND sh -c "\"${WINE_SERVER}\" -k || true")
    set_tests_properties(windows.wineserver PROPERTIES
      ENVIRONMENT "${WINE_TEST_ENV}" FIXTURES_CLEANUP wineprefix LABELS "windows")
  endif()
endif()

function(windows_test name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE testsupport GTest::gtest_main)
  if(WINE_LOADER)
    add_test(NAME windows.${name}
      COMMAND sh "${PROJECT_SOURCE_DIR}/tests/win32/wine_test.sh" "${WINE_LOADER}" $<TARGET_FILE:${name}>)
    set_tests_properties(windows.${name} PROPERTIES
      ENVIRONMENT "${WINE_TEST_ENV}" FIXTURES_REQUIRED wineprefix LABELS "windows" TIMEOUT 900)
  endif()
endfunction()

# The engine.
windows_test(jet_value_decoding_test jet/value_decoding_test.cpp)
windows_test(jet_table_reading_test jet/table_reading_test.cpp)
windows_test(jet_corrupt_input_test jet/corrupt_input_test.cpp)
windows_test(sql_parse_test jet/sql_parse_test.cpp)
windows_test(sql_select_test jet/sql_select_test.cpp)
windows_test(column_lookup_test jet/column_lookup_test.cpp)
windows_test(jet_index_page_test jet/index_page_test.cpp)
windows_test(jet_index_key_test jet/index_key_test.cpp)
windows_test(jet_index_fixtures_test jet/index_fixtures_test.cpp)
windows_test(jet_units_of_work_test jet/units_of_work_test.cpp)
windows_test(jet_slot_delete_test jet/slot_delete_test.cpp)
windows_test(jet_os_faults_test jet/os_faults_test.cpp)
windows_test(jet_write_order_test jet/write_order_test.cpp)
windows_test(jet_create_parts_test jet/create_parts_test.cpp)
windows_test(jet_create_file_test jet/create_file_test.cpp jet/create_check.cpp)
windows_test(jet_checker_test jet/checker_test.cpp)
add_dependencies(jet_checker_test mkclientes)
target_compile_definitions(jet_checker_test PRIVATE
  CHECKER_TEST_MKCLIENTES="Z:$<TARGET_FILE:mkclientes>")
windows_test(jet_delete_statement_test tools/delete_statement_test.cpp)
windows_test(jet_delete_index_test jet/delete_index_test.cpp)
windows_test(jet_delete_damage_test jet/delete_damage_test.cpp)
# What differs on Windows: sharing, locks that bind, paths in UTF-16.
windows_test(jet_os_win32_test jet/os_win32_test.cpp)

# The runtime and db.
windows_test(runtime_regional_dates_test runtime/regional_dates_test.cpp)
target_link_libraries(runtime_regional_dates_test PRIVATE runtime)
windows_test(runtime_services_test runtime/runtime_services_test.cpp)
target_link_libraries(runtime_services_test PRIVATE fakeruntime)
windows_test(db_record_channel_test db/record_channel_test.cpp)
target_link_libraries(db_record_channel_test PRIVATE db)

# The purge.
windows_test(purge_pasafecha_test purge/pasafecha_test.cpp)
target_link_libraries(purge_pasafecha_test PRIVATE purge fakeruntime)
windows_test(purge_run_test purge/purge_run_test.cpp)
target_link_libraries(purge_run_test PRIVATE purge fakeruntime)
windows_test(purge_power_test purge/purge_power_test.cpp)
target_link_libraries(purge_power_test PRIVATE purge fakeruntime)
add_dependencies(purge_power_test mkclientes)
target_compile_definitions(purge_power_test PRIVATE
  PURGE_TEST_MKCLIENTES="Z:$<TARGET_FILE:mkclientes>")
