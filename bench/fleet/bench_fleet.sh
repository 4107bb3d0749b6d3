#!/usr/bin/env bash
# vtbox fleet backup of many simulated devices that behave as printers on a
# LAN (a latency per reply, a bandwidth per data connection), with --jobs 1, 4
# and 8: wall time, total MB/s, peak memory of the fleet process and of one
# device's vtbox process; then the fleet process's peak memory at two fleet
# sizes, to show whether it grows with the number of devices.
#
#   bench/fleet/bench_fleet.sh [options]
#     --build DIR          build folder with cli/vtbox and devicesim/vtbox-devicesim (default build-bench)
#     --devices N          devices of the timed runs (default 40)
#     --jobs "J..."        the --jobs values timed (default "1 4 8")
#     --scale "N..."       fleet sizes of the memory runs, small devices, --jobs 8 (default "40 200"; "" none)
#     --boxes N --folders N --docs N --pages N --page-kb N
#                          seed of each device of the timed runs (default 2, 1, 50, 1, 16: 200 documents)
#     --latency-ms N       the devices' delay per reply (default 2)
#     --rate-kbps N        their bandwidth per data connection (default 40000: 40 Mbit/s)
#     --start-only         start the devices, write the inventory, check that every device answers and
#                          that the inventory reads as TOML (and passes vtbox fleet check), print it, stop
#
# Devices listen on 127.0.0.2 and up, each on free ports; one whose address
# cannot be bound runs on 127.0.0.1. Each has a password of its own, given to
# the fleet in a password file per device (mode 600). The state folder and the
# backups are in a temporary folder removed at the end.
#
# Memory: /usr/bin/time -v wraps the fleet; its "Maximum resident set size" is
# the kernel's figure over the fleet and its reaped children, so the largest
# device job shows there too. peak_rss.py samples the fleet process's own
# VmHWM and every device process's VmHWM from /proc every 50 ms (see there).
set -euo pipefail
build=build-bench
devices=40
jobs_list="1 4 8"
scale_list="40 200"
boxes=2 folders=1 docs=50 pages=1 page_kb=16
latency=2 rate=40000
start_only=0
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2; shift 2 ;;
    --devices) devices=$2; shift 2 ;;
    --jobs) jobs_list=$2; shift 2 ;;
    --scale) scale_list=$2; shift 2 ;;
    --boxes) boxes=$2; shift 2 ;;
    --folders) folders=$2; shift 2 ;;
    --docs) docs=$2; shift 2 ;;
    --pages) pages=$2; shift 2 ;;
    --page-kb) page_kb=$2; shift 2 ;;
    --latency-ms) latency=$2; shift 2 ;;
    --rate-kbps) rate=$2; shift 2 ;;
    --start-only) start_only=1; shift ;;
    *) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2; exit 2 ;;
  esac
done
root=$(cd "$(dirname "$0")/../.." && pwd)
here="$root/bench/fleet"
case $build in /*) ;; *) build="$root/$build" ;; esac
sim="$build/devicesim/vtbox-devicesim"
vtbox="$build/cli/vtbox"
[ -x "$sim" ] || { echo "no $sim: build vtbox_devicesim first" >&2; exit 2; }
work=$(mktemp -d)
pids=()
declare -A pid_of
stop_devices() {
  local p
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  pids=()
}
cleanup() {
  stop_devices
  rm -rf "$work"
}
trap cleanup EXIT

load() { cut -d' ' -f1 /proc/loadavg; }

launch() {  # name address: one device, seeded with ${seed[@]}
  "$sim" --store "$work/dev/$1" --seed "${seed[@]}" --address "$2" --http-port 0 --ftp-port 0 \
    --password "pw-$1" --latency-ms "$latency" --rate-kbps "$rate" >"$work/dev/$1.out" 2>&1 &
  pids+=($!)
  pid_of[$1]=$!
}

# start_devices N SEED_OPTIONS...: devices dev-001 .. dev-N in $work/dev,
# listed as "name address http-port ftp-port" in $work/devices.
start_devices() {
  local n=$1; shift
  local i name addr out
  seed=("$@")
  rm -rf "$work/dev" "$work/pw" && mkdir -p "$work/dev" "$work/pw"
  : >"$work/devices"
  for i in $(seq 1 "$n"); do
    name=$(printf 'dev-%03d' "$i")
    addr=127.0.0.$((i + 1))
    [ $((i + 1)) -le 254 ] || addr=127.0.0.1
    launch "$name" "$addr"
    echo "$name $addr" >>"$work/launched"
  done
  while read -r name addr; do
    out="$work/dev/$name.out"
    for _ in $(seq 1 600); do
      grep -q '^ftp dialect' "$out" 2>/dev/null && break
      if ! kill -0 "${pid_of[$name]}" 2>/dev/null; then  # could not listen there: loopback's own address
        [ "$addr" = 127.0.0.1 ] && { cat "$out" >&2; exit 1; }
        addr=127.0.0.1
        launch "$name" "$addr"
      fi
      sleep 0.1
    done
    grep -q '^ftp dialect' "$out" || { echo "$name did not start" >&2; cat "$out" >&2; exit 1; }
    printf 'pw-%s\n' "$name" >"$work/pw/$name.password"
    chmod 600 "$work/pw/$name.password"
    echo "$name $addr $(sed -n 's/^http port //p' "$out") $(sed -n 's/^ftp port //p' "$out")" >>"$work/devices"
  done <"$work/launched"
  rm -f "$work/launched"
}

# write_inventory FILE JOBS: the fleet of $work/devices, in the fleet's TOML.
write_inventory() {
  {
    echo "# $(wc -l <"$work/devices") simulated devices on a LAN model: ${latency} ms per reply, ${rate} kbit/s"
    echo "[defaults]"
    echo "backup-root = \"$work/backups\""
    echo "password-file = \"$work/pw/%n.password\""
    echo "boxes = \"all\""
    echo "retries = 0"
    echo "timeout = 60"
    echo
    echo "[fleet]"
    echo "jobs = $2"
    while read -r name addr http ftp; do
      echo
      echo "[[device]]"
      echo "name = \"$name\""
      echo "host = \"$addr\""
      echo "port = $http"
      echo "ftp-port = $ftp"
    done <"$work/devices"
  } >"$1"
}

store_bytes() { du -sbc "$work"/dev/dev-*/SHR/BOX | tail -1 | cut -f1; }

# run_fleet LABEL JOBS: one fleet backup of $work/fleet.toml; prints a row.
run_fleet() {
  local label=$1 jobs=$2 rc=0 before after
  rm -rf "$work/backups" "$work/state" && mkdir -p "$work/backups" "$work/state"
  before=$(load)
  env -u STATE_DIRECTORY XDG_STATE_HOME="$work/state" PATH="$build/cli:$PATH" \
    python3 "$here/peak_rss.py" "$work/peaks" -- /usr/bin/time -v -o "$work/time" \
    "$vtbox" fleet backup "$work/fleet.toml" --jobs "$jobs" >"$work/run-$label.log" 2>&1 || rc=$?
  after=$(load)
  local wall tree_kb fleet_kb dev_kb dev_med files bytes
  wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time" |
    awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s }')
  tree_kb=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time")
  fleet_kb=$(sed -n 's/^fleet_peak_kb //p' "$work/peaks")
  dev_kb=$(sed -n 's/^device_peak_kb //p' "$work/peaks")
  dev_med=$(sed -n 's/^device_median_kb //p' "$work/peaks")
  files=$(find "$work/backups" -type f -name '*.zip' | wc -l)
  bytes=$(store_bytes)
  awk -v l="$label" -v w="$wall" -v b="$bytes" -v t="$tree_kb" -v f="$fleet_kb" -v d="$dev_kb" -v m="$dev_med" \
    -v n="$files" -v rc="$rc" -v l0="$before" -v l1="$after" 'BEGIN {
      printf "%-12s %8.1f s %8.1f MB/s  fleet %6.1f MB (time -v %6.1f MB)  device %6.1f MB (median %5.1f)  %3d files  exit %d  load %s-%s\n",
        l, w, b / 1048576 / w, f / 1024, t / 1024, d / 1024, m / 1024, n, rc, l0, l1 }'
  [ "$rc" -eq 0 ] || { echo "  (fleet exit $rc; last lines of its output:)"; tail -5 "$work/run-$label.log" | sed 's/^/  /'; }
}

seed_full=(--boxes "$boxes" --folders "$folders" --docs "$docs" --pages "$pages" --page-kb "$page_kb")
start_devices "$devices" "${seed_full[@]}"
write_inventory "$work/fleet.toml" 4
ndocs=$(find "$work/dev/dev-001/SHR/BOX/DATA" -name 'D0000???.XML' | wc -l)
echo "$devices devices on $(cut -d' ' -f2 "$work/devices" | sort -u | wc -l) addresses," \
  "$ndocs documents and $(($(store_bytes) / devices / 1024)) KB each, $(($(store_bytes) / 1048576)) MB in all;" \
  "LAN model ${latency} ms per reply, ${rate} kbit/s per data connection; load $(load)"

if [ "$start_only" = 1 ]; then
  python3 -c 'import sys, tomllib; d = tomllib.load(open(sys.argv[1], "rb")); print("inventory:", len(d["device"]), "devices")' \
    "$work/fleet.toml"
  # Each device: the polling page, counted once by its control page, and
  # the FTP greeting, on the address and ports the inventory gives.
  answered=0
  while read -r name addr http ftp; do
    curl -s -o /dev/null --max-time 5 "http://$addr:$http/VaultraBox/vtb.asp" || continue
    curl -s --max-time 5 "http://$addr:$http/devicesim/counts" | grep -qx 'box-requests 1' || continue
    exec 3<>"/dev/tcp/$addr/$ftp" && read -r -t 5 greeting <&3 && exec 3<&- || continue
    [[ $greeting == 220* ]] && answered=$((answered + 1))
  done <"$work/devices"
  echo "answered (web service and FTP): $answered of $devices"
  if [ -x "$vtbox" ]; then
    rc=0
    "$vtbox" fleet check "$work/fleet.toml" >"$work/check.out" 2>&1 || rc=$?
    echo "vtbox fleet check: exit $rc"
    [ "$rc" -eq 0 ] || head -3 "$work/check.out"
  fi
  head -20 "$work/fleet.toml"
  exit 0
fi

[ -x "$vtbox" ] || { echo "no $vtbox: build vtbox first" >&2; exit 2; }
for j in $jobs_list; do run_fleet "jobs-$j" "$j"; done
stop_devices

# The fleet process's memory as the fleet grows: small devices, --jobs 8.
for n in $scale_list; do
  start_devices "$n" --boxes 1 --folders 0 --docs 5 --pages 1 --page-kb 4
  write_inventory "$work/fleet.toml" 8
  run_fleet "$n-devices" 8
  stop_devices
done
