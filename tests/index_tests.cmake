# Index pages, walks and keys: synthetic pages, damaged trees, and every
# index of the shared fixtures checked against its table.
jet_test(jet_index_page_test jet/index_page_test.cpp)
jet_test(jet_index_key_test jet/index_key_test.cpp)
jet_test(jet_index_fixtures_test jet/index_fixtures_test.cpp)
