#!/usr/bin/env bash
# Times each of kyvex's decoders beside the peer tool that reads the same input, in paired
# hyperfine runs on this machine, and prints the ratio of the medians (ours over the peer's)
# and each command's peak memory:
#   kyvex cpu --cpuid-dump F         beside  cpuid -f F -1
#   kyvex smbios --dump-bin F        beside  dmidecode --from-dump F  (smallest and largest table)
#   kyvex storage --identify F       beside  hdparm --Istdin < F
#   kyvex report                     beside  lscpu; lsblk -J
#   kyvex show F --json              beside  reading every value of F with olefile
#                                            (F: a storage file of 255 processors)
# Run it after the Linux build (./scripts/test.sh): bench/compare_peers.sh [RUNS]. It installs
# the peers it lacks (hyperfine, cpuid, dmidecode, hdparm) on a Debian machine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kyvex="${KYVEX:-$root/build/linux/cli/kyvex}"
runs="${1:-20}"
data="$root/tests/data"

if [ ! -x "$kyvex" ]; then
  echo "compare_peers: $kyvex is not built; run ./scripts/test.sh first (or set KYVEX)" >&2
  exit 1
fi

missing=()
for tool in hyperfine:hyperfine /usr/bin/time:time cpuid:cpuid dmidecode:dmidecode hdparm:hdparm lscpu:util-linux \
  lsblk:util-linux /usr/lib/python3/dist-packages/olefile:python3-olefile; do
  command -v "${tool%%:*}" >/dev/null 2>&1 || [ -e "${tool%%:*}" ] || missing+=("${tool#*:}")
done
if ((${#missing[@]})); then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The program is timed as the package ships it, stripped, as the peers' packages ship theirs: the
# build tree's copy carries some 50 MB of debugging information, and starting it costs a third
# more here.
if command -v strip >/dev/null && strip -o "$work/kyvex" "$kyvex" 2>/dev/null; then
  kyvex="$work/kyvex"
fi

smbios_small=$(ls -S "$data"/smbios/*.bin | tail -1)
smbios_large=$(ls -S "$data"/smbios/*.bin | head -1)
cpu_dump="$data/cpu/GenuineIntel00806F8_SapphireRapids_05_CPUID.txt"
identify="$data/storage/WDC_WD5000AAKS-00TMA0.hdparm.txt"
python3 "$root/bench/many_processors.py" "$data/capture/vm" 255 "$work/255"
"$kyvex" --sysroot "$work/255" save "$work/255.kyx" >/dev/null
many="$work/255.kyx"

# name | our command | the peer's command (run through a shell only where it needs one)
cases=(
  "cpu --cpuid-dump|$kyvex cpu --cpuid-dump $cpu_dump|cpuid -f $cpu_dump -1"
  "smbios --dump-bin (smallest, $(basename "$smbios_small"))|$kyvex smbios --dump-bin $smbios_small|dmidecode --from-dump $smbios_small"
  "smbios --dump-bin (largest, $(basename "$smbios_large"))|$kyvex smbios --dump-bin $smbios_large|dmidecode --from-dump $smbios_large"
  "storage --identify|$kyvex storage --identify $identify|sh -c 'hdparm --Istdin < $identify'"
  "report|$kyvex report|sh -c 'lscpu; lsblk -J'"
  "show --json (255 processors)|$kyvex show $many --json|/usr/bin/python3 $root/bench/read_with_olefile.py $many"
)

peak() {  # peak resident memory of one run, in MB (GNU time's maximum resident set size)
  local kb
  kb=$(/usr/bin/time -f %M sh -c "$1" 2>&1 >/dev/null | tail -1)
  python3 -c "print(f'{$kb / 1024:.1f}')"
}

printf '%-48s %10s %10s %7s %9s %9s\n' "command" "ours ms" "peer ms" "ratio" "ours MB" "peer MB"
i=0
for c in "${cases[@]}"; do
  IFS='|' read -r name ours peer <<<"$c"
  json="$work/$i.json"
  hyperfine -N --style none --warmup 3 --runs "$runs" --export-json "$json" "$ours" "$peer" >/dev/null
  read -r ours_ms peer_ms < <(python3 -c '
import json, sys
r = json.load(open(sys.argv[1]))["results"]
print(r[0]["median"] * 1000, r[1]["median"] * 1000)' "$json")
  printf '%-48s %10.1f %10.1f %6.2fx %9s %9s\n' "$name" "$ours_ms" "$peer_ms" \
    "$(python3 -c "print($ours_ms / $peer_ms)")" "$(peak "$ours")" "$(peak "$peer")"
  i=$((i + 1))
done
