#!/usr/bin/env bash
# Prints Brenvik's speed and memory figures. Not part of the tests.
#   - the text toolkit on a 50 MB page and 100,000 photos added to one album;
#   - 2000 images of 100 KB through the download workers (15 threads, with the cookie
#     store of a user logged in to a dozen sites) and through
#     `curl --parallel --parallel-max 15`, from a local nginx, in turns, best of five:
#     times, ratio, peak memory;
#   - one 150 MB image (images without a maximum size stop at 200 MB) through the
#     workers, against curl;
#   - 2 MiB through the workers under a shared limit of 500K a second (--limit-rate);
#   - a whole account through brenvik-cli: 100 albums of 20 photos of 150 KB from a local
#     site whose pages answer after 40 ms, the photo lists alone (--export lst) against
#     the whole download, in turns, best of three: times and ratio. `scripts/bench.sh
#     account` runs only this one;
#   - an update of 20 followed owners (50 albums each): time, requests and bytes, first
#     and with nothing new. `scripts/bench.sh follow` runs only this one.
# BRENVIK_BENCH names another bench binary (an older build, say) to measure instead, and
# BRENVIK_CLI another brenvik-cli.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh build >/dev/null
bench=${BRENVIK_BENCH:-build/bench/brenvik_bench}
cli=${BRENVIK_CLI:-build/src/cli/brenvik-cli}
only=${1:-}
[[ -n $only ]] || "$bench"

work=$(mktemp -d)
trap 'kill $(cat "$work/nginx.pid" "$work/pages.pid" "$work/follow/nginx.pid" 2>/dev/null) 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p "$work/www/img"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
cat > "$work/nginx.conf" <<CONF
daemon on; master_process off; pid $work/nginx.pid; error_log $work/error.log;
events { worker_connections 1024; }
http { access_log off; client_body_temp_path $work/body; proxy_temp_path $work/proxy;
       fastcgi_temp_path $work/f; uwsgi_temp_path $work/u; scgi_temp_path $work/s;
       keepalive_requests 100000;
       server { listen 127.0.0.1:$port; root $work/www;
                location /img/ { try_files \$uri /one.jpg; } } }
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
  /usr/bin/time -f '%M' -o "$work/peak" "$@" >/dev/null 2>&1 || true
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

# A whole account: the download of many albums should take hardly longer than their photo
# lists, which the site's answer time bounds; the workers save one album while the next
# album's list is read. The pictures come from nginx, the pages from a small server that
# answers each page after 40 ms. Every run saves into a new folder.
account_bench() {
  mkdir -p "$work/www/img" "$work/account-home"
  head -c 153600 /dev/urandom > "$work/www/one.jpg"
  local pport
  pport=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  python3 scripts/bench-account.py "$pport" "$base" 100 20 0.04 &
  echo $! > "$work/pages.pid"
  printf '[hosts]\nrenren.photo = http://127.0.0.1:%s\n' "$pport" > "$work/account-home/hosts.ini"
  until curl -s -o /dev/null "http://127.0.0.1:$pport/"; do sleep 0.1; done
  local round
  for round in 1 2 3; do
    local lists=(measure "$cli" --home "$work/account-home" -q -s renren -o "$work/lists.$round"
                 --export lst https://www.renren.com/42)
    local whole=(measure "$cli" --home "$work/account-home" -q -s renren -o "$work/whole.$round" https://www.renren.com/42)
    if (( round % 2 )); then
      "${lists[@]}" >> "$work/lists.times"; "${whole[@]}" >> "$work/whole.times"
    else
      "${whole[@]}" >> "$work/whole.times"; "${lists[@]}" >> "$work/lists.times"
    fi
    echo "  round $round: lists $(tail -n 1 "$work/lists.times" | cut -d' ' -f1) s," \
         "whole $(tail -n 1 "$work/whole.times" | cut -d' ' -f1) s"
  done
  kill "$(cat "$work/pages.pid")" && rm "$work/pages.pid"
  local files listed lists whole
  files=$(find "$work/whole.1" -name '*.jpg' | wc -l)
  listed=$(find "$work/lists.1" -name '*.lst' | wc -l)
  lists=$(best < "$work/lists.times" | cut -d' ' -f1)
  whole=$(best < "$work/whole.times" | cut -d' ' -f1)
  python3 -c "import sys; l, w = float(sys.argv[1]), float(sys.argv[2]); print(f'account of 100 x 20 photos: lists alone {l:.2f} s, whole download {w:.2f} s ({sys.argv[3]} files, {sys.argv[4]} lists), whole/lists {w/l:.3f}')" \
    "$lists" "$whole" "$files" "$listed"
  rm -rf "$work"/lists.* "$work"/whole.*
}

# Followed owners: 20 owners of 50 albums of 4 photos each, on a Renren-shaped local site
# (nginx, every request logged). The first update fetches everything; the second finds
# nothing new, and its time, requests and bytes are what an everyday update costs.
follow_bench() {
mkdir -p "$work/follow/www" "$work/follow/home" "$work/follow/saved"
fport=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
python3 - "$work/follow/www" "http://127.0.0.1:$fport" <<'PY'
import os, sys
www, base = sys.argv[1], sys.argv[2]
picture = b"\xff\xd8\xff\xe0" + os.urandom(2044)
for owner in range(4201, 4221):
    albums = []
    for album in range(1, 51):
        albums.append('{"cover":"","albumName":"相册%d","albumId":"%d","sourceControl":0,'
                      '"photoCount":4,"x":1},' % (album, album))
        photos = ",".join('{"position":%d,"url":"%s\\/img\\/%d\\/%d\\/%d.jpg"}'
                          % (n, base.replace("/", "\\/"), owner, album, n) for n in range(4, 0, -1))
        folder = f"{www}/photo/{owner}/album-{album}/bypage/ajax"
        os.makedirs(folder, exist_ok=True)
        open(f"{folder}/v7", "w").write('{"photoList":[%s]}' % photos)
        os.makedirs(f"{www}/img/{owner}/{album}", exist_ok=True)
        for n in range(1, 5):
            open(f"{www}/img/{owner}/{album}/{n}.jpg", "wb").write(picture)
    os.makedirs(f"{www}/photo/{owner}/albumlist", exist_ok=True)
    open(f"{www}/photo/{owner}/albumlist/v7", "w").write(
        "<title>人人网 - 用户%d的相册</title><script>nx.data = {'albumList': [%s]};</script>"
        % (owner, "".join(albums)))
PY
cat > "$work/follow/nginx.conf" <<CONF
daemon on; master_process off; pid $work/follow/nginx.pid; error_log $work/follow/error.log;
events { worker_connections 1024; }
http { log_format counted '\$body_bytes_sent'; access_log $work/follow/access.log counted;
       client_body_temp_path $work/follow/body; proxy_temp_path $work/follow/proxy;
       fastcgi_temp_path $work/follow/f; uwsgi_temp_path $work/follow/u;
       scgi_temp_path $work/follow/s; keepalive_requests 100000;
       server { listen 127.0.0.1:$fport; root $work/follow/www; } }
CONF
/usr/sbin/nginx -c "$work/follow/nginx.conf" -p "$work/follow"
sleep 0.5
printf '[hosts]\nrenren.photo=http://127.0.0.1:%s\n' "$fport" > "$work/follow/home/hosts.ini"
for owner in $(seq 4201 4220); do
  "$cli" --home "$work/follow/home" -o "$work/follow/saved" \
    --follow "https://www.renren.com/$owner" >/dev/null
done
traffic() {
  python3 -c 'import sys; sizes=[int(l) for l in open(sys.argv[1])]; print(len(sizes), sum(sizes))' \
    "$work/follow/access.log"
}
read -r first _ < <(measure "$cli" --home "$work/follow/home" -q --update)
read -r first_requests first_bytes < <(traffic)
: > "$work/follow/access.log"
read -r again _ < <(measure "$cli" --home "$work/follow/home" -q --update)
read -r requests bytes < <(traffic)
saved=$(find "$work/follow/saved" -name '*.jpg' | wc -l)
printf 'update of 20 followed owners x 50 albums x 4 photos: first %.2f s (%d requests, %d bytes, %d files); nothing new: %.2f s, %d requests, %d bytes\n' \
  "$first" "$first_requests" "$first_bytes" "$saved" "$again" "$requests" "$bytes"
  kill "$(cat "$work/follow/nginx.pid")"
}

best() { sort -n | head -n 1; }
if [[ $only == account ]]; then
  account_bench
  exit 0
fi
if [[ $only == follow ]]; then
  follow_bench
  exit 0
fi

# 2000 images of 100 KB, 15 at a time on both sides. The machine is shared, so the two
# run in turns, five rounds (which goes first alternates), and the best of each counts.
# Every run writes to a new folder: files just deleted make the next ones slower to
# create, which would charge one side for the other's clean-up.
head -c 102400 /dev/urandom > "$work/img.bin"
for i in $(seq 1 2000); do cp "$work/img.bin" "$work/www/img/$i.jpg"; done
seq 1 2000 | sed "s|.*|$base/img/&.jpg|" > "$work/list.txt"
run_workers() {
  mkdir -p "$work/ours.$round"
  measure "$bench" workers "$work/list.txt" "$work/ours.$round"
}
run_curl() {
  mkdir -p "$work/curl.$round"
  local args=()
  while read -r url; do args+=(-o "$work/curl.$round/$(basename "$url")" "$url"); done < "$work/list.txt"
  measure curl -s --parallel --parallel-max 15 "${args[@]}"
}
for round in 1 2 3 4 5; do
  if (( round % 2 )); then
    run_workers >> "$work/ours.times"; run_curl >> "$work/curl.times"
  else
    run_curl >> "$work/curl.times"; run_workers >> "$work/ours.times"
  fi
  echo "  round $round: workers $(tail -n 1 "$work/ours.times" | cut -d' ' -f1) s," \
       "curl $(tail -n 1 "$work/curl.times" | cut -d' ' -f1) s"
done
read -r ours our_kib < <(best < "$work/ours.times")
read -r theirs curl_kib < <(best < "$work/curl.times")
our_kib=$(cut -d' ' -f2 "$work/ours.times" | sort -n | tail -n 1)  # the highest peak
report "2000 x 100 KB (best of 5)" "$ours" "$our_kib" "$theirs" "$curl_kib" \
  "$(find "$work/ours.3" -name '*.jpg' | wc -l) files"
rm -rf "$work"/ours.* "$work"/curl.*

# one 150 MB image: the largest the workers take when no maximum size was set is 200 MB
head -c 150M /dev/urandom > "$work/www/big.bin"
mkdir -p "$work/ours"
echo "$base/big.bin" > "$work/big.txt"
read -r ours our_kib < <(measure "$bench" workers "$work/big.txt" "$work/ours")
read -r theirs curl_kib < <(measure curl -s -o "$work/curl.bin" "$base/big.bin")
cmp -s "$work/ours/1.jpg" "$work/www/big.bin" && same="file identical" || same="FILE DIFFERS"
report "one 150 MB image" "$ours" "$our_kib" "$theirs" "$curl_kib" "$same"

# --limit-rate: 8 images of 256 KiB (2 MiB) at 500K, one limit shared by the 15 workers.
# 2 MiB at 512000 bytes a second cannot take less than about 4.1 s.
mkdir -p "$work/www/slow" "$work/limited"
for i in $(seq 1 8); do head -c 262144 /dev/urandom > "$work/www/slow/$i.jpg"; done
seq 1 8 | sed "s|.*|$base/slow/&.jpg|" > "$work/slow.txt"
read -r limited _ < <(measure "$bench" workers "$work/slow.txt" "$work/limited" 512000)
echo "limit-rate 500K: 2 MiB in $limited s (at least 4.1 s expected)"

account_bench
follow_bench
