# The storage parsers under libFuzzer: identify and inquiry data, property-query and other
# replies, identify files, partition tables. The parsing sources are compiled into the target
# so that the fuzzer sees their branches; the rest comes from the library.
add_executable(fuzz_storage
  ${CMAKE_CURRENT_LIST_DIR}/fuzz_storage.cpp
  ${PROJECT_SOURCE_DIR}/components/storage/Kyvex_WinIOCTL.cpp
  ${PROJECT_SOURCE_DIR}/components/storage/Kyvex_IdentifyFile.cpp
  ${PROJECT_SOURCE_DIR}/platform/linux/LinuxDevicePartitions.cpp
  ${PROJECT_SOURCE_DIR}/report/StorageReport.cpp
  ${PROJECT_SOURCE_DIR}/report/FieldReport.cpp
  ${PROJECT_SOURCE_DIR}/report/Report.cpp)
target_compile_options(fuzz_storage PRIVATE -fsanitize=fuzzer,address,undefined)
target_link_options(fuzz_storage PRIVATE -fsanitize=fuzzer,address,undefined)
target_link_libraries(fuzz_storage PRIVATE kyvex kyvex_fake kyvex_thirdparty)

# New inputs go into the build tree; the recorded device data are the seeds.
set(fuzz_storage_corpus ${CMAKE_CURRENT_BINARY_DIR}/fuzz_storage_corpus)
file(MAKE_DIRECTORY ${fuzz_storage_corpus})
add_test(NAME fuzz_storage
         COMMAND fuzz_storage -max_total_time=15 -rss_limit_mb=2048 ${fuzz_storage_corpus}
                 ${PROJECT_SOURCE_DIR}/tests/data/storage)
set_tests_properties(fuzz_storage PROPERTIES LABELS fuzz TIMEOUT 120)
