#!/usr/bin/env bash
# Writes brenvik-cli's manual page and shell completions from its own option table:
#   scripts/gen-cli-docs.sh [BUILD_DIR]   (default: build)
# Run it after changing an option; the cli tests fail while the shipped files are stale.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cli=${1:-$root/build}/src/cli/brenvik-cli
mkdir -p "$root/data/man" "$root/data/completion"
"$cli" --print-man > "$root/data/man/brenvik-cli.1"
"$cli" --print-completion=bash > "$root/data/completion/brenvik-cli.bash"
"$cli" --print-completion=zsh > "$root/data/completion/_brenvik-cli"
