#!/usr/bin/env bash
# Time and peak memory of the commands that read or write a backup, at
# growing sizes of one kind of store, on the simulated device on loopback:
# backup, restore into an emptied device, its dry run, ls, ls --json, find,
# verify, diff and extract. Prints each command's wall time, time per document and
# peak resident memory, size by size, and the load.
#
#   bench/scale/bench_scale.sh [BUILD_DIR] [SIZES...]
#
# A size is a number of documents of one 4 KB page: 1000 is one box of a top
# level and 4 folders of 200; 4000 is one box of a top level and 9 folders
# of 400; 16000 is four such boxes. Defaults: build-bench, 1000 4000 16000.
set -euo pipefail
build=${1:-build-bench}
shift || true
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1000 4000 16000)
root=$(cd "$(dirname "$0")/../.." && pwd)
sim="$root/$build/devicesim/vtbox-devicesim"
vtbox="$root/$build/cli/vtbox"
work=$(mktemp -d)
sim_pid=""
stop_sim() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  sim_pid=""
}
trap 'stop_sim; rm -rf "$work"' EXIT
export VTBOX_PASSWORD=admin

layout() {  # documents -> "boxes folders docs-per-level"
  case $1 in
    1000) echo "1 4 200" ;;
    4000) echo "1 9 400" ;;
    16000) echo "4 9 400" ;;
    *) echo "unknown size $1 (1000, 4000 or 16000)" >&2; exit 2 ;;
  esac
}

printf '%-16s %7s %9s %11s %10s   %s\n' command docs seconds "ms/doc" "peak MB" load
run() {  # label docs command...
  local label=$1 docs=$2; shift 2
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >"$work/out" 2>"$work/err" || {
    echo "$label failed:"; tail -5 "$work/err"; exit 1; }
  read -r secs kb <"$work/time"
  awk -v l="$label" -v n="$docs" -v s="$secs" -v k="$kb" -v load="$(cut -d' ' -f1 /proc/loadavg)" \
    'BEGIN { printf "%-16s %7d %9.2f %11.3f %10.1f   %s\n", l, n, s, 1000 * s / n, k / 1024, load }'
}

for n in "${sizes[@]}"; do
  read -r boxes folders docs <<<"$(layout "$n")"
  rm -rf "$work/store" "$work/b.zip"
  "$sim" --store "$work/store" --seed --boxes "$boxes" --folders "$folders" --docs "$docs" --pages 1 --page-kb 4 \
    --address 127.0.0.1 --http-port 0 --ftp-port 0 --password admin >"$work/sim.out" 2>&1 &
  sim_pid=$!
  for _ in $(seq 1 600); do grep -q '^ftp port' "$work/sim.out" 2>/dev/null && break; sleep 0.1; done
  http=$(sed -n 's/^http port //p' "$work/sim.out")
  ftp=$(sed -n 's/^ftp port //p' "$work/sim.out")
  dev=(--host 127.0.0.1 --port "$http" --ftp-port "$ftp")
  seeded=$(find "$work/store/SHR/BOX/DATA" -name 'D0000???.XML' | wc -l)
  [ "$seeded" = "$n" ] || { echo "the store holds $seeded documents, not $n"; exit 1; }

  run backup "$n" "$vtbox" "${dev[@]}" backup --boxes all --output "$work/b.zip"
  run ls "$n" "$vtbox" ls "$work/b.zip"
  run "ls --json" "$n" "$vtbox" ls --json "$work/b.zip"
  run find "$n" "$vtbox" find "$work/b.zip" "*-1*"
  run verify "$n" "$vtbox" verify --input "$work/b.zip"
  run diff "$n" "$vtbox" "${dev[@]}" diff "$work/b.zip"
  mapfile -t chosen < <(ls "$work/store/SHR/BOX/DATA" | sed -n 's/^B0*\([0-9][0-9]*\)$/\1/p')
  run extract "$n" "$vtbox" extract "$work/b.zip" "${chosen[@]}" -o "$work/x"
  rm -rf "$work/x"
  s=$(curl -s "http://127.0.0.1:$http/VaultraBox/boxnwConnect" | sed -n 's:.*<WebSessionID>\([0-9]*\)<.*:\1:p')
  curl -s "http://127.0.0.1:$http/VaultraBox/Admin/boxnwDeleteAllBox?SID=$s&PWD=admin" >/dev/null
  curl -s "http://127.0.0.1:$http/VaultraBox/boxnwDisconnect?SID=$s" >/dev/null || true
  run "restore plan" "$n" "$vtbox" "${dev[@]}" restore --dry-run --input "$work/b.zip" --boxes all --mode keep-both
  run restore "$n" "$vtbox" "${dev[@]}" restore --input "$work/b.zip" --boxes all --mode keep-both
  restored=$(find "$work/store/SHR/BOX/DATA" -name 'D0000???.XML' | wc -l)
  [ "$restored" = "$n" ] || { echo "the restore left $restored of $n documents"; exit 1; }
  stop_sim
done
