# The reader's unit tests: value decoding, whole tables through the traps real
# files hold, and damaged files.
jet_test(jet_value_decoding_test jet/value_decoding_test.cpp)
jet_test(jet_table_reading_test jet/table_reading_test.cpp)
jet_test(jet_corrupt_input_test jet/corrupt_input_test.cpp)
