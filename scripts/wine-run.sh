#!/usr/bin/env bash
# Runs a Windows program of a cross-build under Wine, in a private prefix inside the build
# folder, so that no run depends on what an earlier run left on the machine.
#
# A 64-bit program runs under Wine's 64-bit loader in a 64-bit prefix, a 32-bit program under
# the 32-bit loader in a 32-bit prefix; the machine type is read from the program's PE header.
# The prefix is made on first use. The programs os_check_winxp.exe, os_check_win7.exe, ... are
# told by Wine that they run on that version of Windows.
set -u
exe="$1"; shift
build_dir="${KYVEX_WIN_BUILD_DIR:-$(cd "$(dirname "$exe")" && pwd)}"
# Walk up to the folder that holds CMakeCache.txt: that is the build folder.
d="$build_dir"
while [ "$d" != "/" ] && [ ! -f "$d/CMakeCache.txt" ]; do d=$(dirname "$d"); done
[ -f "$d/CMakeCache.txt" ] && build_dir="$d"

# The COFF machine field follows the "PE\0\0" signature, whose offset is at 0x3C.
pe_machine() {
  local off
  off=$(od -An -t u4 -j 60 -N 4 "$1" 2>/dev/null | tr -d ' ')
  [ -n "$off" ] || return 1
  od -An -t x2 -j $((off + 4)) -N 2 "$1" 2>/dev/null | tr -d ' '
}
case "$(pe_machine "$exe")" in
  8664)
    export WINEARCH=win64
    loader=/usr/lib/wine/wine64
    export WINESERVER=/usr/lib/wine/wineserver64
    ;;
  *)
    export WINEARCH=win32
    loader=/usr/lib/wine/wine
    export WINESERVER=/usr/lib/wine/wineserver32
    ;;
esac
[ -x "$loader" ] || loader=wine
[ -x "${WINESERVER}" ] || unset WINESERVER
export WINELOADER="$loader"

# A program that shows a window gets a prefix (and so a Wine desktop process) of its own:
# the desktop process takes its display from the first program of its prefix, and the
# other tests run without one.
if [ -n "${KYVEX_WINE_DISPLAY:-}" ]; then prefix_name=wineprefix-gui; else prefix_name=wineprefix; fi
prefix_name="$prefix_name-$WINEARCH"
export WINEPREFIX="$build_dir/$prefix_name"
# Quiet unless a test asks for a trace of its own (KYVEX_WINEDEBUG takes WINEDEBUG's form).
export WINEDEBUG="${KYVEX_WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
# Programs run without a display unless a test shows a window on purpose (under Xvfb).
[ -n "${KYVEX_WINE_DISPLAY:-}" ] || unset DISPLAY

(
  flock 9
  if [ ! -f "$WINEPREFIX/.kyvex-ready" ]; then
    rm -rf "$WINEPREFIX"
    DISPLAY= "$loader" wineboot -i >/dev/null 2>&1
    # Program suffix = Wine's version setting, except that Wine 8 swaps the product types of
    # its win7 and win2008r2 settings: win2008r2 is the one that answers as a workstation.
    for pair in winxp=winxp win2003=win2003 vista=vista win7=win2008r2 win2008r2=win7 win8=win8 \
                win81=win81 win10=win10; do
      "$loader" reg add "HKCU\\Software\\Wine\\AppDefaults\\os_check_${pair%%=*}.exe" /v Version \
        /d "${pair#*=}" /f >/dev/null 2>&1
    done
    if [ -n "${WINESERVER:-}" ]; then "$WINESERVER" -w; else wineserver -w; fi
    touch "$WINEPREFIX/.kyvex-ready"
  fi
) 9>"$build_dir/.$prefix_name.lock"

exec "$loader" "$exe" "$@"
