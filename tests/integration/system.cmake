# The kyvex program on either build: version, help, and the report as JSON.
if(WIN32)
  set(kyvex_runner ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh)
else()
  set(kyvex_runner "")
endif()

add_test(NAME kyvex_version COMMAND kyvex_cli --version)
set_tests_properties(kyvex_version PROPERTIES PASS_REGULAR_EXPRESSION "^kyvex 2\\.0\\.0\\.2")

add_test(NAME kyvex_help COMMAND kyvex_cli --help)
set_tests_properties(kyvex_help PROPERTIES PASS_REGULAR_EXPRESSION "report +Show everything")

add_test(NAME kyvex_unknown_command COMMAND kyvex_cli frobnicate)
set_tests_properties(kyvex_unknown_command PROPERTIES WILL_FAIL TRUE)

add_test(NAME kyvex_report_json
         COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/check_report_json.py
                 ${kyvex_runner} $<TARGET_FILE:kyvex_cli>)

add_test(NAME kyvex_save_show
         COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/check_save_show.py
                 ${kyvex_runner} $<TARGET_FILE:kyvex_cli>)

add_test(NAME kyvex_show_damaged
         COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/check_show_damaged.py
                 ${kyvex_runner} $<TARGET_FILE:kyvex_cli>)

# Output and file kinds as Linux has them (/dev/full, named pipes).
if(NOT WIN32)
  add_test(NAME kyvex_cli_edges
           COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/check_cli_edges.py $<TARGET_FILE:kyvex_cli>)
endif()

# The short dump forms answer as the full command line does.
set(kyvex_forms_data ${PROJECT_SOURCE_DIR}/tests/data)
if(WIN32)
  set(kyvex_forms_data "Z:${kyvex_forms_data}")
endif()
add_test(NAME kyvex_command_forms
         COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/check_command_forms.py
                 ${kyvex_runner} $<TARGET_FILE:kyvex_cli> ${kyvex_forms_data})

# Several processes on one storage file at once.
add_test(NAME kyvex_concurrent_files
         COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/check_concurrent_files.py
                 ${kyvex_runner} $<TARGET_FILE:kyvex_cli>)

# Whole-machine captures, taken and shown by the Linux layer.
if(NOT WIN32)
  add_test(NAME kyvex_capture
           COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/check_capture.py $<TARGET_FILE:kyvex_cli>)
endif()
