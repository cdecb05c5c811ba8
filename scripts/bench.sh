#!/usr/bin/env bash
# Prints Brenvik's speed and memory figures. Not part of the tests.
#   - the text toolkit on a 50 MB page and 100,000 photos added to one album;
#   - 2000 images of 100 KB through the download workers (15 threads) and through
#     `curl --parallel --parallel-max 15`, from a local nginx: times, ratio, peak memory;
#   - one 500 MB image through the fetcher and through the workers, against curl.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh build >/dev/null
build/bench/brenvik_bench

work=$(mktemp -d)
trap 'kill $(cat "$work/nginx.pid" 2>/dev/null) 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p "$work/www/img"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
cat > "$work/nginx.conf" <<CONF
daemon on; master_process off; pid $work/nginx.pid; error_log $work/error.log;
events { worker_connections 1024; }
http { access_log off; client_body_temp_path $work/body; proxy_temp_path $work/proxy;
       fastcgi_temp_path $work/f; uwsgi_temp_path $work/u; scgi_temp_path $work/s;
       keepalive_requests 100000;
       server { listen 127.0.0.1:$port; root $work/www; } }
CONF
/usr/sbin/nginx -c "$work/nginx.conf" -p "$work"
sleep 0.5
base="http://127.0.0.1:$port"

# Runs a command after flushing the disk (so neither side pays for what the other left),
# under GNU time; prints "SECONDS PEAK_KIB".
measure() {
  sync
  local start end
  start=$(date +%s.%N)
  /usr/bin/time -f '%M' -o "$work/peak" "$@" >/dev/null 2>&1
  end=$(date +%s.%N)
  echo "$(echo "$end - $start" | bc) $(tail -n 1 "$work/peak")"
}

# LABEL, the workers' figures, curl's figures, then a note: one comparison line.
report() {
  python3 - "$@" <<'PY'
import sys
label, ours, our_kib, theirs, curl_kib, note = sys.argv[1], float(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4]), int(sys.argv[5]), sys.argv[6]
print(f"{label}: workers {ours:.2f} s (peak {our_kib/1024:.1f} MB, {note}), "
      f"curl {theirs:.2f} s (peak {curl_kib/1024:.1f} MB), workers/curl time ratio {ours/theirs:.2f}")
PY
}

# 2000 images of 100 KB, 15 at a time on both sides
head -c 102400 /dev/urandom > "$work/img.bin"
for i in $(seq 1 2000); do cp "$work/img.bin" "$work/www/img/$i.jpg"; done
seq 1 2000 | sed "s|.*|$base/img/&.jpg|" > "$work/list.txt"
mkdir -p "$work/ours" "$work/curl-out"
curl_args=()
while read -r url; do curl_args+=(-o "$work/curl-out/$(basename "$url")" "$url"); done < "$work/list.txt"
read -r ours our_kib < <(measure build/bench/brenvik_bench workers "$work/list.txt" "$work/ours")
read -r theirs curl_kib < <(measure curl -s --parallel --parallel-max 15 "${curl_args[@]}")
report "2000 x 100 KB" "$ours" "$our_kib" "$theirs" "$curl_kib" \
  "$(find "$work/ours" -name '*.jpg' | wc -l) files"

# one 500 MB image
head -c 500M /dev/urandom > "$work/www/big.bin"
rm -rf "$work/ours" "$work/curl-out"; mkdir -p "$work/ours"
echo "$base/big.bin" > "$work/big.txt"
read -r ours our_kib < <(measure build/bench/brenvik_bench workers "$work/big.txt" "$work/ours")
read -r theirs curl_kib < <(measure curl -s -o "$work/curl.bin" "$base/big.bin")
cmp -s "$work/ours/1.jpg" "$work/www/big.bin" && same="file identical" || same="FILE DIFFERS"
report "one 500 MB image" "$ours" "$our_kib" "$theirs" "$curl_kib" "$same"
