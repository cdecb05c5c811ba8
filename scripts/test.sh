#!/usr/bin/env bash
# Builds and runs every test: a plain build, then the same tests under the address and
# undefined-behaviour sanitizers, then again under the thread sanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

run() {
  local dir=$1; shift
  echo "== $dir"
  scripts/build.sh "$dir" "$@"
  ctest --test-dir "$dir" --output-on-failure -j"$(nproc)"
}

run build
run build-asan -DBRENVIK_SANITIZE="address;undefined" -DCMAKE_BUILD_TYPE=Debug
export TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp"
run build-tsan -DBRENVIK_SANITIZE=thread -DCMAKE_BUILD_TYPE=Debug
