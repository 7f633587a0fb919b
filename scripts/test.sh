#!/usr/bin/env bash
# Builds both platforms and runs every test: the Linux build, the Windows build under Wine,
# the sanitizer build and a short fuzzing run. Installs what is missing first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
./scripts/install-deps.sh

jobs=$(nproc)
build="$root/build"
export CTEST_OUTPUT_ON_FAILURE=1

section() { printf '\n=== %s ===\n' "$*"; }

section "Linux build"
cmake -S . -B "$build/linux" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build/linux" -j "$jobs"

section "Windows build (MinGW-w64 i686)"
cmake -S . -B "$build/win32" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$build/win32" -j "$jobs"

section "Sanitizer build (ASan + UBSan)"
cmake -S . -B "$build/asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKYVEX_SANITIZE=ON >/dev/null
cmake --build "$build/asan" -j "$jobs" --target kyvex_tests

fuzz_targets=()
if [ -f tests/fuzz/CMakeLists.txt ]; then
  section "Fuzz build (libFuzzer)"
  cmake -S . -B "$build/fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKYVEX_FUZZ=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
  cmake --build "$build/fuzz" -j "$jobs"
fi

failed=0
run_ctest() {
  local name="$1" dir="$2"; shift 2
  section "Tests: $name"
  if ! ctest --test-dir "$dir" -j "$jobs" --timeout 600 "$@"; then failed=1; fi
}
run_ctest "Linux" "$build/linux"
run_ctest "Windows under Wine" "$build/win32"
section "Tests: sanitizer build"
if ! ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 "$build/asan/tests/kyvex_tests" --gtest_brief=1; then failed=1; fi
if [ -d "$build/fuzz" ]; then
  run_ctest "fuzzing" "$build/fuzz" -L fuzz
fi

exit "$failed"
