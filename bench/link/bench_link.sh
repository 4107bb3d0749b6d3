#!/usr/bin/env bash
# vtbox against a simulated device that behaves as a printer on a LAN (a
# delay before every FTP and box service reply, a bandwidth per data
# connection): backup, restore into an emptied device, restore in replace
# mode over itself, and one document restored; and the same backup by lftp's
# mirror (an FTP client of its own) with its defaults and with --parallel=4
# where the device allows four data connections. Per run: wall time, FTP
# commands and box service requests per document (the device's counts), the
# link floor and the ratio to it. See README.md for the floor.
#
#   bench/link/bench_link.sh [options]
#     --build DIR          build folder with cli/vtbox and devicesim/vtbox-devicesim (default build-bench)
#     --boxes N --folders N --docs N --pages N --page-kb N
#                          the seeded store (default 1, 4, 100, 2, 16: 500 documents of 2 pages)
#     --latency "MS..."    the delays per reply measured (default "2 10")
#     --rate-kbps N        bandwidth per data connection (default 40000: 40 Mbit/s)
#     --connections N      also a backup, a restore and a replace over N FTP connections
#                          (VTBOX_FTP_CONNECTIONS) while the device allows N data connections at once
#                          (default 4; 1: none)
#     --rounds N           the restore and replace rows N times in turn (default 1), to tell a
#                          difference between them from the machine's noise
#     --vtbox-args "..."   more options for every vtbox run
#     --no-lftp            leave the lftp runs out
#     --no-restore         leave the restore runs out (the backups alone)
#     --no-single          leave the one-connection backup out (with --no-restore: the backup over
#                          --connections alone, for large stores), and the one-connection restore
#                          and replace (their backup is still made)
set -euo pipefail
build=build-bench
boxes=1 folders=4 docs=100 pages=2 page_kb=16
latencies="2 10" rate=40000 extra="" with_lftp=1 with_restore=1 with_single=1 connections=4 rounds=1
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2; shift 2 ;;
    --boxes) boxes=$2; shift 2 ;;
    --folders) folders=$2; shift 2 ;;
    --docs) docs=$2; shift 2 ;;
    --pages) pages=$2; shift 2 ;;
    --page-kb) page_kb=$2; shift 2 ;;
    --latency) latencies=$2; shift 2 ;;
    --rate-kbps) rate=$2; shift 2 ;;
    --vtbox-args) extra=$2; shift 2 ;;
    --connections) connections=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --no-lftp) with_lftp=0; shift ;;
    --no-restore) with_restore=0; shift ;;
    --no-single) with_single=0; shift ;;
    *) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2; exit 2 ;;
  esac
done
root=$(cd "$(dirname "$0")/../.." && pwd)
case $build in /*) ;; *) build="$root/$build" ;; esac
sim="$build/devicesim/vtbox-devicesim"
vtbox="$build/cli/vtbox"
[ -x "$sim" ] && [ -x "$vtbox" ] || { echo "build vtbox and vtbox_devicesim in $build first" >&2; exit 2; }
[ "$with_lftp" = 0 ] || command -v lftp >/dev/null || { echo "no lftp (scripts/install-deps installs it); or --no-lftp" >&2; exit 2; }
work=$(mktemp -d)
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

"$sim" --store "$work/store" --seed --boxes "$boxes" --folders "$folders" --docs "$docs" --pages "$pages" \
  --page-kb "$page_kb" --address 127.0.0.1 --http-port 0 --ftp-port 0 --password admin >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 1 600); do grep -q '^ftp dialect' "$work/sim.out" 2>/dev/null && break; sleep 0.1; done
http=$(sed -n 's/^http port //p' "$work/sim.out")
ftp=$(sed -n 's/^ftp port //p' "$work/sim.out")
[ -n "$ftp" ] || { cat "$work/sim.out" >&2; exit 1; }

export VTBOX_PASSWORD=admin
control() { curl -sf "http://127.0.0.1:$http/devicesim/$1" >/dev/null; }
count() { curl -s "http://127.0.0.1:$http/devicesim/counts" | sed -n "s/^$1 //p"; }
page() { curl -s "http://127.0.0.1:$http/VaultraBox/$1"; }
sid() { page boxnwConnect | sed -n 's:.*<WebSessionID>\([0-9]*\)<.*:\1:p'; }
empty_device() {
  local s; s=$(sid)
  page "Admin/boxnwDeleteAllBox?SID=$s&PWD=admin" >/dev/null
  page "boxnwDisconnect?SID=$s" >/dev/null || true
}
docs_on_device() { find "$work/store/SHR/BOX/DATA" -name 'D0000???.XML' | wc -l; }
load() { cut -d' ' -f1 /proc/loadavg; }

# What a document is made of, from the seeded store: its files (record, pages,
# thumbnail; the status file is not data) and the bytes of them all.
ndocs=$(docs_on_device)
nfiles=$(find "$work/store/SHR/BOX/DATA" -type f ! -name '*.STS' -path '*/D0000???*' | wc -l)
bytes=$(find "$work/store/SHR/BOX/DATA" -type f ! -name '*.STS' -path '*/D0000???*' -printf '%s\n' |
  awk '{ s += $1 } END { print s + 0 }')
per_doc_files=$((nfiles / ndocs))
# The fewest delayed replies a document costs on one connection (README.md):
# every file one transfer (data address, 150, 226: 3 replies); a backup lists
# the document's folder (3); a restore makes it (MKD, 1), writes CREATE.STS
# before and UNLOCK.STS after the files (3 each), deletes CREATE.STS (1) and
# tells the box service (1); replace also deletes the old document (1).
min_backup=$((3 * per_doc_files + 3))
min_restore=$((3 * per_doc_files + 3 + 3 + 3))
min_replace=$((min_restore + 1))
echo "store: $ndocs documents of $per_doc_files files, $((bytes / 1024)) KB of data;" \
  "LAN model: $latencies ms per reply, $rate kbit/s per data connection; load $(load)"
echo "fewest replies a document waits for: backup $min_backup, restore $min_restore, replace $min_replace"
cp -a "$work/store/SHR" "$work/pristine"

# floor DOCS REPLIES LATENCY: seconds of bytes over the bandwidth plus replies x latency.
floor() {
  awk -v d="$1" -v r="$2" -v l="$3" -v b="$bytes" -v n="$ndocs" -v k="$rate" \
    'BEGIN { printf "%.2f", b * d / n * 8 / (k * 1000) + d * r * l / 1000 }'
}
# row LABEL SECONDS DOCS FLOOR
row() {
  local ftp_cmds box_reqs
  ftp_cmds=$(count ftp-commands) box_reqs=$(count box-requests)
  awk -v l="$1" -v s="$2" -v d="$3" -v f="$4" -v c="$ftp_cmds" -v b="$box_reqs" -v ld="$(load)" 'BEGIN {
    printf "  %-28s %8.2f s  %6.2f FTP + %5.2f box per document  floor %7.2f s  ratio %5.2f  load %s\n",
      l, s, c / d, b / d, f, (f > 0 ? s / f : 0), ld }'
  curl -s "http://127.0.0.1:$http/devicesim/counts" | grep '^ftp-command \|^box-request ' |
    awk -v d="$3" '{ printf "%s %s %.2f  ", $1 == "ftp-command" ? "" : "box", $2, $3 / d } END { print "" }' |
    sed 's/^/      /' >>"$work/detail"
}
timed() {  # LABEL COMMAND...: seconds in $work/secs
  local label=$1; shift
  control clear-records
  /usr/bin/time -f "%e" -o "$work/secs" "$@" >"$work/out" 2>&1 || { echo "$label failed:" >&2; tail -5 "$work/out" >&2; exit 1; }
}
lftp_mirror() {  # PARALLEL
  local s login
  s=$(sid)
  login=$(page "Admin/boxnwCreateFTPAccount?SID=$s&PWD=admin" | sed -n 's:.*<LoginName>\([^<]*\)<.*:\1:p')
  rm -rf "$work/mirror" && mkdir -p "$work/mirror"
  control clear-records
  /usr/bin/time -f "%e" -o "$work/secs" lftp -c "set ftp:passive-mode off;
    set ftp:ssl-allow no; set net:max-retries 1; open -u $login,admin -p $ftp 127.0.0.1; mirror --parallel=$1 /SHR/BOX/DATABASE $work/mirror/DATABASE;
    mirror --parallel=$1 /SHR/BOX/DATA $work/mirror/DATA" >"$work/out" 2>&1 ||
    { echo "lftp failed:" >&2; tail -5 "$work/out" >&2; }
  local got; got=$(find "$work/mirror/DATA" -name 'D0000???.XML' | wc -l)
  [ "$got" = "$ndocs" ] || echo "  (lftp mirrored $got of $ndocs documents)"
  page "Admin/boxnwDeleteFTPAccount?SID=$s&PWD=admin" >/dev/null
  page "boxnwDisconnect?SID=$s" >/dev/null || true
}
secs() { cat "$work/secs"; }

dev=(--host 127.0.0.1 --port "$http" --ftp-port "$ftp")
# shellcheck disable=SC2206
more=($extra)
all=$(seq -s, 1 "$boxes")
for lat in $latencies; do
  rm -rf "$work/store/SHR" && cp -a "$work/pristine" "$work/store/SHR"
  control "lan?latency-ms=$lat&rate-kbps=$rate&max-data-connections=0"
  : >"$work/detail"
  echo "$lat ms per reply:"
  if [ "$with_single" = 1 ] || [ "$with_restore" = 1 ]; then
    timed backup "$vtbox" "${dev[@]}" "${more[@]}" backup --boxes "$all" --output "$work/b.zip"
    row "vtbox backup" "$(secs)" "$ndocs" "$(floor "$ndocs" "$min_backup" "$lat")"
  fi
  if [ "$connections" -gt 1 ]; then
    # The floor of N connections is the floor over N: each waits its share.
    control "lan?max-data-connections=$connections"
    timed backup env VTBOX_FTP_CONNECTIONS="$connections" "$vtbox" "${dev[@]}" "${more[@]}" backup --boxes "$all" \
      --output "$work/b$connections.zip"
    row "vtbox backup, $connections connections" "$(secs)" "$ndocs" \
      "$(awk -v f="$(floor "$ndocs" "$min_backup" "$lat")" -v n="$connections" 'BEGIN { printf "%.2f", f / n }')"
    control "lan?max-data-connections=0"
  fi
  if [ "$with_lftp" = 1 ]; then
    lftp_mirror 1
    row "lftp mirror" "$(secs)" "$ndocs" "$(floor "$ndocs" "$min_backup" "$lat")"
    control "lan?max-data-connections=4"
    lftp_mirror 4
    row "lftp mirror --parallel=4" "$(secs)" "$ndocs" \
      "$(awk -v f="$(floor "$ndocs" "$min_backup" "$lat")" 'BEGIN { printf "%.2f", f / 4 }')"
    control "lan?max-data-connections=0"
  fi
  if [ "$with_restore" = 0 ]; then
    echo "  commands per document, by verb (each row above in turn):"
    cat "$work/detail"
    continue
  fi
  # restore_rows N: a restore into an emptied device and a replace over
  # itself over N connections; the floor of N is the floor over N.
  restore_rows() {
    local n=$1 label="" env=() restore_secs
    if [ "$n" -gt 1 ]; then
      label=", $n connections" env=(env VTBOX_FTP_CONNECTIONS="$n")
      control "lan?max-data-connections=$n"
    fi
    empty_device
    timed restore "${env[@]}" "$vtbox" "${dev[@]}" "${more[@]}" restore -i "$work/b.zip" --boxes "$all" --mode replace
    [ "$(docs_on_device)" = "$ndocs" ] || { echo "the restore left $(docs_on_device) of $ndocs documents" >&2; exit 1; }
    row "vtbox restore (emptied)$label" "$(secs)" "$ndocs" \
      "$(awk -v f="$(floor "$ndocs" "$min_restore" "$lat")" -v n="$n" 'BEGIN { printf "%.2f", f / n }')"
    restore_secs=$(secs)
    timed replace "${env[@]}" "$vtbox" "${dev[@]}" "${more[@]}" restore -i "$work/b.zip" --boxes "$all" --mode replace
    [ "$(docs_on_device)" = "$ndocs" ] || { echo "the replace left $(docs_on_device) of $ndocs documents" >&2; exit 1; }
    row "vtbox replace over itself$label" "$(secs)" "$ndocs" \
      "$(awk -v f="$(floor "$ndocs" "$min_replace" "$lat")" -v n="$n" 'BEGIN { printf "%.2f", f / n }')"
    awk -v a="$(secs)" -v b="$restore_secs" -v l="replace / restore$label" 'BEGIN { printf "  %-28s %8.2f\n", l, a / b }'
    control "lan?max-data-connections=0"
  }
  for _ in $(seq 1 "$rounds"); do
    [ "$with_single" = 0 ] || restore_rows 1
    [ "$connections" -le 1 ] || restore_rows "$connections"
  done
  timed one "$vtbox" "${dev[@]}" "${more[@]}" restore -i "$work/b.zip" --only 1/D1 --mode replace
  row "vtbox one document" "$(secs)" 1 "$(floor 1 "$min_replace" "$lat")"
  echo "  commands per document, by verb (each row above in turn):"
  cat "$work/detail"
done
