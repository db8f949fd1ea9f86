#!/bin/sh
# Runs a command in a private network (call it inside "unshare -n -m", as root): loopback
# up, IPv6 off so that no stray packets move the interface counters, a private /run for
# pid files, and the stand-in pppd first on PATH with its control directory.
#   unshare -n -m sh scripts/privatenet.sh TOOLBIN CONTROLDIR -- COMMAND [ARG]...
# TOOLBIN holds the stand-in "pppd"; CONTROLDIR becomes PPPDSIM_DIR.
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
exec "$@"
