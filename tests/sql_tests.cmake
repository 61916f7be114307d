# The SQL of record sources: parsing, semantics, and selections on the
# client databases.
jet_test(sql_parse_test jet/sql_parse_test.cpp)
jet_test(sql_select_test jet/sql_select_test.cpp)
jet_test(column_lookup_test jet/column_lookup_test.cpp)
