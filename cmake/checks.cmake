# Tests of what ships beside the binary: the manual page, the Debian package, the event
# schema and the example caller. Debian's python3 runs them: python3-jsonschema is
# installed for it.

find_program(QEV_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)

add_test(NAME docs.manpage COMMAND sh ${PROJECT_SOURCE_DIR}/tests/manpage.sh ${PROJECT_SOURCE_DIR}/docs/qev.1)
add_test(NAME docs.package COMMAND sh ${PROJECT_SOURCE_DIR}/tests/package.sh ${PROJECT_BINARY_DIR} ${CMAKE_CPACK_COMMAND})
add_test(NAME docs.example
  COMMAND ${QEV_PYTHON} ${PROJECT_SOURCE_DIR}/tests/example_test.py $<TARGET_FILE:qev> ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR}/tmp)
add_test(NAME docs.schema COMMAND ${QEV_PYTHON} ${PROJECT_SOURCE_DIR}/tests/schema_test.py
  ${PROJECT_SOURCE_DIR}/docs/events.schema.json ${PROJECT_SOURCE_DIR}/docs/qev.1 ${PROJECT_SOURCE_DIR}/README.md)
set_tests_properties(docs.package docs.example PROPERTIES TIMEOUT 120)

# Every end-to-end test records the event lines it read (testing/run.cpp); the first test
# clears the record, the last checks every line against the schema.
add_test(NAME events.clear COMMAND ${CMAKE_COMMAND} -E rm -rf ${PROJECT_BINARY_DIR}/events)
add_test(NAME events.schema
  COMMAND ${QEV_PYTHON} ${PROJECT_SOURCE_DIR}/tests/schema_check.py ${PROJECT_SOURCE_DIR}/docs/events.schema.json ${PROJECT_BINARY_DIR}/events)
set_tests_properties(events.clear PROPERTIES FIXTURES_SETUP events)
set_tests_properties(events.schema PROPERTIES FIXTURES_CLEANUP events)
