#!/usr/bin/env bash
# Pictures the window for the README (local test servers): the listed album table,
# thumbnail mode, and a message box with Qt's Chinese buttons.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh build >/dev/null
mkdir -p docs
BRENVIK_SCREENSHOTS="$PWD/docs" xvfb-run -a -s "-screen 0 1280x800x24" \
  build/tests/gui_tests --gtest_filter='*ScreenshotForTheReadme*'
echo docs/screenshot.png docs/thumbnails.png docs/message.png
