# The engine's writing side: units of work, the journal, the lock file, and
# deleting rows.
jet_test(jet_units_of_work_test jet/units_of_work_test.cpp)
jet_test(jet_slot_delete_test jet/slot_delete_test.cpp)
jet_test(jet_os_faults_test jet/os_faults_test.cpp)
