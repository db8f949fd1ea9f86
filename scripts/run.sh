#!/usr/bin/env bash
# Installs what is missing, builds tandor and starts it on its built-in default: the
# bundled modem simulator (a Huawei stick with the SIM PIN 1234) in a scratch working
# directory, whose ini file asks tandor to find the port (COM=?), to unlock the SIM with
# the PIN of the file and to list the networks (NET=?). As root the simulator is published
# as /dev/ttyUSB7 in a private /dev and found by the port search; otherwise its pty is
# given as the port. Without a display it runs tandor under a private Xvfb, saves a
# screenshot every few seconds (the status line shows the road) and the logs, and ends it
# in order with SIGTERM if it still runs.
#   scripts/run.sh [seconds to run without a display, default 60]
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh || exit 1
dir=$(bash scripts/build.sh normal) || exit 1
work=$(mktemp -d /tmp/tandor-run-XXXXXX)
echo "run: working directory $work"

"$dir/tools/modemsim" --type 3 --pin 1234 --transcript "$work/modem-transcript.txt" \
  >"$work/modemsim.out" 2>&1 &
spid=$!
for _ in $(seq 50); do grep -q '^port ' "$work/modemsim.out" 2>/dev/null && break; sleep 0.1; done
port=$(sed -n 's/^port //p' "$work/modemsim.out")
[ -n "$port" ] || { echo "run: the modem simulator did not start"; exit 1; }
echo "run: modem simulator on $port"
launch=()
if [ "$(id -u)" = 0 ] && command -v unshare >/dev/null; then
  com="?"
  launch=(unshare -m /bin/sh scripts/privatedev.sh "$work/hostdev" ttyUSB7 "$port" --)
else
  com="$port"
fi
printf '%s\n' "01 0AA000000000-0000000000001-0000000000000000000000000" "MOD=P" "COM=$com" \
  "PIN=1234" "NET=?" "LAN=English" >"$work/tandor.ini"
args=("CONN" "DIR=$work")
trap 'kill "$spid" 2>/dev/null' EXIT

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  "${launch[@]}" "$dir/tandor" "${args[@]}"
  exit $?
fi

echo "run: no display here; starting tandor under a private Xvfb instead."
secs=${1:-60}
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
"${launch[@]}" "$dir/tandor" "${args[@]}" >"$work/tandor.out" 2>&1 &
tpid=$!
for i in $(seq -w 1 $((secs / 3))); do
  sleep 3
  kill -0 "$tpid" 2>/dev/null || break
  import -window root "$work/screenshot-$i.png" 2>/dev/null
done
ls "$work"/screenshot-*.png >/dev/null 2>&1 && echo "run: screenshots $work/screenshot-*.png"
kill -TERM "$tpid" 2>/dev/null
for _ in $(seq 300); do kill -0 "$tpid" 2>/dev/null || break; sleep 0.1; done
wait "$tpid"
echo "run: tandor ended with status $?"
kill "$opid" "$xpid" 2>/dev/null
wait "$opid" "$xpid" 2>/dev/null
echo "---- tandor.ini (what the modem filled in)"
grep -E '^(04|08|12|13) ' "$work/tandor.ini"
for f in servilog.txt connlog.txt; do
  [ -f "$work/$f" ] && { echo "---- $f"; tail -n 30 "$work/$f"; }
done
