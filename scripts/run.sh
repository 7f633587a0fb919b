#!/usr/bin/env bash
# Builds the Linux programs and shows this machine's hardware information: the window where
# a display is available, the `kyvex report` text otherwise.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
./scripts/install-deps.sh
cmake -S . -B build/linux -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/linux -j "$(nproc)" --target kyvex_cli vorlan-install
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec build/linux/app/vorlan-install
fi
exec build/linux/cli/kyvex report "$@"
