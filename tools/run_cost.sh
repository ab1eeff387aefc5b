#!/usr/bin/env bash
# What a run costs, outside CI: for every recording length given (hours of the
# sample station's five channels at 128 Hz) the script writes the recording
# twice, as generic ASCII text and in the data logger's QEL format, and times
# in one go
#   bare   a bare parse of the ASCII text: every number through std::from_chars
#          into a float and nothing else (build/bare_parse), the floor of any
#          run on that text;
#   ascii  the whole run of qel_vort on the ASCII recording (-A);
#   qel    the whole run on the QEL recording of the same samples.
# It prints hours, windows, wall and CPU seconds, peak memory (maximum
# resident set of /usr/bin/time -v) and the wall time divided by that of the
# bare parse of the same text.
#
#   tools/run_cost.sh [hours ...] [build-dir]      (default: 1 10 50, build-cost)
#
# A last argument that is not a number names the build folder; the script
# configures it when it holds no build yet (Release, set limit 10^6) and
# builds qel_vort, make_sample_station and bare_parse there. The recordings
# live in a scratch folder inside the build folder that is removed at the end
# (50 h take about 1.2 GB of disk while they exist).
#
# Environment:
#   QV_REPEAT=N       runs per measurement, the fastest is shown (default 3)
#   QV_VORT=path      time this qel_vort binary instead of the build's (for
#                     example a binary kept from before a change)
#   QV_EXTRA_ARGS=..  more arguments for every qel_vort run
# Every window of the recording must be processed, so the set limit is
# raised: a qel_vort that knows --max-sets (its --help or its binary names the
# option) gets --max-sets=1000000; an older binary given by QV_VORT must have
# been built with a limit large enough. A run that stops at the limit ends
# the script with a message.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
hours=()
build=$root/build-cost
for a in "$@"; do
  if [[ $a =~ ^[0-9]+(\.[0-9]+)?$ ]]; then hours+=("$a"); else build=$a; fi
done
[ ${#hours[@]} -gt 0 ] || hours=(1 10 50)
repeat=${QV_REPEAT:-3}

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQV_BUILD_TESTS=OFF -DQV_BUILD_BENCHMARKS=OFF >/dev/null
fi
cmake --build "$build" -j2 --target qel_vort make_sample_station bare_parse >/dev/null
build=$(cd "$build" && pwd)  # the runs take place in other folders
vort=${QV_VORT:-$build/qel_vort}
vort=$(cd "$(dirname "$vort")" && pwd)/$(basename "$vort")

extra=()
if "$vort" --help </dev/null 2>&1 | grep -q -- '--max-sets' || grep -aq -- '--max-sets' "$vort"; then
  extra+=(--max-sets=1000000)
fi
# shellcheck disable=SC2206  # split the extra arguments at blanks
extra+=(${QV_EXTRA_ARGS:-})

work=$(mktemp -d "$build/run_cost.XXXXXX")
trap 'rm -rf "$work"' EXIT

# measure NAME COMMAND...: runs the command QV_REPEAT times in $work, keeps
# the fastest run's figures in the globals wall, cpu and peak_mb and its
# console output in $work/NAME.log.
measure() {
  local name=$1
  shift
  wall=""
  local i t0 t1 w u s m
  for ((i = 0; i < repeat; i++)); do
    t0=$(date +%s%N)
    if ! (cd "$work" && /usr/bin/time -f '%U %S %M' -o "$work/time.out" "$@" >"$work/run.log" 2>&1); then
      echo "run_cost: $name failed:" >&2
      tail -5 "$work/run.log" >&2
      exit 1
    fi
    t1=$(date +%s%N)
    w=$(((t1 - t0) / 1000))  # microseconds
    read -r u s m <"$work/time.out"
    if [ -z "$wall" ] || [ "$w" -lt "$wall" ]; then
      wall=$w
      cpu=$(awk -v u="$u" -v s="$s" 'BEGIN { printf "%.2f", u + s }')
      peak_mb=$(awk -v m="$m" 'BEGIN { printf "%.1f", m / 1024 }')
      cp "$work/run.log" "$work/$name.log"
    fi
  done
}

windows_of() {
  if grep -q "maximum number of allowed sets" "$work/$1.log"; then
    echo "run_cost: the $1 run stopped at the set limit; raise it (--max-sets in QV_EXTRA_ARGS)" >&2
    exit 1
  fi
  sed -n 's/.*number of sets = *\([0-9]*\).*/\1/p' "$work/$1.log" | tail -1
}

cp "$root"/examples/sample_station/{paths.cfg,decset.cfg,pwset.cfg,sample.sp,sample_qel.sp} "$work"/
echo "qel_vort: $vort ${extra[*]}   (fastest of $repeat runs; 5 channels at 128 Hz, -p:50)"
printf '%6s  %-5s  %8s  %8s  %7s  %8s  %6s\n' hours input windows wall_s cpu_s peak_MB ratio
for h in "${hours[@]}"; do
  samples=$(awk -v h="$h" 'BEGIN { printf "%d", h * 3600 * 128 }')
  "$build/make_sample_station" "$work" "$samples" >/dev/null
  measure bare "$build/bare_parse" sample.asc
  bare_wall=$wall
  row() {  # input windows
    printf '%6s  %-5s  %8s  %8.3f  %7s  %8s  %6.2f\n' "$h" "$1" "$2" "$(awk -v w="$wall" 'BEGIN { print w / 1e6 }')" \
      "$cpu" "$peak_mb" "$(awk -v w="$wall" -v b="$bare_wall" 'BEGIN { print w / b }')"
  }
  row bare -
  measure ascii "$vort" -A -f:sample.asc -p:50 "${extra[@]}"
  win=$(windows_of ascii)
  row ascii "$win"
  measure qel "$vort" -f:sample_qel.bin -p:50 "${extra[@]}"
  win=$(windows_of qel)
  row qel "$win"
  rm -f "$work"/sample.asc "$work"/sample_qel.bin "$work"/*.f5
done
