#!/usr/bin/env bash
# Installs what is missing, builds tandor and starts it on its built-in default: the
# command port "NONE" (the AT layer's simulation mode) in a scratch working directory.
# Without a display it runs tandor under a private Xvfb for a while, saves a screenshot
# and the logs, and ends it in order with SIGTERM.
#   scripts/run.sh [seconds to run without a display, default 30]
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh || exit 1
dir=$(bash scripts/build.sh normal) || exit 1
work=$(mktemp -d /tmp/tandor-run-XXXXXX)
echo "run: working directory $work"
args=("CONN" "DIR=$work" "COM=NONE" "MOD=P")

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  exec "$dir/tandor" "${args[@]}"
fi

echo "run: no display here; starting tandor under a private Xvfb instead."
secs=${1:-30}
disp=""
for n in $(seq 91 190); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then disp=$n; break; fi
done
Xvfb ":$disp" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xpid=$!
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$disp" ] && break; sleep 0.1; done
export DISPLAY=":$disp"
openbox --sm-disable >"$work/openbox.log" 2>&1 &
opid=$!
"$dir/tandor" "${args[@]}" >"$work/tandor.out" 2>&1 &
tpid=$!
sleep "$secs"
import -window root "$work/screenshot.png" 2>/dev/null && echo "run: screenshot $work/screenshot.png"
kill -TERM "$tpid" 2>/dev/null
for _ in $(seq 300); do kill -0 "$tpid" 2>/dev/null || break; sleep 0.1; done
wait "$tpid"
echo "run: tandor ended with status $?"
kill "$opid" "$xpid" 2>/dev/null
wait "$opid" "$xpid" 2>/dev/null
for f in servilog.txt connlog.txt; do
  [ -f "$work/$f" ] && { echo "---- $f"; tail -n 30 "$work/$f"; }
done
