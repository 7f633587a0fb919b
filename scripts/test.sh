#!/usr/bin/env bash
# Builds both platforms and runs every test: the Linux build, the Windows builds (64-bit and
# 32-bit) under Wine, the sanitizer build, a short fuzzing run and the packages. Installs what
# is missing first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
./scripts/install-deps.sh

jobs=$(nproc)
build="$root/build"
export CTEST_OUTPUT_ON_FAILURE=1

section() { printf '\n=== %s ===\n' "$*"; }

section "Linux build"
cmake -S . -B "$build/linux" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKYVEX_BUILD_TESTS=ON -DKYVEX_BUILD_BENCH=ON >/dev/null
cmake --build "$build/linux" -j "$jobs"

section "Windows build (MinGW-w64 x86_64)"
cmake -S . -B "$build/win64" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" >/dev/null
cmake --build "$build/win64" -j "$jobs"

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

# Whether this machine runs 32-bit programs, found by running one: Wine's 32-bit loader. Some
# kernels have 32-bit execution switched off ("Exec format error").
i386_why=""
can_run_i386() {
  local loader=/usr/lib/wine/wine out
  if [ ! -e "$loader" ]; then i386_why="Wine's 32-bit loader ($loader) is not installed"; return 1; fi
  if out=$("$loader" --version 2>&1); then return 0; fi
  i386_why="this machine cannot run 32-bit programs ($loader --version: ${out##*: })"
  return 1
}

run_ctest "Linux" "$build/linux"
run_ctest "Windows 64-bit under Wine" "$build/win64"
if can_run_i386; then
  run_ctest "Windows 32-bit under Wine" "$build/win32"
else
  section "Tests: Windows 32-bit"
  echo "32-bit Windows tests skipped: $i386_why."
  # What needs no 32-bit program to run still runs: the checks of the programs' files.
  if ! ctest --test-dir "$build/win32" -j "$jobs" -L static; then failed=1; fi
fi
section "Tests: sanitizer build"
if ! ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 "$build/asan/tests/kyvex_tests" --gtest_brief=1; then failed=1; fi
if [ -d "$build/fuzz" ]; then
  run_ctest "fuzzing" "$build/fuzz" -L fuzz
fi

section "Packages (.deb, .zip)"
if ! tests/packaging/check_packages.sh "$build/linux" "$build/win32" "$build/win64"; then failed=1; fi

exit "$failed"
