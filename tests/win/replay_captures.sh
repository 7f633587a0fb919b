#!/usr/bin/env bash
# The recorded machines of tests/data/capture shown by the Windows kyvex.exe under Wine: each
# capture, packed as `tar czf` packs it, must give the report the machine gave when it was
# captured, text and JSON, byte for byte. kyvex.exe writes its console output in text mode, so
# its lines end in CR LF: the recorded reports are compared with their LF made CR LF, nothing
# else changed. A capture's folder is refused on Windows, with the reason.
# Usage: replay_captures.sh WINE_RUN KYVEX_EXE CAPTURES_DIR
set -u
wine_run="$1"; exe="$2"; captures="$3"
command -v tar >/dev/null || { echo "skipped: tar is not installed, and the captures are packed with it"; exit 0; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail=0
shown=0
for dir in "$captures"/*/; do
  name=$(basename "$dir")
  [ -f "$dir/report.txt" ] && [ -f "$dir/report.json" ] || continue
  tar -C "$captures" -czf "$work/$name.tar.gz" "$name" || { echo "$name: could not be packed"; fail=1; continue; }
  for kind in txt json; do
    args=(report); [ "$kind" = json ] && args+=(--json)
    sed 's/$/\r/' "$dir/report.$kind" >"$work/expected.$kind"
    "$wine_run" "$exe" --sysroot "$work/$name.tar.gz" "${args[@]}" >"$work/got.$kind" 2>"$work/err"
    status=$?
    if [ "$status" -ne 0 ] || [ -s "$work/err" ]; then
      echo "$name (${args[*]}): exited with $status"; cat "$work/err"; fail=1
    fi
    if ! cmp -s "$work/expected.$kind" "$work/got.$kind"; then
      echo "$name (${args[*]}): not the report the machine gave:"
      diff <(tr -d '\r' <"$work/expected.$kind") <(tr -d '\r' <"$work/got.$kind") | head -20
      cmp "$work/expected.$kind" "$work/got.$kind" | head -1
      fail=1
    fi
    shown=$((shown + 1))
  done
done
if [ "$shown" -eq 0 ]; then echo "no recorded machine with its reports in $captures"; exit 1; fi

# A folder is refused, and says what to show instead.
first=$(ls -d "$captures"/*/ | head -1)
"$wine_run" "$exe" --sysroot "$first" report >"$work/out" 2>"$work/err"
status=$?
if [ "$status" -eq 0 ] || ! grep -q "tar czf" "$work/err"; then
  echo "a capture's folder was not refused as it should be (exit $status):"; cat "$work/err"; fail=1
fi
[ "$fail" -eq 0 ] && echo "$shown reports of $(ls -d "$captures"/*/ | wc -l) recorded machines shown as captured; a folder refused"
exit $fail
