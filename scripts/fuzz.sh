#!/usr/bin/env bash
# Builds the libFuzzer targets (the fuzz preset, clang with ASan and UBSan)
# and runs each for SECONDS (default 30), one after the other.
#   scripts/fuzz.sh [SECONDS [TARGET ...]]      e.g. scripts/fuzz.sh 600 control_lines
# New inputs go to build-fuzz/fuzz-found/<target>/ (the checked-in seeds in
# fuzz/corpus/<target>/ are only read); a finding is saved as
# build-fuzz/crash-* and ends the script with status 1 after the others ran.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
[ $# -gt 0 ] && shift
started=$(date +%s)
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j 2
built=$(date +%s)

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  mapfile -t targets < <(grep -o '"nb_fuzz_[a-z_]*"' CMakePresets.json | tr -d '"' | sed 's/^nb_fuzz_//')
fi
mkdir -p build-fuzz/fuzz-logs
failed=()
printf '%-20s %12s %10s  %s\n' target executions "per second" result
for name in "${targets[@]}"; do
  found="build-fuzz/fuzz-found/$name"
  mkdir -p "$found"
  seeds=()
  [ -d "fuzz/corpus/$name" ] && seeds=("fuzz/corpus/$name")
  log="build-fuzz/fuzz-logs/$name.log"
  result=ok
  # -timeout: an input that takes this long is a hang, and a finding.
  if ! "build-fuzz/nb_fuzz_$name" -max_total_time="$seconds" -timeout=20 -print_final_stats=1 \
       -artifact_prefix=build-fuzz/ "$found" "${seeds[@]}" >"$log" 2>&1; then
    result="FAILED (see $log)"
    failed+=("$name")
  fi
  runs=$(awk '/stat::number_of_executed_units/ {print $2}' "$log")
  rate=$(awk '/stat::average_exec_per_sec/ {print $2}' "$log")
  printf '%-20s %12s %10s  %s\n' "$name" "${runs:-?}" "${rate:-?}" "$result"
done
finished=$(date +%s)
echo "fuzz: build $((built - started)) s, runs $((finished - built)) s"
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: findings in ${failed[*]}"
  exit 1
fi
