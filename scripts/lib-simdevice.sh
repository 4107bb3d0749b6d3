# Shared by scripts/utility-demo and scripts/screenshots (sourced, not run):
# starts seeded simulated devices on loopback and stops them again.
#
#   sim_start NAME ADDRESS HTTP_PORT [devicesim options...]
#       starts vtbox-devicesim with its store in $work/NAME; HTTP_PORT 0 picks
#       a free one. Sets SIM_HTTP_PORT and SIM_FTP_PORT.
#   sim_stop_all
#       stops every device started so far (call it from an EXIT trap).
#
# Needs $work (a scratch folder) and $build (the build folder).

sim_pids=()

sim_start() {
  local name=$1 address=$2 http_port=$3
  shift 3
  local log="$work/$name.log"
  "$build/devicesim/vtbox-devicesim" --store "$work/$name" --seed --address "$address" \
    --http-port "$http_port" --ftp-port 0 "$@" >"$log" 2>&1 &
  sim_pids+=($!)
  local i
  for i in $(seq 1 100); do
    if grep -q '^ftp port' "$log"; then
      SIM_HTTP_PORT=$(sed -n 's/^http port //p' "$log")
      SIM_FTP_PORT=$(sed -n 's/^ftp port //p' "$log")
      return 0
    fi
    if ! kill -0 "${sim_pids[-1]}" 2>/dev/null; then break; fi
    sleep 0.1
  done
  echo "the simulated device $name did not start:" >&2
  cat "$log" >&2
  return 1
}

sim_stop_all() {
  local pid
  for pid in "${sim_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  sim_pids=()
}
