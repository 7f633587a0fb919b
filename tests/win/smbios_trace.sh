#!/usr/bin/env bash
# `kyvex smbios` under Wine with Wine's file and process traces: reading the firmware tables
# must create nothing in the temporary folder and start no command interpreter (the DOS
# segment dump is the only route that would). Wine answers 'RSMB' as current Windows does.
# Usage: smbios_trace.sh WINE_RUN KYVEX_EXE
set -u
wine_run="$1"; exe="$2"
trace=$(mktemp); out=$(mktemp)
trap 'rm -f "$trace" "$out"' EXIT

KYVEX_WINEDEBUG=+process,+file "$wine_run" "$exe" smbios >"$out" 2>"$trace"
status=$?
fail=0
if [ "$status" -ne 0 ]; then echo "kyvex smbios exited with $status"; fail=1; fi
grep -q "Table source:" "$out" || { echo "no SMBIOS report:"; cat "$out"; fail=1; }
# The trace must be live, or finding nothing in it proves nothing.
if ! grep -q "trace:file:.*kyvex\.exe" "$trace"; then
  echo "Wine wrote no file trace naming the program; cannot check what it creates"
  exit 1
fi
if grep -i -E 'RomDmp|RomDump|\\cmd\.exe|\\Temp\\' "$trace" | head -5 | grep .; then
  echo "the run touched the temporary folder or started the command interpreter"
  fail=1
fi
source=$(grep "Table source:" "$out")
echo "${source#"${source%%[! ]*}"}; $(grep -c 'trace:file' "$trace") file-trace lines, none in the temporary folder"
exit $fail
