#!/usr/bin/env bash
# tools/setup and the configure step on a machine that lacks the test
# libraries, made by hiding their files in a private mount namespace (so it
# needs root and unshare; skipped otherwise, exit 77):
#   - run as an ordinary user, tools/setup names exactly the missing packages
#     and the apt-get line, and fails; with nothing missing it is silent;
#   - a bare cmake configures without the tests and benchmarks, naming the
#     Debian packages, both with GoogleTest gone and with only GoogleMock gone.
#
#   tests/tools/setup_test.sh SOURCE-DIR
set -euo pipefail

src=$(cd "$1" && pwd)
if [ "$(id -u)" -ne 0 ] || ! unshare -m true 2>/dev/null || ! command -v setpriv >/dev/null; then
  echo "setup_test: needs root, unshare and setpriv: skipped"
  exit 77
fi
lib=$(compgen -G "/usr/lib/*/cmake/GTest" | head -n 1 || true)
bench=$(compgen -G "/usr/lib/*/cmake/benchmark" | head -n 1 || true)
if [ -z "$lib" ] || [ -z "$bench" ] || [ ! -d /usr/include/gmock ]; then
  echo "setup_test: GoogleTest, GoogleMock and Google Benchmark must be installed to be hidden: skipped"
  exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A copy an ordinary user can run wherever the source tree lies.
mkdir "$work/bin" "$work/empty"
cp "$src/tools/setup" "$work/bin/setup"
chmod -R a+rX "$work"

fail() { echo "setup_test: $*" >&2; exit 1; }

# Output and status of tools/setup as the user nobody.
as_nobody() {
  local status=0
  setpriv --reuid=nobody --regid=nogroup --clear-groups "$work/bin/setup" "$@" >"$work/out" 2>&1 || status=$?
  echo "$status"
}

if [ "$(as_nobody test)" != 0 ]; then
  echo "setup_test: not every package of tools/setup test is installed: skipped ($(head -n 1 "$work/out"))"
  exit 77
fi
[ ! -s "$work/out" ] || fail "tools/setup test says something with every package present: $(cat "$work/out")"

export lib bench work src
unshare -m bash -euo pipefail -c '
  fail() { echo "setup_test: $*" >&2; exit 1; }
  mount --make-rprivate /
  as_nobody() {
    local status=0
    setpriv --reuid=nobody --regid=nogroup --clear-groups "$work/bin/setup" "$@" >"$work/out" 2>&1 || status=$?
    echo "$status"
  }
  configure() {
    rm -rf "$work/build"
    cmake -S "$src" -B "$work/build" >"$work/cmake.log" 2>&1 || fail "cmake failed: $(tail -n 20 "$work/cmake.log")"
    grep -q "^add_test" "$work/build/CTestTestfile.cmake" 2>/dev/null && fail "cmake registered tests without the libraries"
    tr -s " \n" "  " <"$work/cmake.log" >"$work/cmake.flat"
  }

  # Only GoogleMock gone: its headers and its half of the CMake package.
  mount --bind "$work/empty" /usr/include/gmock
  for f in "$lib"/GMockTargets*.cmake; do mount --bind /dev/null "$f"; done
  [ "$(as_nobody test)" = 1 ] || fail "tools/setup test without GoogleMock did not fail: $(cat "$work/out")"
  grep -qx "  apt-get update && apt-get install -y libgmock-dev" "$work/out" ||
    fail "tools/setup test without GoogleMock printed: $(cat "$work/out")"
  configure
  grep -q "the tests are not built. Install the Debian packages libgtest-dev and libgmock-dev" "$work/cmake.flat" ||
    fail "cmake without GoogleMock did not name the packages: $(cat "$work/cmake.log")"

  # GoogleTest and Google Benchmark gone as well.
  mount --bind "$work/empty" /usr/include/gtest
  mount --bind "$work/empty" "$lib"
  mount --bind "$work/empty" /usr/include/benchmark
  mount --bind "$work/empty" "$bench"
  [ "$(as_nobody test)" = 1 ] || fail "tools/setup test without the libraries did not fail: $(cat "$work/out")"
  grep -qx "  apt-get update && apt-get install -y libgtest-dev libgmock-dev libbenchmark-dev" "$work/out" ||
    fail "tools/setup test without the libraries printed: $(cat "$work/out")"
  [ "$(as_nobody build)" = 0 ] || fail "tools/setup build needs a test library: $(cat "$work/out")"
  configure
  grep -q "the tests are not built. Install the Debian packages libgtest-dev and libgmock-dev" "$work/cmake.flat" ||
    fail "cmake without GoogleTest did not name the packages: $(cat "$work/cmake.log")"
  grep -q "the benchmarks are not built. Install the Debian package libbenchmark-dev" "$work/cmake.flat" ||
    fail "cmake without Google Benchmark did not name the package: $(cat "$work/cmake.log")"
'
echo "setup_test: fine"
