#!/usr/bin/env bash
# The long search of the readers of a station's files: runs every harness
# (by default the readers' own parsers: text_reader, ascii, qel, nims,
# fc_reader) at the lowest priority until each has made a given number of
# executions, and prints the executions of each.
#
#   tests/fuzz/campaign.sh [EXECUTIONS] [BUILD-DIR] [HARNESS...]
#
# EXECUTIONS defaults to 10000000 per harness, BUILD-DIR to build-fuzz in the
# source tree. The harnesses take turns, one at a time (nice -n 19), in
# rounds of QV_FUZZ_CHUNK seconds each (default 600), every round with a new
# seed and from the corpus grown so far; so every harness advances early, and
# a campaign that is stopped, even killed, loses at most the round under way:
# run the same command again and it goes on from the executions counted.
#
# The state lives in QV_FUZZ_CAMPAIGN (default BUILD-DIR/campaign):
#   <harness>.executions   executions made so far
#   corpus/<harness>/      the grown corpus (the committed seeds and
#                          regressions are read beside it, never changed)
#   findings/<harness>/    reproducers and the log of every finding, kept
#                          across runs
# A harness that finds something stops for the rest of the run (the others go
# on) and the script exits 1 at the end. With the defect fixed, commit the
# reproducer to tests/fuzz/regressions/<harness>/ and run the command again.
# A unit that crashes, trips a sanitizer, throws anything but the program's
# own Error, runs over 5 s or takes over 2 GB is a finding.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
target=${1:-10000000}
case $target in '' | *[!0-9]*) echo "campaign.sh: the executions per harness must be a whole number, not '$target'" >&2; exit 2 ;; esac
build=${2:-$root/build-fuzz}
shift $(($# < 2 ? $# : 2))
if [ $# -gt 0 ]; then harnesses=("$@"); else harnesses=(text_reader ascii qel nims fc_reader); fi
chunk=${QV_FUZZ_CHUNK:-600}
mkdir -p "$build"
build=$(cd "$build" && pwd)
state=${QV_FUZZ_CAMPAIGN:-$build/campaign}
mkdir -p "$state"
state=$(cd "$state" && pwd)

low=(nice -n 19)
if command -v ionice >/dev/null && ionice -c 3 true 2>/dev/null; then low+=(ionice -c 3); fi

# Scratch files of the harnesses in memory where it can be had (see run.sh).
fast=${TMPDIR:-/tmp}
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then fast=/dev/shm; fi
work=$(mktemp -d "$fast/qv_fuzz_campaign.XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

"${low[@]}" "$here/build.sh" "$build"
for h in "${harnesses[@]}"; do
  if [ ! -x "$build/${h}_fuzzer" ]; then
    echo "campaign.sh: no harness '$h' ($build/${h}_fuzzer)" >&2
    exit 2
  fi
  mkdir -p "$state/corpus/$h"
  [ -f "$state/$h.executions" ] || echo 0 >"$state/$h.executions"
done

declare -A stopped=()
started=$SECONDS
round=0
while :; do
  active=0
  for h in "${harnesses[@]}"; do
    [ -n "${stopped[$h]:-}" ] && continue
    done_so_far=$(cat "$state/$h.executions")
    [ "$done_so_far" -ge "$target" ] && continue
    active=1
    artifacts="$work/artifacts/$h"
    rm -rf "$artifacts" "$work/tmp"
    mkdir -p "$artifacts" "$work/tmp"
    inputs=("$state/corpus/$h")
    for kind in corpus regressions; do
      if [ -d "$here/$kind/$h" ]; then inputs+=("$here/$kind/$h"); fi
    done
    seed=$(( (RANDOM << 15 | RANDOM) + 1 ))
    log="$work/$h.log"
    status=0
    TMPDIR="$work/tmp" "${low[@]}" "$build/${h}_fuzzer" -seed="$seed" -runs=$((target - done_so_far)) \
      -max_total_time="$chunk" -timeout=5 -rss_limit_mb=2048 -print_final_stats=1 -dict="$here/fuzz.dict" \
      -artifact_prefix="$artifacts/" "${inputs[@]}" </dev/null >"$log" 2>&1 || status=$?
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    echo $((done_so_far + ${execs:-0})) >"$state/$h.executions"
    printf 'campaign: %-12s round %d, seed %d: %s executions (%s in all)\n' "$h" "$round" "$seed" \
      "${execs:-?}" "$(cat "$state/$h.executions")"
    if [ "$status" -ne 0 ] || [ -n "$(ls -A "$artifacts")" ]; then
      stopped[$h]="FINDING (exit $status)"
      keep="$state/findings/$h"
      mkdir -p "$keep"
      cp -rp "$artifacts"/. "$keep"/
      cp -p "$log" "$keep/fuzzer-seed-$seed.log"
      echo "=== $h: finding; reproducer and log kept in $keep"
      grep -E "ERROR|runtime error|terminate called|what\(\)|Finding|SUMMARY|#[0-9]+ 0x" "$log" | head -n 20 || true
    fi
  done
  [ "$active" = 0 ] && break
  round=$((round + 1))
done

echo
echo "campaign: $(( (SECONDS - started) / 60 )) min in this run; state in $state"
printf '%-20s %14s %14s   %s\n' harness executions target result
findings=0
for h in "${harnesses[@]}"; do
  result=${stopped[$h]:-}
  if [ -n "$result" ]; then findings=$((findings + 1)); else result=ok; fi
  printf '%-20s %14s %14s   %s\n' "$h" "$(cat "$state/$h.executions")" "$target" "$result"
done
[ "$findings" -eq 0 ]
