#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang (build-fuzz/) and runs each for the given
# number of seconds on its corpus fuzz/corpus/<target>: scripts/fuzz.sh [seconds, default 30]
# New corpus entries go to a scratch directory, never into the repository; a crash input is
# kept in build-fuzz/artifacts/<target>/. One line per target; exit 1 when any crashed.
set -uo pipefail
cd "$(dirname "$0")/.."
sekunden=${1:-30}
case "$sekunden" in
  '' | *[!0-9]*) echo "usage: scripts/fuzz.sh [seconds per target]" >&2; exit 2 ;;
esac

# The project's packages, then what fuzzing needs by name: clang and the libFuzzer runtime.
bash scripts/setup.sh || exit 1
missing=""
for p in clang libclang-rt-14-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "fuzz: installing:$missing"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q >/dev/null
  # shellcheck disable=SC2086
  $SUDO apt-get install -y -q --no-install-recommends $missing >/dev/null || exit 1
fi

dir=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DTANDOR_FUZZ=ON >/dev/null || exit 1
ninja -C "$dir" -j2 fuzzers >/dev/null || { ninja -C "$dir" -j1 fuzzers; exit 1; }

scratch=$(mktemp -d /tmp/tandorfuzz.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
rc=0
for quelle in fuzz/*_fuzz.cpp; do
  ziel=$(basename "$quelle" .cpp)
  neu="$scratch/$ziel"
  artefakte="$PWD/$dir/artifacts/$ziel"
  mkdir -p "$neu" "$artefakte"
  log="$scratch/$ziel.log"
  vorher=$(find "fuzz/corpus/$ziel" -type f 2>/dev/null | wc -l)
  timeout $((sekunden * 2 + 120)) "$dir/fuzz/$ziel" -max_total_time="$sekunden" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artefakte/" \
    "$neu" "fuzz/corpus/$ziel" >"$log" 2>&1
  r=$?
  laeufe=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  gefunden=$(find "$neu" -type f | wc -l)
  if [ "$r" -eq 0 ]; then
    echo "fuzz $ziel: ok, ${laeufe:-?} runs in ${sekunden}s, $vorher seeds, $gefunden new inputs"
  else
    rc=1
    artefakt=$(ls -t "$artefakte" 2>/dev/null | head -1)
    echo "fuzz $ziel: FAILED (exit $r), input: $artefakte/${artefakt:-?}"
    grep -E "check failed|ERROR:|runtime error|SUMMARY" "$log" | head -5 | sed 's/^/    /'
  fi
done
exit "$rc"
