#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for SECONDS (default 30),
# NB_FUZZ_JOBS of them at a time (default: one per core).
#   scripts/fuzz.sh [SECONDS [TARGET ...]]      e.g. scripts/fuzz.sh 600 control_lines
# NB_FUZZ_PRESET picks the tree: `fuzz` (default; optimised, for long runs)
# or `asan` (the unoptimised sanitizer tree CI has built already).
# New inputs go to build-<preset>/fuzz-found/<target>/ (the checked-in seeds
# in fuzz/corpus/<target>/ are only read); a finding is saved as
# build-<preset>/crash-* and ends the script with status 1 after the others
# ran.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
[ $# -gt 0 ] && shift
jobs="${NB_FUZZ_JOBS:-$(nproc)}"
preset="${NB_FUZZ_PRESET:-fuzz}"
tree="build-$preset"
mapfile -t all_targets < <(grep -o '"nb_fuzz_[a-z_]*"' CMakePresets.json | tr -d '"')
started=$(date +%s)
cmake --preset "$preset" >/dev/null
cmake --build "$tree" -j "$(nproc)" --target "${all_targets[@]}"
built=$(date +%s)

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=("${all_targets[@]#nb_fuzz_}")
fi
mkdir -p "$tree/fuzz-logs"

# One target's run; its exit status is kept beside its log.
fuzz_one() {
  local name="$1" found="$tree/fuzz-found/$1" log="$tree/fuzz-logs/$1.log"
  local seeds=()
  mkdir -p "$found"
  [ -d "fuzz/corpus/$name" ] && seeds=("fuzz/corpus/$name")
  # -timeout: an input that takes this long is a hang, and a finding.
  local status=0
  "$tree/nb_fuzz_$name" -max_total_time="$seconds" -timeout=20 -print_final_stats=1 \
    -artifact_prefix="$tree/" "$found" "${seeds[@]}" >"$log" 2>&1 || status=$?
  echo "$status" >"$tree/fuzz-logs/$name.status"
}

for name in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
  fuzz_one "$name" &
done
wait

failed=()
printf '%-20s %12s %10s  %s\n' target executions "per second" result
for name in "${targets[@]}"; do
  log="$tree/fuzz-logs/$name.log"
  result=ok
  if [ "$(cat "$tree/fuzz-logs/$name.status")" != 0 ]; then
    result="FAILED (see $log)"
    failed+=("$name")
  fi
  runs=$(awk '/stat::number_of_executed_units/ {print $2}' "$log")
  rate=$(awk '/stat::average_exec_per_sec/ {print $2}' "$log")
  printf '%-20s %12s %10s  %s\n' "$name" "${runs:-?}" "${rate:-?}" "$result"
done
finished=$(date +%s)
echo "fuzz ($tree): build $((built - started)) s, runs $((finished - built)) s ($jobs at a time)"
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: findings in ${failed[*]}"
  exit 1
fi
