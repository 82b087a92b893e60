#!/usr/bin/env bash
# Runs fuzz targets already built, one after the other, and tabulates them.
#
#   fuzz/run.sh SECONDS [TARGET...]
#
# Each TARGET (default: every fuzz/<target>.cpp) runs for SECONDS as one
# libFuzzer process (-jobs=1 -workers=1) on a scratch copy of its seeds in
# fuzz/corpus/<target>/, which is never written to. Prints a table of
# executions, executions per second, new coverage (edges beyond what the
# seeds reach, and inputs added) and crashes; exits 1 when any target
# crashed (its scratch directory, with the crashing input, is kept and
# named), 2 on a usage error or a target that is not built. Builds nothing:
# the executables come from $TAVOLINK_FUZZ_BUILD (default build-fuzz)/fuzz.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${TAVOLINK_FUZZ_BUILD:-$root/build-fuzz}

usage() {
  echo "usage: fuzz/run.sh SECONDS [TARGET...]" >&2
  exit 2
}
[ $# -ge 1 ] || usage
seconds=$1
shift
[[ "$seconds" =~ ^[1-9][0-9]*$ ]] || usage

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in "$here"/*.cpp; do
    targets+=("$(basename "$source" .cpp)")
  done
fi
for t in "${targets[@]}"; do
  if [ ! -x "$build/fuzz/fuzz_$t" ]; then
    echo "fuzz/run.sh: $build/fuzz/fuzz_$t is not built (cmake --build ${build#"$root"/} -t fuzz_$t)" >&2
    exit 2
  fi
  if [ ! -d "$here/corpus/$t" ]; then
    echo "fuzz/run.sh: no seeds in fuzz/corpus/$t" >&2
    exit 2
  fi
done

# One field of the final statistics, or "?" when the run ended without them.
final_stat() { sed -n "s/^stat::$1: *//p" "$2" | tail -1 | grep . || echo "?"; }
# The edge count of the last status line of a given kind (INITED, DONE, ...).
cov() { sed -n "s/^#[0-9]*[[:space:]]*$1 .*cov: \([0-9]*\).*/\1/p" "$2" | tail -1; }

rows=()
total=0
crashed=0
scratch=""
# An interrupted run leaves no scratch directory behind.
trap 'if [ -n "$scratch" ]; then rm -rf "$scratch"; fi; exit 130' INT TERM
for t in "${targets[@]}"; do
  scratch=$(mktemp -d "${TMPDIR:-/tmp}/tavo-fuzz-$t.XXXXXX")
  mkdir "$scratch/corpus" "$scratch/crashes"
  cp -R "$here/corpus/$t/." "$scratch/corpus/"
  echo "fuzz_$t: ${seconds} s ..." >&2
  status=0
  # With -jobs the one worker's output goes to fuzz-0.log in the directory
  # the fuzzer runs in; that is the scratch directory.
  (cd "$scratch" && "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -jobs=1 -workers=1 \
    -print_final_stats=1 -timeout=20 -artifact_prefix="$scratch/crashes/" corpus \
    > runner.log 2>&1) || status=$?
  log="$scratch/fuzz-0.log"
  [ -f "$log" ] || log="$scratch/runner.log"
  runs=$(final_stat number_of_executed_units "$log")
  speed=$(final_stat average_exec_per_sec "$log")
  added=$(final_stat new_units_added "$log")
  first=$(cov INITED "$log")
  last=$(cov DONE "$log")
  [ -n "$last" ] || last=$(sed -n 's/.*cov: \([0-9]*\).*/\1/p' "$log" | tail -1)
  edges="?"
  if [ -n "$first" ] && [ -n "$last" ]; then
    edges="+$((last - first)) edges"
  fi
  crashes=$(find "$scratch/crashes" -type f | wc -l)
  if [ "$status" -ne 0 ] && [ "$crashes" -eq 0 ]; then
    crashes=1  # the process failed without leaving an input
  fi
  if [[ "$runs" =~ ^[0-9]+$ ]]; then
    total=$((total + runs))
  fi
  rows+=("$(printf '%-18s %12s %9s %24s %8s' "$t" "$runs" "$speed" "$edges, +$added inputs" "$crashes")")
  if [ "$crashes" -gt 0 ]; then
    crashed=1
    echo "fuzz_$t: CRASH, kept in $scratch (log: $log)" >&2
  else
    rm -rf "$scratch"
  fi
  scratch=""
done

printf '%-18s %12s %9s %24s %8s\n' target executions exec/s "new coverage" crashes
printf '%s\n' "${rows[@]}"
printf '%-18s %12s\n' total "$total"
exit "$crashed"
