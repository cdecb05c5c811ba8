#!/usr/bin/env bash
# Each folder of src/ is a floor and includes only headers of its own floor or those
# below it: net, settings, session, download, sites, app, then gui and cli on top
# (neither of which uses the other). Prints every include that climbs; fails on any.
set -euo pipefail
cd "$(dirname "$0")/../src"

floors=(net settings session download sites app)
level() {
  local i
  for i in "${!floors[@]}"; do
    [ "${floors[$i]}" = "$1" ] && { echo "$i"; return; }
  done
  echo "${#floors[@]}"  # gui and cli: the top
}

climbs=0
while IFS=: read -r file _ line; do
  from=${file%%/*}
  to=$(sed -E 's/.*#include "([a-z]+)\/.*/\1/' <<<"$line")
  if [ "$(level "$to")" -gt "$(level "$from")" ] ||
     { [ "$from" != "$to" ] && [ "$(level "$from")" -eq "${#floors[@]}" ] &&
       [ "$(level "$to")" -eq "${#floors[@]}" ]; }; then
    echo "$file climbs to $to: $line"
    climbs=$((climbs + 1))
  fi
done < <(grep -rnE '^#include "[a-z]+/' --include='*.h' --include='*.cpp' -- */)

if [ "$climbs" -gt 0 ]; then
  echo "$climbs include(s) climb a floor" >&2
  exit 1
fi
echo "floors: no include climbs"
