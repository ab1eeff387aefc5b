#!/usr/bin/env bash
# qv-survey --tf, the transfer functions of a survey's stations.
#
#   survey_tf_test.sh SOURCE_DIR BUILD_DIR choice
#     stand-in programs (QEL_VORT, QEL_TF, sbatch) on six stations of
#     hand-written recording spans: remotes.txt and its refusals, the choice
#     by longest common time, a failed station and its dependant, the
#     commands qel_tf is given, the table, the two Slurm array jobs.
#   survey_tf_test.sh SOURCE_DIR BUILD_DIR remote
#     three synthetic stations of one source through the real programs; the
#     EDI of each names its reference (skipped, 77, while qel_tf has no
#     --remote).
set -u
src=$1 build=$2 mode=$3
command -v parallel >/dev/null || { echo "GNU parallel not installed: skipped"; exit 77; }
survey=$build/survey-tf-test-$mode
rm -rf "$survey"
trap 'rm -rf "$survey" "$survey.bin"' EXIT
fail() { echo "FAILED: $*"; exit 1; }
tool=$src/tools/qv-survey

# The table row of a station, blanks squeezed.
row() { grep -E "^$1 " "$survey/table.txt" | tr -s ' '; }

if [ "$mode" = remote ]; then
  "$build/qel_tf" --help 2>&1 | grep -q -- --remote || { echo "qel_tf has no --remote yet: skipped"; exit 77; }
  for i in 1 2 3; do
    "$build/make_layered_station" --hours 6 --seed-source 5 --seed-noise "$i" --noise-e 0.02 --noise-h 0.002 \
      --name "s$i" --dir "$survey/s$i" > /dev/null || fail "make_layered_station s$i"
  done
  printf 's2 s1\ns3 s1   # s1 the base station\n' > "$survey/remotes.txt"
  QEL_VORT=$build/qel_vort QEL_TF=$build/qel_tf "$tool" -j 2 --tf "$survey" > "$survey/table.txt" 2>&1 ||
    { cat "$survey/table.txt" "$survey"/*/qel_tf.log; fail "survey status"; }
  cat "$survey/table.txt"
  # s1 is named by nobody: all three recordings cover the same six hours, so
  # the longest common time is a tie, which the first other by name (s2) wins.
  for pair in s1:s2 s2:s1 s3:s1; do
    s=${pair%:*} r=${pair#*:}
    edi=$survey/$s/$s.edi
    [ -s "$edi" ] || fail "$s wrote no EDI"
    sed -n '/^>INFO/,/^>=DEFINEMEAS/p' "$edi" | grep -Eq "REMOTESITE=\"?$r\"?( |$)" || fail "$s: >INFO does not name $r"
    sed -n '/^>INFO/,/^>=DEFINEMEAS/p' "$edi" | grep -q "REMOTEREF=" || fail "$s: >INFO has no REMOTEREF"
    grep -q '^>END' "$edi" || fail "$s: EDI not whole"
  done
  row s2 | grep -q ' 0 s1 (remotes.txt line 1)$' || fail "s2 row"
  row s1 | grep -q ' 0 s2 (longest common time, [0-9]* s)$' || fail "s1 row"
  echo "survey remote-reference test passed"
  exit 0
fi

# Stand-in programs. qel_vort writes STATION.f5 and a metadata file whose
# recording spans what the station's file "span" says (start, end, sample
# interval; one level of 128-sample windows), or fails when the station holds
# a file "fail". qel_tf records its arguments and writes an EDI naming them.
mkdir -p "$survey.bin"
cat > "$survey.bin/qel_vort" <<'EOF'
#!/usr/bin/env bash
name=$(basename "$PWD")
[ -e fail ] && { echo "decset.cfg: cannot open (stand-in failure)"; exit 1; }
read -r start end dt < span
echo "number of sets = 7"
echo "coefficients of $name" > "$name.f5"
cat > "$name.f5.json" <<JSON
{"recording": {"first_sample": {"unix_s": $start}, "sample_interval_s": $dt},
 "levels": [{"level": 1, "nwin": 128, "sample_interval_s": $dt, "windows_stored": 3,
             "last_window_start": {"unix_s": $(awk -v e="$end" -v d="$dt" 'BEGIN { printf "%.6f", e - 128 * d }')}}]}
JSON
EOF
cat > "$survey.bin/qel_tf" <<'EOF'
#!/usr/bin/env bash
printf '%s\n' "$@" > qel_tf.args
{ echo ">INFO"; echo "    ARGS=$*"; echo ">END"; } > "${1%.f5}.edi"
EOF
cat > "$survey.bin/sbatch" <<'EOF'
#!/usr/bin/env bash
printf '%s\n' "$*" >> "$SBATCH_RECORD"
echo "$((100 + $(wc -l < "$SBATCH_RECORD")));cluster1"
EOF
chmod +x "$survey.bin"/*
export QEL_VORT=$survey.bin/qel_vort QEL_TF=$survey.bin/qel_tf

# Hours after 2019-01-02T00:00Z: p1 0-6, p2 1-5, p3 3-9 at 0.1 s; p4 10-12
# overlaps nobody; p5 0-6 overlaps p1 but at 1 s; p6 fails.
h0=1546387200
span() { mkdir -p "$survey/$1"; echo "$((h0 + 3600 * $2)) $((h0 + 3600 * $3)) $4" > "$survey/$1/span"; }
span p1 0 6 0.1; span p2 1 5 0.1; span p3 3 9 0.1; span p4 10 12 0.1; span p5 0 6 1.0; span p6 0 6 0.1
touch "$survey/p6/fail"

# remotes.txt refused with its file and line, before anything runs.
refused() {  # LINE-NUMBER WHAT-THE-MESSAGE-SAYS remotes.txt-TEXT
  printf '%b' "$3" > "$survey/remotes.txt"
  "$tool" --tf "$survey" > "$survey/out.txt" 2>&1 && fail "remotes.txt '$3' accepted"
  grep -q "remotes.txt:$1: .*$2" "$survey/out.txt" || { cat "$survey/out.txt"; fail "message for '$3'"; }
  [ ! -e "$survey/p1/qel_vort.status" ] || fail "a station ran despite a bad remotes.txt"
}
refused 2 "expected two names" '# references\np2 p1 p3\n'
refused 1 "'p9' is not a station" 'p2 p9\n'
refused 3 "p2 names itself" 'p1 p2\n\np2 p2\n'
refused 2 "p1 already has its reference on line 1" 'p1 p2\np1 p3\n'

printf '# the survey'"'"'s references\r\n\np2 p6   # p6 fails: p2 falls back\np3 p2\n' > "$survey/remotes.txt"
"$tool" -j 2 --tf "$survey" > "$survey/table.txt" 2>&1
status=$?
cat "$survey/table.txt"
[ "$status" = 1 ] || fail "survey status $status, expected 1 (p6 failed)"
row p1 | grep -q '^p1 0 7 [0-9.]* 0 p2 (longest common time, 14400 s)$' || fail "p1 row"
row p2 | grep -q '^p2 0 7 [0-9.]* 0 p1 (remotes.txt line 3 names p6, which has no coefficients; longest common time, 14400 s)$' ||
  fail "p2 row"
row p3 | grep -q '^p3 0 7 [0-9.]* 0 p2 (remotes.txt line 4)$' || fail "p3 row"
row p4 | grep -q '^p4 0 7 [0-9.]* 0 - (single-station: no station recorded at the same time)$' || fail "p4 row"
row p5 | grep -q '^p5 0 7 [0-9.]* 0 - (single-station: no station recorded at the same time)$' || fail "p5 row"
row p6 | grep -q '^p6 1 - [0-9.]* - -$' || fail "p6 row"
grep -q '^1 of 6 stations failed; see <station>/qel_vort.log and qel_tf.log$' "$survey/table.txt" || fail "count"
[ "$(cat "$survey/p3/qel_tf.args")" = "$(printf 'p3.f5\n--remote\n../p2/p2.f5')" ] || fail "p3's qel_tf arguments"
[ "$(cat "$survey/p5/qel_tf.args")" = p5.f5 ] || fail "p5's qel_tf arguments"
grep -q 'ARGS=p2.f5 --remote ../p1/p1.f5' "$survey/p2/p2.edi" || fail "p2's EDI"
[ ! -e "$survey/p6/qel_tf.args" ] && grep -q 'no transfer functions' "$survey/p6/qel_tf.log" || fail "p6 got a TF"
"$tool" --references "$survey" | cut -f1,2 | tr '\t' ' ' | paste -sd, |
  grep -qx 'p1 p2,p2 p1,p3 p2,p4 -,p5 -,p6 -' || fail "--references"

# Slurm: two array jobs, the second after the first whatever its tasks' status.
export SBATCH_RECORD=$survey/sbatch.txt
PATH=$survey.bin:$PATH "$tool" --slurm --tf "$survey" -- -v > "$survey/out.txt" || fail "--slurm"
[ "$(wc -l < "$SBATCH_RECORD")" = 2 ] || fail "sbatch calls"
grep -qx -- "--parsable --array=1-6 $src/tools/qv-survey.sbatch $survey -- -v" "$SBATCH_RECORD" || fail "first sbatch"
grep -q -- "--array=1-6 --dependency=afterany:101 .* $src/tools/qv-survey.sbatch --phase tf $survey\$" \
  "$SBATCH_RECORD" || fail "second sbatch"
[ ! -e "$survey/p1/qel_tf.status" ] || fail "--slurm kept an old status"
# The tasks as Slurm would run them, by hand: p3 (task 3) needs p2's coefficients.
SLURM_ARRAY_TASK_ID=2 "$src/tools/qv-survey.sbatch" "$survey" > /dev/null || fail "fc task 2"
SLURM_ARRAY_TASK_ID=3 "$src/tools/qv-survey.sbatch" "$survey" > /dev/null || fail "fc task 3"
SLURM_ARRAY_TASK_ID=3 "$src/tools/qv-survey.sbatch" --phase tf "$survey" | grep -q 'reference p2 (remotes.txt line 4)' ||
  fail "tf task 3"
SLURM_ARRAY_TASK_ID=1 "$src/tools/qv-survey.sbatch" --phase tf "$survey" > /dev/null 2>&1 && fail "tf task 1 without coefficients"
echo "survey transfer-function test passed"
