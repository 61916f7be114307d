# Record channels, recordsets and the bound field view.
jet_test(db_record_channel_test db/record_channel_test.cpp)
target_link_libraries(db_record_channel_test PRIVATE db)
