#!/usr/bin/env bash
# Runs ctest for one build directory inside a private desktop: Xvfb, openbox, a tray host
# (trayer) and a PulseAudio daemon with a pipe sink, each with its sockets and files in a
# scratch directory. Stops exactly what it started, by pid.
#   tests/harness.sh BUILD_DIR [ctest arguments...]
# Prints the ctest output and ends with the line "N passed, N failed".
set -u
build=${1:?build directory}
shift
W=$(mktemp -d /tmp/tandor-harness-XXXXXX)
pids=()

stop_all() {
  local p
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$p" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$p" 2>/dev/null
    wait "$p" 2>/dev/null
  done
  rm -rf "$W"
}
trap stop_all EXIT
trap 'exit 130' INT TERM

wait_for() { # path tries
  local i
  for i in $(seq "${2:-100}"); do [ -e "$1" ] && return 0; sleep 0.1; done
  return 1
}

# A display number that nobody uses.
disp=""
for n in $(seq 91 190); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then disp=$n; break; fi
done
Xvfb ":$disp" -screen 0 1024x768x24 -nolisten tcp >"$W/xvfb.log" 2>&1 &
pids+=($!)
wait_for "/tmp/.X11-unix/X$disp" 100 || { echo "harness: Xvfb did not start"; cat "$W/xvfb.log"; }
export DISPLAY=":$disp"

mkdir -p "$W/home" "$W/runtime"
chmod 700 "$W/runtime"
HOME="$W/home" openbox --sm-disable >"$W/openbox.log" 2>&1 &
pids+=($!)
trayer --edge top --align right --widthtype pixel --width 120 --height 24 \
  --SetDockType true --transparent false >"$W/trayer.log" 2>&1 &
pids+=($!)

mkfifo "$W/sink.fifo"
HOME="$W/home" XDG_RUNTIME_DIR="$W/runtime" pulseaudio -n --daemonize=no --exit-idle-time=-1 \
  --disallow-exit --use-pid-file=no \
  -L "module-native-protocol-unix socket=$W/runtime/native auth-anonymous=1" \
  -L "module-pipe-sink sink_name=pipe file=$W/sink.fifo format=s16le rate=20000 channels=1 use_system_clock_for_timing=yes" \
  >"$W/pulse.log" 2>&1 &
pids+=($!)
wait_for "$W/runtime/native" 100 || { echo "harness: PulseAudio did not start"; cat "$W/pulse.log"; }
export PULSE_SERVER="unix:$W/runtime/native"
export TANDOR_SINK_FIFO="$W/sink.fifo"

ctest --test-dir "$build" --output-on-failure -j"${TANDOR_TEST_JOBS:-3}" "$@" 2>&1 | tee "$W/ctest.log"
rc=${PIPESTATUS[0]}
total=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\2/p' "$W/ctest.log" | tail -1)
failed=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\1/p' "$W/ctest.log" | tail -1)
total=${total:-0}
failed=${failed:-0}
[ "$total" -eq 0 ] && [ "$rc" -ne 0 ] && failed=1
echo "$((total - failed)) passed, $failed failed"
exit "$rc"
