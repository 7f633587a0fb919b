# The whole show path under libFuzzer: a storage file read once, every component loaded from
# that image and shown as text and JSON. Seeded with storage files that hold all three
# components; the loading sources and the reports are compiled in for their coverage.
add_executable(fuzz_show
  ${CMAKE_CURRENT_LIST_DIR}/fuzz_show.cpp
  ${PROJECT_SOURCE_DIR}/components/cpu/KSI_CPU_Persist.cpp
  ${PROJECT_SOURCE_DIR}/components/smbios/KSI_SMBIOS_Persist.cpp
  ${PROJECT_SOURCE_DIR}/components/storage/KSI_Storage_Persist.cpp
  ${PROJECT_SOURCE_DIR}/report/HeaderReport.cpp
  ${PROJECT_SOURCE_DIR}/report/CpuReport.cpp
  ${PROJECT_SOURCE_DIR}/report/SmbiosReport.cpp
  ${PROJECT_SOURCE_DIR}/report/StorageReport.cpp
  ${PROJECT_SOURCE_DIR}/report/FieldReport.cpp
  ${PROJECT_SOURCE_DIR}/report/Report.cpp)
target_compile_options(fuzz_show PRIVATE -fsanitize=fuzzer,address,undefined)
target_link_options(fuzz_show PRIVATE -fsanitize=fuzzer,address,undefined)
target_link_libraries(fuzz_show PRIVATE kyvex kyvex_fake kyvex_thirdparty)
file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/corpus_show)
add_test(NAME fuzz_show
         COMMAND fuzz_show -max_total_time=20 -max_len=65536 -timeout=10 -rss_limit_mb=2048
                 ${CMAKE_CURRENT_BINARY_DIR}/corpus_show ${PROJECT_SOURCE_DIR}/tests/data/component-files)
set_tests_properties(fuzz_show PROPERTIES LABELS fuzz TIMEOUT 180)
