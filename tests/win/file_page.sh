#!/usr/bin/env bash
# Starts vorlan-install under Wine in an X server of its own and drives its file page with the
# driver program, which runs beside it in the same Wine prefix.
#   file_page.sh PROGRAM DRIVER
set -euo pipefail
program="$1"
driver="$2"

if [ -z "${KYVEX_IN_XVFB:-}" ]; then
  export KYVEX_IN_XVFB=1
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

runner="$(dirname "$0")/../../scripts/wine-run.sh"
export KYVEX_WINE_DISPLAY=1
work=$(mktemp -d)
# The recorded machine the driver opens, packed as a capture travels.
tar -C "$(dirname "$0")/../data/capture" -czf "$work/vm.tar.gz" vm
"$runner" "$program" &
pid=$!
trap 'kill $pid 2>/dev/null || true; rm -rf "$work"' EXIT
# Wine shows the Linux file system as drive Z:.
"$runner" "$driver" "Z:${work//\//\\}"
wait $pid
# The name typed in lower case is the name on disk.
if [ ! -f "$work/kayıt-bilgi.kyx" ]; then
  echo "FAILED: the typed name is not the saved file's name; the folder holds:" >&2
  ls -A "$work" >&2
  exit 1
fi
