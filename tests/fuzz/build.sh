#!/usr/bin/env bash
# Builds the fuzz harnesses (clang's libFuzzer with AddressSanitizer and
# UndefinedBehaviorSanitizer) into a build folder, quietly: on failure the end
# of the build log is shown and the script exits 2.
#
#   tests/fuzz/build.sh BUILD-DIR
#
# run.sh and campaign.sh call it before they fuzz.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:?usage: tests/fuzz/build.sh BUILD-DIR}

if ! command -v clang++ >/dev/null; then
  echo "fuzz build: clang++ is needed (Debian packages clang and libclang-rt-dev; tools/setup test installs them)" >&2
  exit 2
fi
mkdir -p "$build"
log="$build/fuzz-build.log"
start=$SECONDS
if ! { CXX=clang++ cmake -S "$root" -B "$build" -DQV_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
       cmake --build "$build" -j2; } >"$log" 2>&1; then
  tail -n 40 "$log"
  echo "fuzz build: failed (the whole log is $log)" >&2
  exit 2
fi
echo "fuzz build: $((SECONDS - start)) s"
