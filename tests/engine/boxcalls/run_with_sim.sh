#!/usr/bin/env bash
# Starts the simulated device on free loopback ports with a seeded store,
# runs a client program against it (host and port as arguments) and stops
# the device again, whatever happens.
set -u
sim="$1"; shift
work=$(mktemp -d)
cleanup() {
  [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
"$sim" --store "$work/store" --seed --address 127.0.0.1 --http-port 0 --ftp-port 0 --password admin \
  >"$work/out" 2>"$work/err" &
pid=$!
for _ in $(seq 1 100); do
  grep -q '^ftp port' "$work/out" 2>/dev/null && break
  sleep 0.1
done
port=$(sed -n 's/^http port \([0-9]*\)$/\1/p' "$work/out")
if [ -z "$port" ]; then
  echo "the simulated device did not start:"; cat "$work/err"; exit 1
fi
"$@" 127.0.0.1 "$port"
