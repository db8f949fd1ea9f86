#!/bin/sh
# Runs a command in a private network (call it inside "unshare -n -m", as root): loopback
# up, IPv6 off so that no stray packets move the interface counters, a private /run for
# pid files, and the stand-in pppd first on PATH with its control directory.
#   unshare -n -m sh scripts/privatenet.sh TOOLBIN CONTROLDIR -- COMMAND [ARG]...
# TOOLBIN holds the stand-in "pppd" and "httpsim"; CONTROLDIR becomes PPPDSIM_DIR.
#
# With HTTPSIM_PAGES set to a directory, the web stand-in httpsim serves it on port 80 of
# 127.0.0.1 (with its name server on UDP 53 and the silent proxy on 4201), logging every
# request to CONTROLDIR/httpsim.log, and a private /etc/hosts and /etc/resolv.conf make
# the names of HTTPSIM_NAMES (default: the wiki, the web site, the operator's speed-option
# host and compression proxy below) resolve to 127.0.0.1 and send every other lookup to
# httpsim, which answers NXDOMAIN (or 127.0.0.1 for "dns.tandor.example" and the names).
# httpsim ends with COMMAND.
set -e
bin="$1"; ctl="$2"; shift 2
[ "$1" = "--" ] && shift
ip link set lo up
echo 1 >/proc/sys/net/ipv6/conf/all/disable_ipv6
echo 1 >/proc/sys/net/ipv6/conf/default/disable_ipv6
# pppd's pid file lands in /var/run (a link to /run): keep the host's /run untouched.
mount -t tmpfs -o mode=755 tmpfs /run
PATH="$bin:$PATH"
PPPDSIM_DIR="$ctl"
export PATH PPPDSIM_DIR

if [ -n "${HTTPSIM_PAGES:-}" ]; then
  names=${HTTPSIM_NAMES:-"wiki.tandor.example tandor.example www.tandor.example speed.operator.example proxy.operator.example"}
  # The scratch files live on the private /run and vanish with this mount namespace.
  mkdir -p /run/tandor-net
  printf '127.0.0.1 localhost\n127.0.0.1 %s\n' "$names" >/run/tandor-net/hosts
  printf 'nameserver 127.0.0.1\noptions timeout:1 attempts:2\n' >/run/tandor-net/resolv.conf
  mount --bind /run/tandor-net/hosts /etc/hosts
  mount --bind /run/tandor-net/resolv.conf /etc/resolv.conf
  rm -f "$ctl/httpsim.pid"
  # It ends when this process (which becomes COMMAND) ends.
  "$bin/httpsim" --pages "$HTTPSIM_PAGES" --names "dns.tandor.example $names" \
    --log "$ctl/httpsim.log" --pidfile "$ctl/httpsim.pid" --parent $$ \
    >"$ctl/httpsim.out" 2>&1 </dev/null &
  i=0
  while [ ! -s "$ctl/httpsim.pid" ]; do
    i=$((i + 1))
    if [ "$i" -gt 100 ] || ! kill -0 $! 2>/dev/null; then
      echo "privatenet: httpsim did not start" >&2
      cat "$ctl/httpsim.out" >&2
      exit 1
    fi
    sleep 0.1
  done
fi
exec "$@"
