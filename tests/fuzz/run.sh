#!/usr/bin/env bash
# Builds the fuzz harnesses (clang's libFuzzer with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each one, starting from its committed
# seeds and regression inputs.
#
#   tests/fuzz/run.sh --fixed [BUILD-DIR] [HARNESS...]
#   tests/fuzz/run.sh [SECONDS-PER-HARNESS] [BUILD-DIR] [HARNESS...]
#
# --fixed is the repeatable run of CI: seed 1 and a fixed number of
# executions per harness (the table below, 10 to 40 s of one core each), two
# harnesses at a time, with address-space randomisation off, a fixed scratch
# folder per harness and no mutations taken from the values the code
# compares, so that the same commit makes the same inputs every time and a
# finding in CI comes from the change under test. A unit counts as hung there
# after 30 s, so a slow machine cannot fail it.
#
# Otherwise each harness runs for SECONDS (default 60) with a new random seed,
# one after the other: a search for new findings. A longer search of the
# readers, counted in executions and resumable, is tests/fuzz/campaign.sh.
#
# BUILD-DIR defaults to build-fuzz in the source tree, and the harnesses to
# all that CMakeLists.txt lists. A unit that crashes, trips a sanitizer,
# throws anything but the program's own Error, hangs (over 5 s in a timed
# run) or takes over 2 GB is a finding: its reproducer is kept under
# BUILD-DIR/fuzz-findings/<harness>/ (and shown in base64 for CI logs), and
# the script exits 1 after the summary; the libFuzzer log of every harness
# of the last run is BUILD-DIR/fuzz-logs/<harness>.log. The inputs libFuzzer
# adds to the corpus while it runs are scratch and go away at the end; to
# keep one, copy it into tests/fuzz/regressions/<harness>/, which the test
# run replays.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

# Executions per harness of a --fixed run: 10 to 40 s of one core each on
# the 2-core development machine, about 2 minutes for all, two at a time.
declare -A fixed_runs=(
  [text_reader]=90000 [ascii]=270000 [qel]=160000 [nims]=100000 [fc_reader]=150000
  [decset]=100000 [paths]=80000 [system_parameters]=100000 [response]=120000 [station_run]=15000
)
fixed_seed=1

fixed=0
seconds=60
if [ "${1:-}" = --fixed ]; then
  fixed=1
  shift
elif [ $# -gt 0 ]; then
  seconds=$1
  shift
  case $seconds in '' | *[!0-9]*) echo "run.sh: seconds per harness must be a whole number, not '$seconds'" >&2; exit 2 ;; esac
fi
build=${1:-$root/build-fuzz}
[ $# -gt 0 ] && shift
mkdir -p "$build"
build=$(cd "$build" && pwd)

harnesses=()
if [ $# -gt 0 ]; then
  harnesses=("$@")
fi

# The harnesses make and remove files by the thousand a second, which on a
# disk file system costs more than the parsing: their scratch files go to
# memory (/dev/shm) where it can be had, unless TMPDIR says otherwise.
fast=${TMPDIR:-/tmp}
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then fast=/dev/shm; fi
work=$(mktemp -d "$fast/qv_fuzz_run.XXXXXX")
# A fixed run's scratch folders have fixed names, given by the build folder.
fixed_scratch="$fast/qv_fuzz_fixed_$(printf '%s' "$build" | cksum | cut -d ' ' -f 1)"
trap 'rm -rf "$work" "$fixed_scratch"' EXIT
trap 'exit 130' INT TERM

"$here/build.sh" "$build"

# Every harness the build made (CMakeLists.txt lists them) unless some are named.
if [ ${#harnesses[@]} -eq 0 ]; then
  for f in "$build"/*_fuzzer; do
    n=$(basename "$f")
    harnesses+=("${n%_fuzzer}")
  done
fi

for h in "${harnesses[@]}"; do
  if [ ! -x "$build/${h}_fuzzer" ]; then
    echo "run.sh: no harness '$h' ($build/${h}_fuzzer)" >&2
    exit 2
  fi
  if [ "$fixed" = 1 ] && [ -z "${fixed_runs[$h]:-}" ]; then
    echo "run.sh: no fixed number of executions for the harness '$h' (the table in tests/fuzz/run.sh)" >&2
    exit 2
  fi
done

# The same addresses every time: pointer values reach libFuzzer's table of
# compared values, from which it takes bytes for its mutations.
norandom=()
if [ "$fixed" = 1 ]; then
  if setarch "$(uname -m)" -R true 2>/dev/null; then
    norandom=(setarch "$(uname -m)" -R)
  else
    echo "run.sh: setarch -R is not available here: address-space randomisation stays on" >&2
  fi
fi

# Runs one harness; its summary line goes to $work/$h.summary and its exit
# status, 0 or that of libFuzzer, to $work/$h.status.
fuzz_one() {
  local h=$1
  local corpus="$work/corpus/$h" artifacts="$work/artifacts/$h" log="$work/$h.log" kind status=0 start=$SECONDS
  mkdir -p "$corpus" "$artifacts" "$work/tmp/$h"
  for kind in corpus regressions; do
    if [ -d "$here/$kind/$h" ]; then cp -rp "$here/$kind/$h"/. "$corpus"/; fi
  done
  local args=(-rss_limit_mb=2048 -print_final_stats=1 -dict="$here/fuzz.dict" -artifact_prefix="$artifacts/")
  if [ "$fixed" = 1 ]; then
    # Values the code compares (addresses among them) and the files
    # re-read from the corpus each second would make the inputs depend on
    # the process and the clock: neither steers a fixed run. A slow unit is
    # no finding there either.
    args+=(-seed="$fixed_seed" -runs="${fixed_runs[$h]}" -timeout=30 -report_slow_units=100000
           -use_cmp=0 -use_memmem=0 -reload=0)
  else
    args+=(-max_total_time="$seconds" -timeout=5)
  fi
  # Scratch files of the harness live in $work, so that even a unit that
  # crashes leaves nothing behind; no standard input for the runs it starts.
  local scratch=()
  if [ "$fixed" = 1 ]; then
    rm -rf "$fixed_scratch/$h"
    scratch=(QV_FUZZ_SCRATCH="$fixed_scratch/$h")
  fi
  env TMPDIR="$work/tmp/$h" "${scratch[@]}" \
    "${norandom[@]}" "$build/${h}_fuzzer" "${args[@]}" "$corpus" </dev/null >"$log" 2>&1 || status=$?
  rm -rf "$work/tmp/$h" "$fixed_scratch/$h"
  cp -p "$log" "$build/fuzz-logs/$h.log"
  local took=$((SECONDS - start)) execs
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  execs=${execs:-?}
  if [ -n "$(ls -A "$artifacts")" ] && [ "$status" -eq 0 ]; then status=1; fi
  printf '%-20s %8s s %12s %10s   %s\n' "$h" "$took" "$execs" \
    "$([ "$execs" != "?" ] && [ "$took" -gt 0 ] && echo $((execs / took)) || echo '?')" \
    "$([ "$status" -eq 0 ] && echo ok || echo "FINDING (exit $status)")" >"$work/$h.summary"
  echo "$status" >"$work/$h.status"
}

# The libFuzzer log of every harness of the last run stays in fuzz-logs.
rm -rf "$build/fuzz-logs"
mkdir -p "$build/fuzz-logs"

# Two harnesses at a time in a fixed run (one per core), one in a timed run.
jobs=$([ "$fixed" = 1 ] && echo 2 || echo 1)
running=0
for h in "${harnesses[@]}"; do
  if [ "$running" -ge "$jobs" ]; then
    wait -n
    running=$((running - 1))
  fi
  fuzz_one "$h" &
  running=$((running + 1))
done
wait

findings=0
for h in "${harnesses[@]}"; do
  keep="$build/fuzz-findings/$h"
  rm -rf "$keep"
  if [ ! -f "$work/$h.status" ]; then
    echo "run.sh: the run of '$h' ended before its summary" >"$work/$h.summary"
    echo 2 >"$work/$h.status"
  fi
  [ "$(cat "$work/$h.status")" = 0 ] && continue
  findings=$((findings + 1))
  mkdir -p "$keep"
  cp -rp "$work/artifacts/$h"/. "$keep"/
  cp -p "$work/$h.log" "$keep/fuzzer.log"
  echo "=== $h: finding; log and reproducer kept in $keep"
  grep -E "ERROR|runtime error|terminate called|what\(\)|Finding|SUMMARY|#[0-9]+ 0x" "$work/$h.log" | head -n 40 || true
  for a in "$work/artifacts/$h"/*; do
    [ -f "$a" ] || continue
    echo "--- reproducer $keep/$(basename "$a") ($(stat -c %s "$a") bytes), base64:"
    head -c 65536 "$a" | base64 -w 100
  done
done

echo
printf '%-20s %10s %12s %10s   %s\n' harness time executions "per second" result
for h in "${harnesses[@]}"; do cat "$work/$h.summary"; done
if [ "$findings" -gt 0 ]; then
  echo "reproducers under $build/fuzz-findings/"
fi
echo "fuzz: $((${#harnesses[@]} - findings)) passed, $findings failed"
[ "$findings" -eq 0 ]
