#!/usr/bin/env bash
# Installs what is missing, builds tandor and starts it on its built-in default: the
# bundled modem simulator (a Huawei stick with the SIM PIN 1234) in a scratch working
# directory, whose ini file asks tandor to find the port (COM=?), to unlock the SIM with
# the PIN of the file and to connect automatically on the default data port (empty CON=).
# As root the simulator is published as /dev/ttyUSB7 (found by the port search) and as
# /dev/ttyUSB0 (the data port) in a private /dev, and tandor runs in a private network
# where the bundled stand-in pppd dials with the real chat and makes ppp0; without root
# only the modem's side can be shown (its pty is given as a single port, no connection).
# Without a display it runs tandor under a private Xvfb, sends some traffic through ppp0
# once connected, saves a screenshot every few seconds, then closes the window as a user
# would (SIGTERM only if that fails) and prints the header counters and the logs.
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
  cona="SE"
  mkdir -p "$work/pppd"
  launch=(unshare -n -m /bin/sh scripts/privatedev.sh "$work/hostdev" ttyUSB7 "$port"
    ttyUSB0 "$port" -- /bin/sh scripts/privatenet.sh "$PWD/$dir/tools/bin" "$work/pppd" --)
else
  echo "run: not root: no private /dev and network, so no connection is made;"
  echo "run: tandor only finds the modem on its pty and shows network and signal."
  com="$port;NONE"
  cona="E"
fi
# Volume and time are kept across runs (periods end on the 1st) and rounded to 1 kB and
# 1 minute; closing the window ends tandor without asking (ENDM=1).
printf '%s\n' "01 0AA000000000-0000000000001-0000000000000000000000000" "MOD=PIJ" "COM=$com" \
  "PIN=1234" "NET=" "APN=internet.t-mobile" "CONA=$cona" "CON=" "DAY=01;01" "RND=1;1" \
  "ENDM=1" "LAN=English" >"$work/tandor.ini"
args=("CONN" "DIR=$work")
trap 'kill "$spid" 2>/dev/null' EXIT

# The port search writes the ports it found into tandor.ini and ends tandor, as a first
# start does; the simulated stick has one port for commands and data, which the second
# start is told (";NONE"), so tandor lets the dial-up have the line while connected.
singleport() {
  grep -q '^08 COM=/dev/ttyUSB7' "$work/tandor.ini" || return 1
  sed -i 's|^08 COM=.*|08 COM=/dev/ttyUSB7;NONE|' "$work/tandor.ini"
  echo "run: the port search found the modem: $(grep '^08 ' "$work/tandor.ini"); starting again"
}

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  if [ "$com" = "?" ]; then
    "${launch[@]}" "$dir/tandor" "${args[@]}"
    singleport || exit 1
  fi
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
if [ "$com" = "?" ]; then
  timeout 90 "${launch[@]}" "$dir/tandor" "${args[@]}" >"$work/tandor-search.out" 2>&1
  import -window root "$work/screenshot-search.png" 2>/dev/null
  singleport || { echo "run: the port search found no modem"; kill "$opid" "$xpid"; exit 1; }
fi
"${launch[@]}" "$dir/tandor" "${args[@]}" >"$work/tandor.out" 2>&1 &
tpid=$!
sent=""
for i in $(seq -w 1 $((secs / 3))); do
  sleep 3
  kill -0 "$tpid" 2>/dev/null || break
  if [ -z "$sent" ] && grep -q "Connection established." "$work/servilog.txt" 2>/dev/null; then
    # 40 datagrams of 1,000 bytes in through the stand-in, 30 of 500 bytes out of ppp0.
    echo "rx 40 1000" >"$work/pppd/traffic"
    nsenter --net="/proc/$tpid/ns/net" bash -c \
      'for n in $(seq 30); do printf "%0500d" 0 >/dev/udp/10.64.64.1/9; done' 2>/dev/null
    sent=1
    echo "run: connected; traffic sent through ppp0"
  fi
  import -window root "$work/screenshot-$i.png" 2>/dev/null
done
ls "$work"/screenshot-*.png >/dev/null 2>&1 && echo "run: screenshots $work/screenshot-*.png"
if [ -n "$sent" ]; then
  read -r rx tx < <(nsenter --net="/proc/$tpid/ns/net" awk -F'[: ]+' \
    '$2 == "ppp0" { print $3, $11 }' /proc/net/dev 2>/dev/null)
  echo "run: the kernel counted ${rx:-?} bytes in and ${tx:-?} bytes out on ppp0"
fi
# Closing the main window ends tandor; SIGTERM only when it does not.
win=$(xdotool search --onlyvisible --pid "$tpid" --name '^tandor' 2>/dev/null | head -1)
[ -n "$win" ] && wmctrl -i -c "$(printf '0x%08x' "$win")" 2>/dev/null
for _ in $(seq 300); do kill -0 "$tpid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$tpid" 2>/dev/null; then
  echo "run: the window close did not end tandor; sending SIGTERM"
  kill -TERM "$tpid" 2>/dev/null
  for _ in $(seq 300); do kill -0 "$tpid" 2>/dev/null || break; sleep 0.1; done
else
  echo "run: tandor ended after its window was closed"
fi
wait "$tpid"
echo "run: tandor ended with status $?"
kill "$opid" "$xpid" 2>/dev/null
wait "$opid" "$xpid" 2>/dev/null
echo "---- tandor.ini: header (volume kB at 6..14, online minutes at 31..36) and ports"
head -1 "$work/tandor.ini"
grep -E '^(08|17) ' "$work/tandor.ini"
echo "---- servilog.txt (the road; the whole log is in $work)"
grep -E 'COM-port found|Single port|Permitted to connect|Connecting via|Connection (name|established)|Closing command port|Reopening|tandor (started|terminated)' \
  "$work/servilog.txt" 2>/dev/null
echo "---- connlog.txt"
tail -n 30 "$work/connlog.txt" 2>/dev/null
