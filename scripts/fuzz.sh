#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang, address and undefined-behaviour sanitizers) and
# runs each for a bounded time:
#   scripts/fuzz.sh [SECONDS] [HARNESS...]    (default 300 s each, every harness)
# The committed seeds in fuzz/corpus/<harness>/ stay as they are; what a run learns goes
# to build-fuzz/corpus/<harness>/, and a failing input with its log to
# build-fuzz/findings/<harness>/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-300}
[ $# -gt 0 ] && shift
harnesses=("$@")
if [ ${#harnesses[@]} -eq 0 ]; then
  harnesses=(response_decoding text_toolkit ini soft_dat cookie_file naming site_pages export_writers follow_list aria2_answer)
fi

dir=build-fuzz
cmake -S . -B "$dir" -G Ninja -DBRENVIK_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ \
  -DBRENVIK_BUILD_TESTS=OFF -DBRENVIK_BUILD_GUI=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" -j"$(nproc)" --target fuzz_all

failed=()
for harness in "${harnesses[@]}"; do
  work="$dir/corpus/$harness"
  findings="$dir/findings/$harness"
  mkdir -p "$work" "$findings"
  echo "== fuzz_$harness: ${seconds}s"
  if ! "$dir/fuzz/fuzz_$harness" "$work" "fuzz/corpus/$harness" -max_total_time="$seconds" \
      -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$findings/" >"$findings/log.txt" 2>&1; then
    tail -n 40 "$findings/log.txt"
    failed+=("$harness")
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found problems in: ${failed[*]} (inputs and logs in $dir/findings/)"
  exit 1
fi
echo "fuzzing ran clean"
