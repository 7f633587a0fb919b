# kyvex cpu: this machine's processors against the cpuid tool's reading of the same instruction
# (on the Windows build too, under Wine, on the same processor), recorded processors of other machines (raw
# dumps of the cpuid tool), and input that is not a dump.
set(KYVEX_CPU_DATA ${PROJECT_SOURCE_DIR}/tests/data/cpu)
if(WIN32)
  # The Windows program runs under Wine, which sees the Linux file system as drive Z:.
  set(KYVEX_CPU_DATA "Z:${KYVEX_CPU_DATA}")
  set(kyvex_cpu_runner ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh)
  set(kyvex_cpu_fewer --fewer)
else()
  set(kyvex_cpu_runner "")
  set(kyvex_cpu_fewer "")
endif()

add_test(NAME cpu_help COMMAND kyvex_cli cpu --help)
set_tests_properties(cpu_help PROPERTIES PASS_REGULAR_EXPRESSION
  "--index N.*--all.*--cpuid-dump FILE.*--frequency MHZ")

add_test(NAME cpu_live_matches_cpuid_tool
         COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/cpu/check_cpu_live.py
                 ${kyvex_cpu_runner} $<TARGET_FILE:kyvex_cli>)
set_tests_properties(cpu_live_matches_cpuid_tool PROPERTIES SKIP_RETURN_CODE 77)

add_test(NAME cpu_command
         COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/cpu/check_cpu_cli.py
                 ${kyvex_cpu_fewer} ${KYVEX_CPU_DATA} ${kyvex_cpu_runner} $<TARGET_FILE:kyvex_cli>)
