# The cpuid dump reader and the processor refresh under libFuzzer, seeded with the recorded
# dumps. The reader and the component are compiled into the target itself, so that the
# fuzzer sees their branches (the library is built without coverage).
file(GLOB KYVEX_FUZZ_CPU_SOURCES ${PROJECT_SOURCE_DIR}/components/cpu/*.cpp)
add_executable(fuzz_cpu ${CMAKE_CURRENT_LIST_DIR}/fuzz_cpu.cpp ${PROJECT_SOURCE_DIR}/report/CpuReport.cpp
                        ${PROJECT_SOURCE_DIR}/report/FieldReport.cpp ${PROJECT_SOURCE_DIR}/report/Report.cpp
                        ${PROJECT_SOURCE_DIR}/platform/CpuidSnapshot.cpp ${KYVEX_FUZZ_CPU_SOURCES})
target_compile_options(fuzz_cpu PRIVATE -fsanitize=fuzzer,address,undefined)
target_link_options(fuzz_cpu PRIVATE -fsanitize=fuzzer,address,undefined)
target_link_libraries(fuzz_cpu PRIVATE kyvex kyvex_fake kyvex_thirdparty)
file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/corpus_cpu)
add_test(NAME fuzz_cpu
         COMMAND fuzz_cpu -max_total_time=15 -timeout=10 -rss_limit_mb=1024
                 ${CMAKE_CURRENT_BINARY_DIR}/corpus_cpu ${PROJECT_SOURCE_DIR}/tests/data/cpu)
set_tests_properties(fuzz_cpu PROPERTIES LABELS fuzz TIMEOUT 120)
