#!/usr/bin/env bash
# A survey of three copies of the sample station, one of them without its
# decimation set-up: processed with GNU parallel, the two good stations give
# their files and logs, the broken one fails alone, the table says so and the
# survey's status is 1. Then one station again as Slurm array task 2, by hand.
# Usage: survey_test.sh SOURCE_DIR BUILD_DIR
set -u
src=$1 build=$2
command -v parallel >/dev/null || { echo "GNU parallel not installed: skipped"; exit 77; }
survey=$build/survey-test
rm -rf "$survey"
trap 'rm -rf "$survey"' EXIT
fail() { echo "FAILED: $*"; exit 1; }

for s in st1 st2 st3; do
  mkdir -p "$survey/$s"
  cp "$src"/examples/sample_station/{paths.cfg,decset.cfg,pwset.cfg,sample_qel.sp,sample_qel.bin} "$survey/$s/"
  cp "$src/examples/sample_station/qel_vort.args" "$survey/$s/"
done
rm "$survey/st2/decset.cfg"

export QEL_VORT=$build/qel_vort
"$src/tools/qv-survey" -j 2 "$survey" > "$survey/table.txt" 2>&1
status=$?
cat "$survey/table.txt"
[ "$status" = 1 ] || fail "survey status $status, expected 1"
grep -Eq '^st1 +0 +268 ' "$survey/table.txt" || fail "st1 row"
grep -Eq '^st2 +1 +- ' "$survey/table.txt" || fail "st2 row"
grep -Eq '^st3 +0 +268 ' "$survey/table.txt" || fail "st3 row"
grep -q '^1 of 3 stations failed' "$survey/table.txt" || fail "failure count"
for s in st1 st3; do
  [ -s "$survey/$s/sample_qel.f5" ] || fail "$s wrote no Fourier-coefficient file"
  grep -q 'number of sets = 268' "$survey/$s/qel_vort.log" || fail "$s log"
done
[ ! -e "$survey/st2/sample_qel.f5" ] || fail "st2 wrote a file"
grep -q 'decset.cfg' "$survey/st2/qel_vort.log" || fail "st2 log does not name the missing file"
cmp "$survey/st1/sample_qel.f5" "$survey/st3/sample_qel.f5" || fail "st1 and st3 differ"

# Slurm array task 2 is st2 (sub-folders sorted by name); with its set-up
# back it now succeeds, and the table says all three did.
cp "$src/examples/sample_station/decset.cfg" "$survey/st2/"
SLURM_ARRAY_TASK_ID=2 "$src/tools/qv-survey.sbatch" "$survey" || fail "array task 2"
cmp "$survey/st1/sample_qel.f5" "$survey/st2/sample_qel.f5" || fail "task 2 file"
"$src/tools/qv-survey" --table "$survey" | grep -q '^all 3 stations processed' || fail "table after task 2"
SLURM_ARRAY_TASK_ID=4 "$src/tools/qv-survey.sbatch" "$survey" 2>/dev/null && fail "task 4 of 3 stations"
echo "survey test passed"
