# The engine's writing side: units of work, the journal, the lock file, and
# deleting rows.
jet_test(jet_units_of_work_test jet/units_of_work_test.cpp)
jet_test(jet_slot_delete_test jet/slot_delete_test.cpp)
jet_test(jet_os_faults_test jet/os_faults_test.cpp)
# The order of a commit's calls, judged by rules over what it asked of the
# system (support/write_protocol.h), on the in-memory layer.
jet_test(jet_write_order_test jet/write_order_test.cpp)


# Two programs on one database: a writer paused at a chosen call to the
# system, and a second opener.
add_executable(jet_pausing_writer jet/pausing_writer.cpp)
target_link_libraries(jet_pausing_writer PRIVATE testsupport)
jet_test(jet_two_programs_test jet/two_programs_test.cpp)
add_dependencies(jet_two_programs_test jet_pausing_writer)
target_compile_definitions(jet_two_programs_test PRIVATE
  JET_PAUSING_WRITER="$<TARGET_FILE:jet_pausing_writer>")
# A cache of a few pages: changes spilled through the journal before the
# commit come out as with no limit, after a rollback, a failure or a cut.
jet_test(jet_page_cache_test jet/page_cache_test.cpp)
