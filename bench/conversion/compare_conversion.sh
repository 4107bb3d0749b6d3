#!/usr/bin/env bash
# vtbox convert backup against vtbox backup of the same store: the 300 MB
# store of the backup benchmark is backed up, then the backup file converted
# twice, with every check off and with the wide-paper check on (seeding
# flags about one document in four). Wall time and peak memory of each, and
# the ratio of each conversion to the backup, in one run.
#
#   bench/conversion/compare_conversion.sh [BUILD_DIR] [PAGE_KB]
#
# Defaults: build, 170 (3 boxes x 200 documents x 3 pages of 170 KB: ~300 MB).
set -euo pipefail
build=${1:-build}
page_kb=${2:-170}
root=$(cd "$(dirname "$0")/../.." && pwd)
sim="$root/$build/devicesim/vtbox-devicesim"
vtbox="$root/$build/cli/vtbox"
work=$(mktemp -d)
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

"$sim" --store "$work/store" --seed --boxes 3 --folders 1 --docs 100 --pages 3 --page-kb "$page_kb" \
  --address 127.0.0.1 --http-port 0 --ftp-port 0 --password admin >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 1 600); do grep -q '^ftp port' "$work/sim.out" 2>/dev/null && break; sleep 0.1; done
http=$(sed -n 's/^http port //p' "$work/sim.out")
ftp=$(sed -n 's/^ftp port //p' "$work/sim.out")
files=$(find "$work/store/SHR/BOX" -type f | wc -l)
bytes=$(du -sb "$work/store/SHR/BOX" | cut -f1)
echo "store: $files files, $((bytes / 1048576)) MB"

measure() {  # label, command...
  local label=$1; shift
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >"$work/out" 2>"$work/err" || { cat "$work/err"; exit 1; }
  read -r secs kb <"$work/time"
  printf '%-24s %8.2f s  %8d KB peak\n' "$label" "$secs" "$kb"
  echo "$secs" >"$work/$label.secs"
}

mkdir -p "$work/settings"
cat >"$work/settings/Korvo-B V1.3.0.0.ini" <<'INI'
[Bench-Off V1.0.0.0]
ColorCheck=0
WidePaperCheck=0
CopyCompoundCheck=0
[Bench-Wide V1.0.0.0]
WidePaperCheck=1
INI
export VTBOX_PASSWORD=admin VTBOX_CONVERSION_PATH="$work/settings"

measure backup "$vtbox" --host 127.0.0.1 --port "$http" --ftp-port "$ftp" backup --boxes all --output "$work/b.zip"
measure "convert, checks off" "$vtbox" convert backup "$work/b.zip" "$work/off.zip" --to "Bench-Off V1.0.0.0"
measure "convert, wide paper" "$vtbox" convert backup "$work/b.zip" "$work/wide.zip" --to "Bench-Wide V1.0.0.0"
grep '^  all' "$work/out" | awk '{printf "wide paper: %d kept, %d removed\n", $2, $3}'

ls -l "$work/b.zip" "$work/off.zip" "$work/wide.zip" | awk '{print $5, $9}'
for label in "convert, checks off" "convert, wide paper"; do
  awk -v a="$(cat "$work/$label.secs")" -v b="$(cat "$work/backup.secs")" -v l="$label" \
    'BEGIN { printf "wall-time ratio %s / backup: %.2f\n", l, a / b }'
done
