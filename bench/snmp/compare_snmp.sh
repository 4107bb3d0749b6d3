#!/usr/bin/env bash
# vtbox-snmp against net-snmp's own tools on a local snmpd: the same 20
# scalar elements read (vtbox-snmp get vs one snmpget of the 20 objects) and
# one table walked (vtbox-snmp walk ifTable vs snmpwalk of ifTable). Wall
# time of each and their ratio, in one run.
#
#   bench/snmp/compare_snmp.sh [BUILD_DIR]
#
# The snmpd is our own, on 127.0.0.1 and a free port, with a generated
# configuration; it is stopped at the end.
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/../.." && pwd)
tool="$root/$build/snmpprovider/vtbox-snmp"
work=$(mktemp -d)
snmpd_pid=""
cleanup() {
  [ -n "$snmpd_pid" ] && kill "$snmpd_pid" 2>/dev/null && wait "$snmpd_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
export MIBS= MIBDIRS=/nonexistent VTBOX_REGISTRY_DIR="$work/registry"

port=$(python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
address="127.0.0.1:$port"
echo "rocommunity public 127.0.0.1" >"$work/snmpd.conf"
snmpd=$(command -v snmpd || echo /usr/sbin/snmpd)
SNMP_PERSISTENT_DIR="$work/persist" "$snmpd" -f -C -c "$work/snmpd.conf" -Lf "$work/snmpd.log" "udp:$address" &
snmpd_pid=$!
for _ in $(seq 1 100); do snmpget -v1 -c public -t 0.2 -r 0 "$address" 1.3.6.1.2.1.1.5.0 >/dev/null 2>&1 && break; sleep 0.1; done

names=(sysDescr sysObjectID sysUpTime sysContact sysName sysLocation sysORLastChange hrSystemUptime hrSystemDate
       hrSystemNumUsers hrSystemProcesses hrSystemMaxProcesses hrMemorySize ifNumber ipForwarding ipDefaultTTL
       udpInDatagrams udpNoPorts snmpInPkts snmpOutPkts)
oids=(1.3.6.1.2.1.1.1.0 1.3.6.1.2.1.1.2.0 1.3.6.1.2.1.1.3.0 1.3.6.1.2.1.1.4.0 1.3.6.1.2.1.1.5.0 1.3.6.1.2.1.1.6.0
      1.3.6.1.2.1.1.8.0 1.3.6.1.2.1.25.1.1.0 1.3.6.1.2.1.25.1.2.0 1.3.6.1.2.1.25.1.5.0 1.3.6.1.2.1.25.1.6.0
      1.3.6.1.2.1.25.1.7.0 1.3.6.1.2.1.25.2.2.0 1.3.6.1.2.1.2.1.0 1.3.6.1.2.1.4.1.0 1.3.6.1.2.1.4.2.0
      1.3.6.1.2.1.7.1.0 1.3.6.1.2.1.7.2.0 1.3.6.1.2.1.11.1.0 1.3.6.1.2.1.11.2.0)

"$tool" register >/dev/null  # registration is a one-time step, not part of a read

seconds() {  # command... : prints the wall time of one run
  local start end
  start=$(date +%s.%N)
  "$@" >"$work/out" 2>&1 || { cat "$work/out"; exit 1; }
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f", b - a }'
}

get_ours=$(seconds "$tool" get --address "$address" "${names[@]}")
[ "$(grep -c '' "$work/out")" -eq 21 ] || { echo "vtbox-snmp did not read all 20"; cat "$work/out"; exit 1; }
get_peer=$(seconds snmpget -v1 -c public "$address" "${oids[@]}")
walk_ours=$(seconds "$tool" walk --address "$address" ifTable)
rows_ours=$(($(grep -c '' "$work/out") - 1))
walk_peer=$(seconds snmpwalk -v1 -c public "$address" 1.3.6.1.2.1.2.2)
values_peer=$(grep -c '' "$work/out")

printf '%-44s %8.3f s\n' "vtbox-snmp get, 20 elements (20 requests)" "$get_ours"
printf '%-44s %8.3f s   ratio %.2f\n' "snmpget, the same 20 objects (1 request)" "$get_peer" "$(awk -v a="$get_ours" -v b="$get_peer" 'BEGIN { print a / b }')"
printf '%-44s %8.3f s   (%d rows)\n' "vtbox-snmp walk ifTable" "$walk_ours" "$rows_ours"
printf '%-44s %8.3f s   ratio %.2f (%d values)\n' "snmpwalk ifTable" "$walk_peer" "$(awk -v a="$walk_ours" -v b="$walk_peer" 'BEGIN { print a / b }')" "$values_peer"
