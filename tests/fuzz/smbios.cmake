# The SMBIOS walk and decoders under libFuzzer, seeded with the recorded dumps. The SMBIOS
# sources are compiled into the target itself so that libFuzzer sees their coverage.
file(GLOB KYVEX_FUZZ_SMBIOS_SOURCES ${PROJECT_SOURCE_DIR}/components/smbios/*.cpp)
add_executable(fuzz_smbios ${CMAKE_CURRENT_LIST_DIR}/fuzz_smbios.cpp ${KYVEX_FUZZ_SMBIOS_SOURCES}
                           ${PROJECT_SOURCE_DIR}/report/SmbiosReport.cpp ${PROJECT_SOURCE_DIR}/report/FieldReport.cpp
                           ${PROJECT_SOURCE_DIR}/report/Report.cpp)
target_compile_options(fuzz_smbios PRIVATE -fsanitize=fuzzer,address,undefined)
target_link_options(fuzz_smbios PRIVATE -fsanitize=fuzzer,address,undefined)
target_link_libraries(fuzz_smbios PRIVATE kyvex kyvex_thirdparty)
file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/corpus_smbios)
add_test(NAME fuzz_smbios
         COMMAND fuzz_smbios -max_total_time=15 -timeout=10 -rss_limit_mb=2048
                 ${CMAKE_CURRENT_BINARY_DIR}/corpus_smbios ${PROJECT_SOURCE_DIR}/tests/data/smbios)
set_tests_properties(fuzz_smbios PROPERTIES LABELS fuzz TIMEOUT 180)
