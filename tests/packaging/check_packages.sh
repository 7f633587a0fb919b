#!/usr/bin/env bash
# Makes the packages of built trees and checks what a user gets from them:
#   check_packages.sh BUILD_DIR [WIN32_BUILD_DIR] [WIN64_BUILD_DIR]
# BUILD_DIR is a Linux tree (a .deb is made); each further argument is a MinGW tree (a .zip is
# made). An empty argument skips that tree. The .deb is unpacked with dpkg -x into a scratch
# folder and its programs are run from there: nothing is installed on this machine and no root
# is needed.
set -euo pipefail

me=check_packages
fail() { printf '%s: FAIL: %s\n' "$me" "$*" >&2; exit 1; }
note() { printf '%s: %s\n' "$me" "$*"; }

if (($# < 1 || $# > 3)); then
  echo "usage: $0 BUILD_DIR [WIN32_BUILD_DIR] [WIN64_BUILD_DIR]" >&2
  exit 2
fi

here=$(cd "$(dirname "$0")" && pwd)
# Debian's python, whatever python3 comes first on PATH.
python=/usr/bin/python3
[ -x "$python" ] || python=$(command -v python3) || fail "python3 is needed to check JSON and zips"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/kyvex-packages.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

cache_value() {  # cache_value BUILD_DIR NAME: a value of the tree's CMakeCache.txt
  sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt" | head -n1
}

# Runs cpack with one generator in a build tree and prints the package it made.
make_package() {
  local dir="$1" generator="$2" log pkg
  log=$(mktemp "$scratch/cpack-$generator.XXXXXX")
  [ -f "$dir/CPackConfig.cmake" ] || fail "$dir has no CPackConfig.cmake (not a configured build tree?)"
  if ! (cd "$dir" && cpack -G "$generator" --config CPackConfig.cmake) >"$log" 2>&1; then
    cat "$log" >&2
    fail "cpack -G $generator failed in $dir"
  fi
  pkg=$(sed -n 's/^CPack: - package: \(.*\) generated\.$/\1/p' "$log" | tail -n1)
  [ -n "$pkg" ] && [ -f "$pkg" ] || { cat "$log" >&2; fail "cpack -G $generator in $dir named no package file"; }
  printf '%s\n' "$pkg"
}

made=()

# ---------------------------------------------------------------- Linux: the .deb
linux=$(cd "$1" && pwd) || fail "no build tree $1"
[ -f "$linux/CMakeCache.txt" ] || fail "$linux is not a build tree"
version=$(cache_value "$linux" CMAKE_PROJECT_VERSION)
[ -n "$version" ] || fail "no project version in $linux/CMakeCache.txt"
gui=$(cache_value "$linux" KYVEX_BUILD_GUI)

deb=$(make_package "$linux" DEB)
made+=("$deb")
note "built $deb"

field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = kyvex ] || fail "$deb: package name is '$(field Package)', not kyvex"
[ "$(field Version)" = "$version" ] || fail "$deb: version '$(field Version)' is not the project's $version"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] ||
  fail "$deb: architecture '$(field Architecture)' is not this machine's $(dpkg --print-architecture)"
case "$(basename "$deb")" in
  *"$(field Architecture)"*) ;;
  *) fail "$deb: the file name does not say the architecture $(field Architecture)" ;;
esac
depends=$(field Depends)

root="$scratch/deb"
dpkg -x "$deb" "$root" || fail "dpkg -x $deb failed"

# Without these the installed programs do not start on a machine that lacks the build's
# libraries: a Depends line that dpkg-shlibdeps did not fill is caught here. A program linked
# statically needs none.
for b in "$root"/usr/bin/*; do
  if readelf -d "$b" | grep -q 'NEEDED.*libc\.so'; then
    grep -q 'libc6' <<<"$depends" || fail "$deb: usr/bin/$(basename "$b") needs libc but Depends lacks libc6: '$depends'"
  fi
done

# Only the programs and their documentation: test programs, benchmarks, fuzz targets, static
# libraries and headers stay in the build tree.
stray=$(cd "$root" && find . \( -type f -o -type l \) | sed 's|^\./||' | grep -Ev \
  '^usr/bin/(kyvex|vorlan-install)$|^usr/share/man/man1/(kyvex|vorlan-install)\.1(\.gz)?$|^usr/share/applications/vorlan-install\.desktop$|^usr/share/doc/kyvex/' || true)
[ -z "$stray" ] || fail "$deb holds files that are not part of the package: ${stray//$'\n'/ }"

bin="$root/usr/bin"
[ -x "$bin/kyvex" ] || fail "$deb has no usr/bin/kyvex"
expected_bins=(kyvex)
if [ "$gui" = OFF ]; then
  note "$linux is built without the window (KYVEX_BUILD_GUI=OFF): no vorlan-install or desktop file to check"
else
  [ -x "$bin/vorlan-install" ] || fail "$deb has no usr/bin/vorlan-install"
  expected_bins+=(vorlan-install)
  grep -q 'libqt6widgets6' <<<"$depends" || fail "$deb ships the window but Depends lacks libqt6widgets6: '$depends'"
fi

# The command line carries its own C++ runtime; a program that loads libstdc++ needs the package.
for b in "${expected_bins[@]}"; do
  if readelf -d "$bin/$b" | grep -q 'NEEDED.*libstdc++\.so'; then
    grep -q 'libstdc++6' <<<"$depends" || fail "$deb: $b needs libstdc++ but Depends lacks libstdc++6: '$depends'"
  fi
done

for b in "${expected_bins[@]}"; do
  # A run path would point into a build tree or a private folder that the package does not have.
  if readelf -d "$bin/$b" | grep -Eq '\((RPATH|RUNPATH)\)'; then
    fail "usr/bin/$b carries a run path: $(readelf -d "$bin/$b" | grep -E 'RPATH|RUNPATH')"
  fi
done

out=$("$bin/kyvex" --version) || fail "usr/bin/kyvex --version failed"
[[ "$out" == "kyvex $version"* ]] || fail "usr/bin/kyvex --version printed '$out', not 'kyvex $version...'"
note "usr/bin/kyvex --version: $out"

"$bin/kyvex" report --json >"$scratch/report.json" || fail "usr/bin/kyvex report --json failed"
"$python" - "$scratch/report.json" <<'EOF' || fail "usr/bin/kyvex report --json did not print the report as JSON"
import json, sys
with open(sys.argv[1], encoding="utf-8") as f:
    report = json.load(f)
missing = [k for k in ("System", "CPU", "SMBIOS", "Storage") if k not in report]
if not isinstance(report, dict) or missing:
    sys.exit(f"not the full report: missing {missing}")
EOF
note "usr/bin/kyvex report --json: valid JSON with System, CPU, SMBIOS and Storage"

# The desktop entry must start a program the package has.
if [ "$gui" != OFF ]; then
  desktop="$root/usr/share/applications/vorlan-install.desktop"
  [ -f "$desktop" ] || fail "$deb has no usr/share/applications/vorlan-install.desktop"
  exec_prog=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop" | head -n1)
  [ -x "$bin/$(basename "$exec_prog")" ] || fail "the desktop file starts '$exec_prog', which the package does not have"
  if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" || fail "desktop-file-validate rejects $desktop"
    note "desktop file valid (desktop-file-validate)"
  else
    note "desktop-file-validate not found (Debian: desktop-file-utils): desktop file not validated"
  fi
fi

# Manual pages: present, rendered without a warning, and the kyvex page names every command and
# option the program's own help prints, and no option the program does not take.
man_path() {  # the unpacked page of $1, compressed or not; empty when there is none
  local f
  for f in "$root/usr/share/man/man1/$1.1.gz" "$root/usr/share/man/man1/$1.1"; do
    if [ -f "$f" ]; then printf '%s\n' "$f"; return; fi
  done
}
pages=(kyvex)
[ "$gui" = OFF ] || pages+=(vorlan-install)
for page in "${pages[@]}"; do
  manpage=$(man_path "$page")
  [ -n "$manpage" ] || fail "$deb has no manual page $page(1)"
  warnings="$scratch/$page.warnings"
  if command -v man >/dev/null; then
    LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$manpage" >/dev/null 2>"$warnings" ||
      fail "man cannot render $page(1): $(cat "$warnings")"
    renderer=man
  elif command -v groff >/dev/null; then
    zcat -f "$manpage" | groff -man -Tutf8 -ww -z 2>"$warnings" || fail "groff cannot render $page(1): $(cat "$warnings")"
    renderer=groff
  elif command -v mandoc >/dev/null; then
    zcat -f "$manpage" | mandoc -Tlint -W warning >"$warnings" 2>&1 || true
    renderer=mandoc
  else
    renderer=
    note "no man, groff or mandoc here (Debian: man-db or groff-base): $page(1) not rendered"
  fi
  if [ -n "$renderer" ]; then
    [ ! -s "$warnings" ] || fail "$renderer warns about $page(1): $(cat "$warnings")"
    note "$page(1) renders without warnings ($renderer)"
  fi
done

"$python" "$here/man_covers_help.py" "$bin/kyvex" "$(man_path kyvex)" ||
  fail "the kyvex manual page does not match kyvex --help"
note "kyvex(1) describes every command and option of kyvex --help"

# ---------------------------------------------------------------- Windows: one .zip per tree
shift
zips=()
for dir in "$@"; do
  [ -n "$dir" ] || continue
  dir=$(cd "$dir" && pwd) || fail "no build tree $dir"
  zip=$(make_package "$dir" ZIP)
  note "built $zip"
  "$python" - "$zip" <<'EOF' || fail "$zip is not a usable Windows package"
import os, struct, sys, zipfile

path = sys.argv[1]
# The word the file name carries for each architecture, and the PE machine field its programs
# must have: the programs themselves say which architecture a tree was built for.
tags = {"win32": 0x014C, "win64": 0x8664}
named = [t for t in tags if t in os.path.basename(path)]
if len(named) != 1:
    sys.exit(f"{path}: the file name does not say win32 or win64")
tag = named[0]
machine = tags[tag]

with zipfile.ZipFile(path) as z:
    if z.testzip() is not None:
        sys.exit(f"{path}: a damaged member")
    members = {os.path.basename(n): n for n in z.namelist() if not n.endswith("/")}
    for need in ("kyvex.exe", "vorlan-install.exe", "README.txt"):
        if need not in members:
            sys.exit(f"{path}: no {need} among {sorted(members)}")
    extra = [n for n in members if n.lower().endswith((".exe", ".dll", ".a", ".lib"))
             and n not in ("kyvex.exe", "vorlan-install.exe")]
    if extra:
        sys.exit(f"{path}: holds programs or libraries that are not part of the package: {extra}")
    for exe in ("kyvex.exe", "vorlan-install.exe"):
        data = z.read(members[exe])
        if data[:2] != b"MZ":
            sys.exit(f"{path}: {exe} is no Windows program")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            sys.exit(f"{path}: {exe} has no PE header")
        found = struct.unpack_from("<H", data, pe + 4)[0]
        if found != machine:
            sys.exit(f"{path}: {exe} is built for machine {found:#06x}, the package says {tag}")
    print(f"{path}: " + ", ".join(sorted(members)))
EOF
  for other in "${zips[@]}"; do
    [ "$(basename "$other")" != "$(basename "$zip")" ] || fail "two Windows trees made the same file name $(basename "$zip")"
  done
  zips+=("$zip")
  made+=("$zip")
done

note "all packages checked:"
printf '  %s\n' "${made[@]}"
