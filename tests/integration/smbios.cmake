# kyvex smbios: this machine's tables (none on the build machine: reported, not an error),
# recorded dumps of both entry-point kinds, and files that are not dumps.
set(KYVEX_SMBIOS_DATA ${PROJECT_SOURCE_DIR}/tests/data/smbios)
if(WIN32)
  # The Windows program runs under Wine, which sees the Linux file system as drive Z:.
  set(KYVEX_SMBIOS_DATA "Z:${KYVEX_SMBIOS_DATA}")
endif()

add_test(NAME smbios_help COMMAND kyvex_cli smbios --help)
set_tests_properties(smbios_help PROPERTIES PASS_REGULAR_EXPRESSION "--dump-bin FILE.*--json|--json.*--dump-bin FILE")

add_test(NAME smbios_live COMMAND kyvex_cli smbios)
set_tests_properties(smbios_live PROPERTIES PASS_REGULAR_EXPRESSION "(^|\n)SMBIOS\r?\n")

add_test(NAME smbios_live_json COMMAND kyvex_cli smbios --json)
set_tests_properties(smbios_live_json PROPERTIES PASS_REGULAR_EXPRESSION "\"TableSource\": \"ts[A-Za-z]+\"")

add_test(NAME smbios_dump_bin_2x COMMAND kyvex_cli smbios --dump-bin ${KYVEX_SMBIOS_DATA}/lenovo-thinkpad-t430.bin)
set_tests_properties(smbios_dump_bin_2x PROPERTIES PASS_REGULAR_EXPRESSION
  "Version: +ThinkPad T430.*Type: +Notebook.*Part number: +HMT351S6CFR8C-PB")

add_test(NAME smbios_dump_bin_3x COMMAND kyvex_cli smbios --json --dump-bin ${KYVEX_SMBIOS_DATA}/dell-precision-3620.bin)
set_tests_properties(smbios_dump_bin_3x PROPERTIES PASS_REGULAR_EXPRESSION
  "\"EntryPoint\": \"_SM3_\".*\"SystemModel\": \"Precision Tower 3620\".*\"DeviceText\": \"DDR4\"")

# The count a 2.x entry point announces is kept for a dump.
add_test(NAME smbios_dump_bin_count COMMAND kyvex_cli smbios --json --dump-bin ${KYVEX_SMBIOS_DATA}/hyperv-vm.bin)
set_tests_properties(smbios_dump_bin_count PROPERTIES PASS_REGULAR_EXPRESSION "\"StructCount\": 5,")

add_test(NAME smbios_dump_bin_missing COMMAND kyvex_cli smbios --dump-bin ${KYVEX_SMBIOS_DATA}/no-such-dump.bin)
set_tests_properties(smbios_dump_bin_missing PROPERTIES WILL_FAIL TRUE)

add_test(NAME smbios_dump_bin_not_a_dump COMMAND kyvex_cli smbios --dump-bin ${PROJECT_SOURCE_DIR}/tests/integration/smbios.cmake)
set_tests_properties(smbios_dump_bin_not_a_dump PROPERTIES WILL_FAIL TRUE)

# The recorded tables read alongside dmidecode: sizes, speeds, counts, types and slots agree.
if(NOT WIN32)
  file(GLOB KYVEX_SMBIOS_DUMPS ${PROJECT_SOURCE_DIR}/tests/data/smbios/*.bin)
  add_test(NAME smbios_agrees_with_dmidecode
           COMMAND /usr/bin/python3 ${PROJECT_SOURCE_DIR}/tests/integration/smbios/check_against_dmidecode.py
                   $<TARGET_FILE:kyvex_cli> ${KYVEX_SMBIOS_DUMPS})
  set_tests_properties(smbios_agrees_with_dmidecode PROPERTIES SKIP_RETURN_CODE 77)
endif()
