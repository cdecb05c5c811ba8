#!/usr/bin/env bash
# Pictures the main window with a listed album table (local test servers) for the README.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh build >/dev/null
mkdir -p docs
BRENVIK_SCREENSHOT="$PWD/docs/screenshot.png" xvfb-run -a -s "-screen 0 1280x800x24" \
  build/tests/gui_tests --gtest_filter='*ScreenshotForTheReadme*'
echo "docs/screenshot.png"
