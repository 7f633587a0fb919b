#!/usr/bin/env bash
# Runs a Windows program of the cross-build under Wine, in a private prefix inside the build
# folder, so that no run depends on what an earlier run left on the machine.
#
# The prefix is made on first use. Programs whose names end in _winxp.exe, _win2003.exe or
# _win7.exe are told by Wine that they run on that version of Windows.
set -u
exe="$1"; shift
build_dir="${KYVEX_WIN_BUILD_DIR:-$(cd "$(dirname "$exe")" && pwd)}"
# Walk up to the folder that holds CMakeCache.txt: that is the build folder.
d="$build_dir"
while [ "$d" != "/" ] && [ ! -f "$d/CMakeCache.txt" ]; do d=$(dirname "$d"); done
[ -f "$d/CMakeCache.txt" ] && build_dir="$d"

# A program that shows a window gets a prefix (and so a Wine desktop process) of its own:
# the desktop process takes its display from the first program of its prefix, and the
# other tests run without one.
if [ -n "${KYVEX_WINE_DISPLAY:-}" ]; then prefix_name=wineprefix-gui; else prefix_name=wineprefix; fi
export WINEPREFIX="$build_dir/$prefix_name"
export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# Programs run without a display unless a test shows a window on purpose (under Xvfb).
[ -n "${KYVEX_WINE_DISPLAY:-}" ] || unset DISPLAY

(
  flock 9
  if [ ! -f "$WINEPREFIX/.kyvex-ready" ]; then
    rm -rf "$WINEPREFIX"
    DISPLAY= wineboot -i >/dev/null 2>&1
    for v in winxp win2003 win7; do
      wine reg add "HKCU\\Software\\Wine\\AppDefaults\\os_check_$v.exe" /v Version /d "$v" /f >/dev/null 2>&1
    done
    wineserver -w
    touch "$WINEPREFIX/.kyvex-ready"
  fi
) 9>"$build_dir/.$prefix_name.lock"

exec wine "$exe" "$@"
