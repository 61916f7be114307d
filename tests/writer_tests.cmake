# The engine's writing side: units of work, the journal, the lock file, and
# deleting rows.
jet_test(jet_units_of_work_test jet/units_of_work_test.cpp)
jet_test(jet_slot_delete_test jet/slot_delete_test.cpp)
jet_test(jet_os_faults_test jet/os_faults_test.cpp)
# The order of a commit's calls, judged by rules over what it asked of the
# system (support/write_protocol.h), on the in-memory layer.
jet_test(jet_write_order_test jet/write_order_test.cpp)
