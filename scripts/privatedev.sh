#!/bin/sh
# Runs a command with a private /dev (call it inside "unshare -m", as root): a tmpfs with
# the usual nodes, the pty and shm directories of the host, and symbolic links to chosen
# devices, so tandor can search /dev/ttyUSB9..0 for a simulated modem while the host's
# /dev stays untouched.
#   unshare -m sh scripts/privatedev.sh ASIDE [NAME TARGET]... -- COMMAND [ARG]...
# ASIDE is an empty directory where the host's /dev is kept visible meanwhile; each NAME
# (such as ttyUSB7 or serial/by-id/usb-...) becomes a link below /dev to TARGET.
set -e
H="$1"; shift
mkdir -p "$H"
mount --rbind /dev "$H"
mount -t tmpfs -o mode=755 tmpfs /dev
for n in null zero urandom random tty full; do
  touch /dev/$n; mount --bind "$H/$n" /dev/$n
done
if [ -L "$H/ptmx" ]; then ln -s pts/ptmx /dev/ptmx; else touch /dev/ptmx; mount --bind "$H/ptmx" /dev/ptmx; fi
# The TUN device, for a stand-in pppd that makes ppp0.
if [ -c "$H/net/tun" ]; then mkdir /dev/net; touch /dev/net/tun; mount --bind "$H/net/tun" /dev/net/tun; fi
for d in pts shm; do
  if [ -d "$H/$d" ]; then mkdir /dev/$d; mount --rbind "$H/$d" /dev/$d; fi
done
while [ "$1" != "--" ]; do
  mkdir -p "$(dirname "/dev/$1")"
  ln -s "$2" "/dev/$1"
  shift 2
done
shift
exec "$@"
