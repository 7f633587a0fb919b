#!/usr/bin/env bash
# Builds the Linux programs and shows this machine's hardware information: the window where
# a display is available, the `kyvex report` text otherwise. Installs only what these need.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
./scripts/install-deps.sh run
# A first configuration leaves out the tests and benchmarks, whose libraries the run does not
# install; a folder the test command configured keeps its settings.
options=()
if [ ! -f build/linux/CMakeCache.txt ]; then options=(-DKYVEX_BUILD_TESTS=OFF -DKYVEX_BUILD_BENCH=OFF); fi
cmake -S . -B build/linux -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${options[@]}" >/dev/null
cmake --build build/linux -j "$(nproc)" --target kyvex_cli vorlan-install
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec build/linux/app/vorlan-install
fi
exec build/linux/cli/kyvex report "$@"
