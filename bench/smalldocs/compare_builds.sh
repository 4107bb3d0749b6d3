#!/usr/bin/env bash
# vtbox backup of one two builds against the other on the same simulated
# device, interleaved round by round, with the floor (tar | pigz -p2 of the
# store's own tree) in every round. Checks that the two backups hold the
# same entries (tests/support/list_backup.py: names, order, methods,
# attributes, sizes, CRCs), that vtbox verify and Python's zipfile pass every
# level of both, and Info-ZIP the two outer ones.
#
#   bench/smalldocs/compare_builds.sh BEFORE_BUILD AFTER_BUILD [BOXES] [FOLDERS] [DOCS] [PAGE_KB] [ROUNDS]
#
# Defaults: 3 boxes x (top level + 3 folders) x 125 documents of one 20 KB
# page (1,500 documents), 3 rounds. The device comes from AFTER_BUILD.
set -euo pipefail
before=$(cd "$1" && pwd)
after=$(cd "$2" && pwd)
boxes=${3:-3}
folders=${4:-3}
docs=${5:-125}
page_kb=${6:-20}
rounds=${7:-3}
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

"$after/devicesim/vtbox-devicesim" --store "$work/store" --seed --boxes "$boxes" --folders "$folders" --docs "$docs" \
  --pages 1 --page-kb "$page_kb" --address 127.0.0.1 --http-port 0 --ftp-port 0 --password admin >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 1 600); do grep -q '^ftp port' "$work/sim.out" 2>/dev/null && break; sleep 0.1; done
http=$(sed -n 's/^http port //p' "$work/sim.out")
ftp=$(sed -n 's/^ftp port //p' "$work/sim.out")
ndocs=$(find "$work/store/SHR/BOX/DATA" -name 'D0000???.XML' | wc -l)
echo "store: $ndocs documents, $(du -sm "$work/store/SHR/BOX" | cut -f1) MB; load: $(cut -d' ' -f1-3 /proc/loadavg)"
export VTBOX_PASSWORD=admin
all=$(seq -s, 1 "$boxes")

measure() {  # label, command... -> appends "secs kb user sys" to $work/<label>
  local label=$1; shift
  /usr/bin/time -f "%e %M %U %S" -o "$work/time" "$@" >/dev/null 2>"$work/err" || { cat "$work/err"; exit 1; }
  read -r secs kb user sys <"$work/time"
  printf '  %-22s %7.2f s  %5.2f s user %5.2f s system %7d KB peak   load %s\n' "$label" "$secs" "$user" "$sys" "$kb" \
    "$(cut -d' ' -f1 /proc/loadavg)"
  echo "$secs $kb $user $sys" >>"$work/$label"
}
backup() {  # build label
  rm -f "$work/$2.zip"
  measure "$2" "$1/cli/vtbox" --host 127.0.0.1 --port "$http" --ftp-port "$ftp" backup --boxes "$all" --output "$work/$2.zip"
}
floor() { tar -cf - -C "$work/store" SHR | pigz -p2 >"$work/floor.tgz"; }
export -f floor
export work

for round in $(seq 1 "$rounds"); do
  echo "round $round"
  if [ $((round % 2)) = 1 ]; then backup "$before" before; backup "$after" after; else backup "$after" after; backup "$before" before; fi
  measure floor bash -c floor
  if [ "$round" = 1 ]; then
    python3 "$root/tests/support/list_backup.py" "$work/before.zip" | cut -d'|' -f1-9 >"$work/before.list"
    python3 "$root/tests/support/list_backup.py" "$work/after.zip" | cut -d'|' -f1-9 >"$work/after.list"
    cmp -s "$work/before.list" "$work/after.list" || { echo "the two backups differ:"; diff "$work/before.list" "$work/after.list" | head; exit 1; }
    for b in before after; do
      "$after/cli/vtbox" verify "$work/$b.zip" >/dev/null || { echo "vtbox verify refuses the $b backup"; exit 1; }
      python3 "$root/tests/support/unpack_backup.py" "$work/$b.zip" "$work/unpacked-$b" >/dev/null
      rm -rf "$work/unpacked-$b"
      unzip -tq "$work/$b.zip" >/dev/null
      unzip -p "$work/$b.zip" 'BOX?DATA.zip' >"$work/data.zip" && unzip -tq "$work/data.zip" >/dev/null
    done
    echo "  same entries in both ($(wc -l <"$work/after.list") lines); verify, Python and unzip -t pass both"
  fi
done

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
col() { cut -d' ' -f"$2" "$work/$1" | median; }
echo "medians over $rounds rounds (load now: $(cut -d' ' -f1-3 /proc/loadavg)):"
for l in before after floor; do
  printf '  %-8s %7.2f s  user %5.2f s  system %5.2f s  peak %d KB\n' "$l" "$(col "$l" 1)" "$(col "$l" 3)" \
    "$(col "$l" 4)" "$(cut -d' ' -f2 "$work/$l" | sort -n | tail -1)"
done
awk -v b="$(col before 1)" -v a="$(col after 1)" -v f="$(col floor 1)" \
  -v bc="$(col before 3) $(col before 4)" -v ac="$(col after 3) $(col after 4)" 'BEGIN {
  split(bc, x, " "); split(ac, y, " ")
  printf "after / before %.2f (processor time %.2f)   before / floor %.2f   after / floor %.2f\n",
    a / b, (y[1] + y[2]) / (x[1] + x[2]), b / f, a / f }'
