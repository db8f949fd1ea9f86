#!/usr/bin/env bash
# Builds tandor and runs the four benchmarks against the modem simulator (as root: private
# /dev and network), under a private Xvfb and openbox, then prints one table: benchmark,
# figure, goal, and the machine line with its load average. The figures are measurements
# on a shared machine: read them with the load printed beside them.
#   scripts/bench.sh [--full] [--realistic] [--sms] [--ussd]
#                    [start|reaction|footprint|accounting|services|ussd ...]
# Without --full the runs are scaled down (1 start per modem kind, 3 reactions each way,
# 60 s footprint, accounting up to 300 MB each way per step) and say so. --realistic runs the
# start benchmark against a simulator that answers like a real stick. --ussd (or ussd) runs the
# USSD benchmark: the network's answer to the result, and the cycle beside the code dialog.
set -uo pipefail
cd "$(dirname "$0")/.."
full=""
realistic=""
which=()
for a in "$@"; do
  case "$a" in
    --full) full="--full" ;;
    --realistic) realistic="--realistic" ;;
    --sms) realistic="$realistic --sms" ;;
    --ussd) which+=(ussd) ;;
    *) which+=("$a") ;;
  esac
done
[ ${#which[@]} -eq 0 ] && which=(start reaction footprint accounting services)
[ "$(id -u)" = 0 ] || { echo "bench: needs root (private /dev and network namespaces)"; exit 1; }
bash scripts/setup.sh >/dev/null || exit 1
dir=$(bash scripts/build.sh normal) || exit 1
ninja -C "$dir" tandorbench >/dev/null || exit 1
W=$(mktemp -d /tmp/tandor-bench-desk-XXXXXX)
pids=()
stop_all() {
  local p
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
  rm -rf "$W"
}
trap stop_all EXIT
trap 'exit 130' INT TERM
disp=""
for n in $(seq 91 190); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then disp=$n; break; fi
done
Xvfb ":$disp" -screen 0 1024x768x24 -nolisten tcp >"$W/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$disp" ] && break; sleep 0.1; done
export DISPLAY=":$disp"
mkdir -p "$W/home"
HOME="$W/home" openbox --sm-disable >"$W/openbox.log" 2>&1 &
pids+=($!)
# A tray host, so that the footprint run's icons are embedded and drawn.
trayer --edge top --align right --widthtype pixel --width 120 --height 24 \
  --SetDockType true --transparent false >"$W/trayer.log" 2>&1 &
pids+=($!)
sleep 1

rc=0
for b in "${which[@]}"; do
  echo "==== $b"
  "$dir/bench/tandorbench" "$dir" "$b" $full $realistic | tee "$W/$b.out" | grep -v '^RESULT|\|^MACHINE|'
  [ "${PIPESTATUS[0]}" = 0 ] || rc=1
done
echo
echo "| benchmark | figure | goal |"
echo "|---|---|---|"
cat "$W"/*.out 2>/dev/null | sed -n 's/^RESULT|\([^|]*\)|\([^|]*\)|\(.*\)$/| \1 | \2 | \3 |/p'
echo
echo "machine: $(sed -n 's/^MACHINE|//p' "$W/${which[0]}.out" | head -1)"
echo "load at the end: $(cat /proc/loadavg)"
exit $rc
