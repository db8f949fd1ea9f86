#!/usr/bin/env bash
# Installs what is missing, builds the normal and the sanitizer configuration and runs
# every test of both inside the test harness. Ends with "N passed, N failed".
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh || exit 1
passed=0
failed=0
rc=0
for kind in normal asan; do
  echo "== $kind build"
  dir=$(bash scripts/build.sh "$kind") || { echo "build of $kind failed"; rc=1; failed=$((failed + 1)); continue; }
  out=$(mktemp)
  bash tests/harness.sh "$dir" "$@" | tee "$out"
  r=${PIPESTATUS[0]}
  [ "$r" -ne 0 ] && rc=1
  line=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$out" | tail -1)
  rm -f "$out"
  passed=$((passed + ${line%% passed*}))
  f=${line#*passed, }
  failed=$((failed + ${f%% failed*}))
done
echo "$passed passed, $failed failed"
exit "$rc"
