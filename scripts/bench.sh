#!/usr/bin/env bash
# Prints Brenvik's speed and memory figures. Not part of the tests.
#   the text toolkit on a 50 MB page (and later: list building);
#   saving a 500 MB body through the page fetcher, against the curl command line
#   on the same file from a local nginx (ratio printed; resident memory should stay
#   well under 64 MB).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh build >/dev/null
build/bench/brenvik_bench

work=$(mktemp -d)
trap 'kill $(cat "$work/nginx.pid" 2>/dev/null) 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p "$work/www"
head -c 500M /dev/urandom > "$work/www/big.bin"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
cat > "$work/nginx.conf" <<CONF
daemon on; master_process off; pid $work/nginx.pid; error_log $work/error.log;
events {}
http { access_log off; client_body_temp_path $work/body; proxy_temp_path $work/proxy;
       fastcgi_temp_path $work/f; uwsgi_temp_path $work/u; scgi_temp_path $work/s;
       server { listen 127.0.0.1:$port; root $work/www; } }
CONF
/usr/sbin/nginx -c "$work/nginx.conf" -p "$work"
sleep 0.5

url="http://127.0.0.1:$port/big.bin"
start=$(date +%s.%N)
build/bench/brenvik_bench fetch "$url" "$work/ours.bin"
ours=$(echo "$(date +%s.%N) - $start" | bc)
start=$(date +%s.%N)
curl -s -o "$work/curl.bin" "$url"
theirs=$(echo "$(date +%s.%N) - $start" | bc)
cmp -s "$work/ours.bin" "$work/www/big.bin" && echo "fetch: file identical" || echo "fetch: FILE DIFFERS"
printf 'fetch: brenvik %.3f s, curl %.3f s, curl/brenvik speed ratio %.2f\n' "$ours" "$theirs" \
  "$(echo "$theirs / $ours" | bc -l)"
