# Creating databases: the creator's parts, whole files read back and checked
# page by page, and generated client databases judged by mdb-reader and
# mdbtools (rows, and the schema mdb-schema reports).
jet_test(jet_create_parts_test jet/create_parts_test.cpp)
jet_test(jet_create_file_test jet/create_file_test.cpp jet/create_check.cpp)

# Generated files, judged by the independent readers: each file's rows read
# alike by jetdump, mdb-reader and mdb-export (node/compare.mjs), the client
# databases' schema as mdb-schema reports it (node/create_schema.mjs), and
# the file checker's verdict (jetcheck).
# The files are made once per run by the create.generate.* tests.
add_executable(create_samples jet/create_samples.cpp)
target_link_libraries(create_samples PRIVATE jet)

set(CREATE_GENERATED_DIR "${CMAKE_CURRENT_BINARY_DIR}/generated")
find_program(NODE_EXECUTABLE node)

# name | mkclientes arguments ("" = made by create_samples) | schema check flags
set(_create_files
  "j4-pequena|--clients 300 --max-deps 3 --seed 7|"
  "j4-relaciones|--clients 500 --max-deps 4 --seed 8 --relations|--relations"
  "j3-relaciones|--format jet3 --clients 400 --max-deps 3 --seed 9 --relations|--relations"
  "j4-grande|--clients 3000 --max-deps 10 --seed 11 --relations|--relations"
  "j3-grande|--format jet3 --clients 3000 --max-deps 10 --seed 12|"
  "j4-dispersa|--clients 800 --max-deps 5 --seed 13 --relations --scatter|--relations"
  "tipos-jet4||"
  "tipos-jet3||")

add_test(NAME create.generate.dir
  COMMAND ${CMAKE_COMMAND} -E make_directory "${CREATE_GENERATED_DIR}")
set_tests_properties(create.generate.dir PROPERTIES FIXTURES_SETUP create_dir LABELS "compare")
add_test(NAME create.generate.samples
  COMMAND create_samples "${CREATE_GENERATED_DIR}")
set_tests_properties(create.generate.samples PROPERTIES
  FIXTURES_SETUP create_files FIXTURES_REQUIRED create_dir LABELS "compare")

foreach(_entry IN LISTS _create_files)
  string(REPLACE "|" ";" _parts "${_entry}")
  list(GET _parts 0 _name)
  list(LENGTH _parts _n)
  set(_args "")
  set(_schema "")
  if(_n GREATER 1)
    list(GET _parts 1 _args)
  endif()
  if(_n GREATER 2)
    list(GET _parts 2 _schema)
  endif()
  set(_file "${CREATE_GENERATED_DIR}/${_name}.mdb")
  if(_args)
    separate_arguments(_arglist UNIX_COMMAND "${_args}")
    add_test(NAME create.generate.${_name}
      COMMAND mkclientes "${_file}" ${_arglist} --force --quiet)
    set_tests_properties(create.generate.${_name} PROPERTIES
      FIXTURES_SETUP create_files FIXTURES_REQUIRED create_dir LABELS "compare")
  endif()
  if(TARGET jetcheck)
    add_test(NAME create.check.${_name} COMMAND jetcheck "${_file}")
    set_tests_properties(create.check.${_name} PROPERTIES
      FIXTURES_REQUIRED create_files LABELS "compare")
  endif()
  if(NODE_EXECUTABLE)
    add_test(NAME create.compare.${_name}
      COMMAND "${NODE_EXECUTABLE}" "${CMAKE_CURRENT_SOURCE_DIR}/node/compare.mjs"
        --jetdump "$<TARGET_FILE:jetdump>" --name "generated/${_name}.mdb" "${_file}")
    set_tests_properties(create.compare.${_name} PROPERTIES
      FIXTURES_REQUIRED create_files ENVIRONMENT "${TEST_ENV};TZ=UTC"
      SKIP_RETURN_CODE 77 LABELS "compare" TIMEOUT 300)
    if(_args)
      separate_arguments(_schemaflags UNIX_COMMAND "${_schema}")
      add_test(NAME create.schema.${_name}
        COMMAND "${NODE_EXECUTABLE}" "${CMAKE_CURRENT_SOURCE_DIR}/node/create_schema.mjs"
          ${_schemaflags} "${_file}")
      set_tests_properties(create.schema.${_name} PROPERTIES
        FIXTURES_REQUIRED create_files ENVIRONMENT "${TEST_ENV}"
        SKIP_RETURN_CODE 77 LABELS "compare")
    endif()
  endif()
endforeach()
if(NOT NODE_EXECUTABLE)
  add_test(NAME create.compare.unavailable
    COMMAND sh -c "echo 'generated files not compared: Node.js (node) not found'; \
if [ \"$REQUIRE_SHARED\" = 1 ]; then exit 1; fi; exit 77")
  set_tests_properties(create.compare.unavailable PROPERTIES SKIP_RETURN_CODE 77 LABELS "compare")
endif()

# mkclientes itself: the same seed gives the same bytes, another seed other
# bytes, in both layouts (--scatter changes the order, not the rows, as
# mdb-export reads them); an existing file is
# kept without --force and replaced with it; no temporary file is left beside
# the output.
add_test(NAME create.mkclientes.behaviour
  COMMAND sh -c "set -e; d=\"$1/mk\"; rm -rf \"$d\"; mkdir -p \"$d\"; m=\"$2\"
    \"$m\" \"$d/a.mdb\" --clients 500 --seed 3 --quiet
    \"$m\" \"$d/b.mdb\" --clients 500 --seed 3 --quiet
    \"$m\" \"$d/c.mdb\" --clients 500 --seed 4 --quiet
    \"$m\" \"$d/j3a.mdb\" --format jet3 --clients 200 --seed 3 --relations --quiet
    \"$m\" \"$d/j3b.mdb\" --format jet3 --clients 200 --seed 3 --relations --quiet
    \"$m\" \"$d/sa.mdb\" --clients 500 --seed 3 --scatter --quiet
    \"$m\" \"$d/sb.mdb\" --clients 500 --seed 3 --scatter --quiet
    cmp \"$d/sa.mdb\" \"$d/sb.mdb\"
    if cmp -s \"$d/a.mdb\" \"$d/sa.mdb\"; then echo '--scatter did not change the layout'; exit 1; fi
    if command -v mdb-export >/dev/null; then for f in a sa; do
      mdb-export \"$d/$f.mdb\" cliprod | cut -d, -f2- | sort >\"$d/$f.rows\"; done
      cmp \"$d/a.rows\" \"$d/sa.rows\"; rm \"$d\"/*.rows; fi
    cmp \"$d/a.mdb\" \"$d/b.mdb\"
    cmp \"$d/j3a.mdb\" \"$d/j3b.mdb\"
    if cmp -s \"$d/a.mdb\" \"$d/c.mdb\"; then echo 'seeds 3 and 4 gave the same file'; exit 1; fi
    if \"$m\" \"$d/a.mdb\" --clients 10 --quiet 2>\"$d/err\"; then echo 'overwrote without --force'; exit 1; fi
    grep -q 'ya existe' \"$d/err\"
    cmp \"$d/a.mdb\" \"$d/b.mdb\"
    \"$m\" \"$d/a.mdb\" --clients 10 --force --quiet
    if cmp -s \"$d/a.mdb\" \"$d/b.mdb\"; then echo '--force did not replace the file'; exit 1; fi
    test -z \"$(ls -A \"$d\" | grep '^\\.')\""
    sh "${CMAKE_CURRENT_BINARY_DIR}" "$<TARGET_FILE:mkclientes>")
