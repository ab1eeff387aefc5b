#!/usr/bin/env bash
# Soak check, outside CI: a month of the sample station's recording at 128 Hz
# in the data logger's format, processed with the set limit raised far enough
# for every window (--max-sets), then read back whole by fcdump. Reports the
# run's wall time, peak memory and number of windows.
#
#   tools/soak.sh [days]          (default 31; needs about 11 GB of disk per month)
#
# Builds into build-soak (override with SOAK_BUILD=dir); the recording lives in
# a temporary folder that is removed at the end. A month takes there the
# recording (5.3 GB), the Fourier-coefficient file (2.2 GB) and, while the run
# lasts, the coefficients waiting for it in a temporary file (3.7 GB).
set -euo pipefail
days=${1:-31}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${SOAK_BUILD:-$root/build-soak}
work=$(mktemp -d "${TMPDIR:-/tmp}/qv_soak.XXXXXX")
trap 'rm -rf "$work"' EXIT

samples=$((days * 86400 * 128))
# Level 1 of the sample set-up takes a window every 192 samples; the three
# decimated levels add about 40 % more.
nsmax=$((samples / 192 * 3 / 2 + 1000))

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQV_BUILD_TESTS=OFF -DQV_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build" -j2 --target qel_vort make_sample_station fcdump >/dev/null

echo "generating $days days ($samples scans) at 128 Hz ..."
"$build/make_sample_station" "$work" "$samples" qel
cp "$root"/examples/sample_station/{paths.cfg,decset.cfg,pwset.cfg,sample_qel.sp} "$work"/
ls -l "$work/sample_qel.bin" | awk '{printf "recording: %.2f GB\n", $5 / 1e9}'

echo "processing (set limit $nsmax) ..."
status=0
(cd "$work" && /usr/bin/time -v "$build/qel_vort" -f:sample_qel.bin -p:50 --max-sets="$nsmax" >qel_vort.log 2>time.log) || status=$?
grep -h "number of sets\|Run time" "$work/qel_vort.log" || true
grep -h "Elapsed (wall clock)\|Maximum resident set size" "$work/time.log" || true
if [ "$status" -ne 0 ]; then
  echo "qel_vort failed with status $status" >&2
  tail -5 "$work/qel_vort.log" "$work/time.log" >&2
  exit 1
fi

echo "reading the file back ..."
"$build/fcdump" "$work/sample_qel.f5" | tail -12
rows=$("$build/fcdump" --csv "$work/sample_qel.f5" | wc -l)
echo "coefficients read back: $((rows - 1))"
