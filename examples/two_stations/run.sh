#!/usr/bin/env bash
# Two synthetic stations over one layered Earth, recorded at the same time
# under the same source field, each with its own noise on its magnetic
# channels: the example of a remote reference. The script makes both
# stations (make_layered_station), their Fourier coefficients (qel_vort),
# the single-station and the remote-reference transfer functions of the
# first (qel_tf) and a picture comparing the two with the model (qv-plot).
#
#   examples/two_stations/run.sh [WORK-FOLDER] [HOURS]
#
# WORK-FOLDER (default: two_stations in the current folder) receives site/
# and ref/, the station folders, and in site/: single.edi (site alone),
# remote.edi (ref's magnetic field as the reference) with their .tf.csv and
# .tf.json, and compare.png (Zxy and Zyx of both); site/model.json holds the
# Earth (the impedance of a band: make_layered_station --layers ...
# --impedance FREQ). HOURS (default 12) is the length of both recordings at
# 10 Hz.
#
# The programs are taken from the build of this source tree ($QV_BUILD_DIR,
# default build/) and tools/, or from the PATH when the tree has no build (an
# installation).
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
work=${1:-two_stations}
hours=${2:-12}
find_program() {
  local name=$1
  for p in "${QV_BUILD_DIR:-$root/build}/$name" "$root/tools/$name"; do
    if [ -x "$p" ]; then echo "$p"; return; fi
  done
  command -v "$name" || { echo "run.sh: $name is neither built in ${QV_BUILD_DIR:-$root/build} nor on the PATH" >&2; exit 2; }
}
gen=$(find_program make_layered_station)
vort=$(find_program qel_vort)
tf=$(find_program qel_tf)
plot=$(find_program qv-plot)

# The Earth and the source are those of both stations; the noise seeds
# differ, so the noise of one station's magnetic field is independent of
# the other's. 0.03 nT of white noise on Hx and Hy is well below the source
# at long periods and comparable with it at the short ones, where it biases
# the single-station impedance low.
layers="100,2000;10,8000;1000"
common=(--rate 10 --hours "$hours" --format qel --layers "$layers" --tipper 0.2,-0.15
        --seed-source 7 --noise-h 0.03 --source-origin "2019 1 2 0 0 0" --force)
mkdir -p "$work"
work=$(cd "$work" && pwd)
"$gen" "${common[@]}" --name site --seed-noise 1 --dir "$work/site" > /dev/null
"$gen" "${common[@]}" --name ref --seed-noise 2 --dir "$work/ref" > /dev/null
for s in site ref; do
  (cd "$work/$s" && "$vort" -f:$s.bin < /dev/null > qel_vort.log 2>&1) ||
    { echo "run.sh: qel_vort failed on $s (see $work/$s/qel_vort.log)" >&2; exit 1; }
done
cd "$work/site"
"$tf" site.f5 -o single
"$tf" site.f5 --remote ../ref/ref.f5 -o remote
"$plot" tf remote.edi --compare single.edi --elements xy,yx -o compare.png
echo "two stations: $work/site/remote.edi (remote reference), single.edi (site alone), compare.png"
