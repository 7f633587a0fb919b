#!/usr/bin/env bash
# Starts vorlan-install under Xvfb, waits for its window, takes a screenshot of it and checks
# that the window appeared with its caption and size and that the picture is not blank.
#   screenshot.sh [--wine] PROGRAM SHOT.png
# --wine runs the Windows program under Wine (scripts/wine-run.sh).
set -euo pipefail
runner=()
if [ "${1:-}" = "--wine" ]; then
  runner=("$(dirname "$0")/../../scripts/wine-run.sh")
  export KYVEX_WINE_DISPLAY=1
  shift
fi
program="$1"
shot="$2"

inner() {
  "${runner[@]}" "$program" &
  pid=$!
  trap 'kill $pid 2>/dev/null || true' EXIT
  id=""
  for _ in $(seq 1 300); do
    id=$(xwininfo -root -tree 2>/dev/null | grep -F 'Vorlan Install .:: Sürüm 2.0.0.2 ::.' | awk '{print $1}' | head -n1 || true)
    [ -n "$id" ] && break
    sleep 0.2
  done
  if [ -z "$id" ]; then
    echo "the window did not appear" >&2
    exit 1
  fi
  sleep 1  # let it finish painting
  geometry=$(xwininfo -id "$id" | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w"x"h}')
  echo "window $id: $geometry"
  if [ "$geometry" != "572x369" ]; then
    echo "unexpected window size $geometry" >&2
    exit 1
  fi
  import -window "$id" "$shot"
  colours=$(convert "$shot" -format '%k' info:)
  echo "screenshot $shot: $colours colours"
  if [ "$colours" -lt 16 ]; then
    echo "the screenshot looks blank" >&2
    exit 1
  fi
}

if [ -z "${KYVEX_IN_XVFB:-}" ]; then
  export KYVEX_IN_XVFB=1
  if [ ${#runner[@]} -gt 0 ]; then set -- --wine "$program" "$shot"; else set -- "$program" "$shot"; fi
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
inner
