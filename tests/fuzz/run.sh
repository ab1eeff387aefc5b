#!/usr/bin/env bash
# Builds the fuzz harnesses (clang's libFuzzer with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each one for a while, starting from
# its committed seeds and regression inputs.
#
#   tests/fuzz/run.sh [SECONDS-PER-HARNESS] [BUILD-DIR] [HARNESS...]
#
# SECONDS defaults to 60, BUILD-DIR to build-fuzz in the source tree, and the
# harnesses to all of tests/fuzz/*_fuzzer.cpp. A unit that crashes, trips a
# sanitizer, throws anything but the program's own Error, runs over 5 s or
# takes over 2 GB is a finding: its reproducer is kept under
# BUILD-DIR/fuzz-findings/<harness>/ (and shown in base64 for CI logs), and
# the script exits 1 after the summary. The inputs libFuzzer adds to the
# corpus while it runs are scratch and go away at the end; to keep one, copy
# it into tests/fuzz/regressions/<harness>/, which the test run replays.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
seconds=${1:-60}
build=${2:-$root/build-fuzz}
shift $(($# < 2 ? $# : 2))
case $seconds in '' | *[!0-9]*) echo "run.sh: seconds per harness must be a whole number, not '$seconds'" >&2; exit 2 ;; esac

if ! command -v clang++ >/dev/null; then
  echo "run.sh: clang++ is needed (Debian package clang)" >&2
  exit 2
fi

if [ $# -gt 0 ]; then
  harnesses=("$@")
else
  harnesses=()
  for f in "$here"/*_fuzzer.cpp; do
    n=$(basename "$f" .cpp)
    harnesses+=("${n%_fuzzer}")
  done
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/qv_fuzz_run.XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT TERM
mkdir -p "$work/tmp"

build_start=$SECONDS
if ! { CXX=clang++ cmake -S "$root" -B "$build" -DQV_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
       cmake --build "$build" -j2; } >"$work/build.log" 2>&1; then
  tail -n 40 "$work/build.log"
  echo "run.sh: the fuzz build failed" >&2
  exit 2
fi
echo "fuzz build: $((SECONDS - build_start)) s"

findings=0
summary=()
for h in "${harnesses[@]}"; do
  exe="$build/${h}_fuzzer"
  if [ ! -x "$exe" ]; then
    echo "run.sh: no harness '$h' ($exe)" >&2
    exit 2
  fi
  corpus="$work/corpus/$h"
  artifacts="$work/artifacts/$h"
  mkdir -p "$corpus" "$artifacts"
  for kind in corpus regressions; do
    if [ -d "$here/$kind/$h" ]; then cp -rp "$here/$kind/$h"/. "$corpus"/; fi
  done
  log="$work/$h.log"
  keep="$build/fuzz-findings/$h"
  rm -rf "$keep"
  status=0
  # The harnesses' scratch folders live in $work/tmp, so that even a unit that
  # crashes leaves nothing behind; no standard input for the runs they start.
  TMPDIR="$work/tmp" "$exe" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 -print_final_stats=1 \
    -dict="$here/fuzz.dict" -artifact_prefix="$artifacts/" "$corpus" </dev/null >"$log" 2>&1 || status=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  execs=${execs:-?}
  result=ok
  if [ "$status" -ne 0 ] || [ -n "$(ls -A "$artifacts")" ]; then
    result="FINDING (exit $status)"
    findings=$((findings + 1))
    mkdir -p "$keep"
    cp -rp "$artifacts"/. "$keep"/
    cp -p "$log" "$keep/fuzzer.log"
    echo "=== $h: finding; log and reproducer kept in $keep"
    grep -E "ERROR|runtime error|terminate called|what\(\)|Finding|SUMMARY|#[0-9]+ 0x" "$log" | head -n 40 || true
    for a in "$artifacts"/*; do
      [ -f "$a" ] || continue
      echo "--- reproducer $keep/$(basename "$a") ($(stat -c %s "$a") bytes), base64:"
      head -c 65536 "$a" | base64 -w 100
    done
  fi
  summary+=("$(printf '%-20s %8s s %12s %10s   %s' "$h" "$seconds" "$execs" \
    "$([ "$execs" != "?" ] && [ "$seconds" -gt 0 ] && echo $((execs / seconds)) || echo '?')" "$result")")
done

echo
printf '%-20s %10s %12s %10s   %s\n' harness time executions "per second" result
for line in "${summary[@]}"; do echo "$line"; done
if [ "$findings" -gt 0 ]; then
  echo "reproducers under $build/fuzz-findings/"
fi
echo "fuzz: $((${#harnesses[@]} - findings)) passed, $findings failed"
[ "$findings" -eq 0 ]
