# The components loading hostile storage files, and the reports showing what they loaded. The
# saving and loading sources and the reports are compiled into the target so that libFuzzer
# sees their branches; seeded with storage files that hold all three components.
add_executable(fuzz_component_files
  ${CMAKE_CURRENT_LIST_DIR}/fuzz_component_files.cpp
  ${PROJECT_SOURCE_DIR}/components/cpu/KSI_CPU_Persist.cpp
  ${PROJECT_SOURCE_DIR}/components/smbios/KSI_SMBIOS_Persist.cpp
  ${PROJECT_SOURCE_DIR}/components/storage/KSI_Storage_Persist.cpp
  ${PROJECT_SOURCE_DIR}/report/CpuReport.cpp
  ${PROJECT_SOURCE_DIR}/report/SmbiosReport.cpp
  ${PROJECT_SOURCE_DIR}/report/StorageReport.cpp
  ${PROJECT_SOURCE_DIR}/report/FieldReport.cpp
  ${PROJECT_SOURCE_DIR}/report/Report.cpp)
target_compile_options(fuzz_component_files PRIVATE -fsanitize=fuzzer,address,undefined)
target_link_options(fuzz_component_files PRIVATE -fsanitize=fuzzer,address,undefined)
target_link_libraries(fuzz_component_files PRIVATE kyvex kyvex_fake kyvex_thirdparty)
file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/corpus_component_files)
add_test(NAME fuzz_component_files
         COMMAND fuzz_component_files -max_total_time=20 -max_len=65536 -timeout=10 -rss_limit_mb=2048
                 ${CMAKE_CURRENT_BINARY_DIR}/corpus_component_files ${PROJECT_SOURCE_DIR}/tests/data/component-files)
set_tests_properties(fuzz_component_files PROPERTIES LABELS fuzz TIMEOUT 180)
