#!/usr/bin/env bash
# Configures and builds one configuration: scripts/build.sh [normal|asan]
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:-normal}
case "$kind" in
  normal) dir=build; extra=() ;;
  asan) dir=build-asan; extra=(-DTANDOR_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug) ;;
  *) echo "build: unknown configuration $kind" >&2; exit 2 ;;
esac
cmake -S . -B "$dir" -G Ninja "${extra[@]}" >/dev/null
ninja -C "$dir" >/dev/null || ninja -C "$dir"
echo "$dir"
