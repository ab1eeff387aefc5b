#!/usr/bin/env bash
# What a transfer-function estimate costs, outside CI: the synthetic 32 Hz,
# five-channel station-day (2 764 800 scans over a layered Earth, in the data
# logger's QEL format) made by make_layered_station, processed by qel_vort
# and then, when the build holds it, estimated by qel_tf: with parametric
# errors on its own and with a remote reference (a second station of the same
# source field with its own noise, processed once), and with bootstrap errors
# (1000 resamples). For each step it prints the wall and CPU seconds and the
# peak memory (maximum resident set, from /usr/bin/time -v), the fastest of
# QV_REPEAT runs, and the wall time of qel_vort and qel_tf (parametric)
# together.
#
#   tools/tf_cost.sh [build-dir]          (default: build)
#
# A build folder without a build is configured (Release, no tests or
# benchmarks); qel_vort and make_layered_station are built there, and qel_tf
# when the project has it. The station lives in a scratch folder inside the
# build folder, removed at the end (about 100 MB while it exists).
#
# Environment:
#   QV_REPEAT=N        runs per measurement, the fastest is shown (default 3)
#   QV_STATION_ARGS=.. more arguments for make_layered_station (for example
#                      another --layers or --noise-e)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
repeat=${QV_REPEAT:-3}

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQV_BUILD_TESTS=OFF -DQV_BUILD_BENCHMARKS=OFF >/dev/null
fi
targets=(qel_vort make_layered_station)
if cmake --build "$build" --target help 2>/dev/null | grep -qw qel_tf; then targets+=(qel_tf); fi
cmake --build "$build" -j2 --target "${targets[@]}" >/dev/null
build=$(cd "$build" && pwd)

work=$(mktemp -d "$build/tf_cost.XXXXXX")
trap 'rm -rf "$work"' EXIT
station=$work/day

# measure NAME COMMAND...: runs the command QV_REPEAT times in the station
# folder and keeps the fastest run's wall and CPU seconds and peak memory in
# the globals wall, cpu and peak_mb, its output in $work/NAME.log.
measure() {
  local name=$1
  shift
  wall=""
  local i w c m
  for ((i = 0; i < repeat; i++)); do
    if ! (cd "$station" && /usr/bin/time -v -o "$work/time.out" "$@" >"$work/run.log" 2>&1 </dev/null); then
      echo "tf_cost: $name failed:" >&2
      tail -5 "$work/run.log" >&2
      exit 1
    fi
    w=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0; for (k = 1; k <= n; k++) s = s * 60 + p[k]; print s }' "$work/time.out")
    c=$(awk -F': ' '/User time/ { u = $2 } /System time/ { s = $2 } END { printf "%.2f", u + s }' "$work/time.out")
    m=$(awk -F': ' '/Maximum resident set size/ { printf "%.1f", $2 / 1024 }' "$work/time.out")
    if [ -z "$wall" ] || awk -v a="$w" -v b="$wall" 'BEGIN { exit !(a < b) }'; then
      wall=$w cpu=$c peak_mb=$m
      cp "$work/run.log" "$work/$name.log"
    fi
  done
}

row() { printf '%-26s  %8.2f  %7s  %8s\n' "$1" "$wall" "$cpu" "$peak_mb"; }

# shellcheck disable=SC2206  # split the extra arguments at blanks
extra=(${QV_STATION_ARGS:-})
mkdir -p "$station"
gen=("$build/make_layered_station" --rate 32 --samples 2764800 --channels 5 --format qel --name day --dir "$station"
  --noise-e 0.02 --tipper "0.1,-0.05" --force "${extra[@]}")
echo "station: ${gen[*]#"$build/"}"
printf '%-26s  %8s  %7s  %8s\n' step wall_s cpu_s peak_MB
repeat_all=$repeat
repeat=1
measure generator "${gen[@]}"
row "make_layered_station"
repeat=$repeat_all
measure qel_vort "$build/qel_vort" -f:day.bin
vort_wall=$wall
row "qel_vort ($(sed -n 's/.*number of sets = *\([0-9]*\).*/\1/p' "$work/qel_vort.log" | tail -1) windows)"
if [ -x "$build/qel_tf" ]; then
  measure qel_tf "$build/qel_tf" day.f5 --errors bootstrap
  row "qel_tf (bootstrap 1000)"
  measure qel_tf "$build/qel_tf" day.f5 --errors parametric
  row "qel_tf (parametric)"
  printf '%-26s  %8.2f\n' "qel_vort + qel_tf" "$(awk -v a="$vort_wall" -v b="$wall" 'BEGIN { print a + b }')"
  single_wall=$wall
  # The remote reference: the same command with its own noise seed.
  ref=$work/ref
  mkdir -p "$ref"
  "$build/make_layered_station" --rate 32 --samples 2764800 --channels 5 --format qel --name ref --dir "$ref" \
    --noise-e 0.02 --tipper "0.1,-0.05" --seed-noise 2 --force "${extra[@]}" >/dev/null
  (cd "$ref" && "$build/qel_vort" -f:ref.bin >/dev/null 2>&1 </dev/null)
  measure qel_tf_remote "$build/qel_tf" day.f5 --errors parametric --remote "$ref/ref.f5" -o remote
  row "qel_tf --remote (param.)"
  printf '%-26s  %8.2f\n' "remote over single" "$(awk -v a="$wall" -v b="$single_wall" 'BEGIN { print a - b }')"
else
  echo "qel_tf: not built in $build (no estimate timed)"
fi
echo "(fastest of $repeat runs; the generator once)"
