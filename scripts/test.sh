#!/usr/bin/env bash
# Builds and runs every test: a plain build, then the same tests under the address and
# undefined-behaviour sanitizers, then again under the thread sanitizer; last, every
# parser's fuzz harness for a few seconds (scripts/fuzz.sh runs them for minutes).
set -euo pipefail
cd "$(dirname "$0")/.."

# No folder of src/ may use one above it.
scripts/check-floors.sh

ctest_args=(--output-on-failure -j"$(nproc)")

run() {
  local dir=$1; shift
  echo "== $dir"
  scripts/build.sh "$dir" "$@"
  # The window's tests (the login browser above all) want a display: a virtual one.
  if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
    xvfb-run -a -s "-screen 0 1280x800x24" ctest --test-dir "$dir" "${ctest_args[@]}"
  else
    ctest --test-dir "$dir" "${ctest_args[@]}"
  fi
}

run build
run build-asan -DBRENVIK_SANITIZE="address;undefined" -DCMAKE_BUILD_TYPE=Debug -DBRENVIK_BUILD_GUI=OFF
export TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp"
run build-tsan -DBRENVIK_SANITIZE=thread -DCMAKE_BUILD_TYPE=Debug -DBRENVIK_BUILD_GUI=OFF

# Every fuzz harness for a few seconds; scripts/fuzz.sh alone runs them for minutes.
scripts/fuzz.sh 5
