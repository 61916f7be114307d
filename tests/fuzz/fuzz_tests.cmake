# The fuzzing entry point (fuzz/fuzz_target.cpp): opening a file from bytes,
# reading every row of every table, the checker, and a delete.
#
# Every build runs it, without libFuzzer, over each input that once crashed
# the engine (fuzz/regressions) and over the small fixtures that seed the
# fuzzer. With -DJET_FUZZ=ON (clang only; scripts/test.sh builds it in a
# folder of its own) it is also built as the libFuzzer program jet_fuzz.
add_executable(jet_fuzz_replay fuzz/fuzz_target.cpp fuzz/replay_main.cpp)
target_link_libraries(jet_fuzz_replay PRIVATE jet_internal)

file(GLOB _fuzz_regressions CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/fuzz/regressions/*.mdb")
list(SORT _fuzz_regressions)
foreach(_input IN LISTS _fuzz_regressions)
  get_filename_component(_name "${_input}" NAME_WE)
  add_test(NAME "fuzz_regression.${_name}" COMMAND jet_fuzz_replay "${_input}")
  set_tests_properties("fuzz_regression.${_name}" PROPERTIES LABELS "sanitize" TIMEOUT 120)
endforeach()

# The seeds (fuzz/seeds.txt, which scripts/test.sh gives the fuzzer too):
# small files of the fixtures, which must go through cleanly.
file(STRINGS "${CMAKE_CURRENT_SOURCE_DIR}/fuzz/seeds.txt" _fuzz_seeds)
set(_fuzz_seed_paths "")
foreach(_seed IN LISTS _fuzz_seeds)
  list(APPEND _fuzz_seed_paths "${SHARED_DIR}/fixtures/${_seed}")
endforeach()
if(IS_DIRECTORY "${SHARED_DIR}/fixtures")
  add_test(NAME fuzz_replay.seeds COMMAND jet_fuzz_replay ${_fuzz_seed_paths})
else()
  add_test(NAME fuzz_replay.seeds
    COMMAND sh -c "echo 'fuzzing seeds not replayed: the shared fixtures are absent'; \
if [ \"$REQUIRE_SHARED\" = 1 ]; then exit 1; fi; exit 77")
endif()
set_tests_properties(fuzz_replay.seeds PROPERTIES LABELS "sanitize" TIMEOUT 300 SKIP_RETURN_CODE 77)

if(JET_FUZZ)
  add_executable(jet_fuzz fuzz/fuzz_target.cpp)
  target_link_libraries(jet_fuzz PRIVATE jet_internal)
  target_link_options(jet_fuzz PRIVATE -fsanitize=fuzzer)
endif()
