#!/bin/sh
# Yandex Disk benchmarks, side by side with the reference tools on loopback:
#   yandex-single-2gib        one 2 GiB file: ours / curl -o
#   yandex-folder-5000        5,000 files (4 KiB–1 MiB, 4 levels), 8 parallel: ours / aria2c -j8
#   yandex-folder-5000-curl   the same files: ours / curl -Z --parallel-max 8
#   yandex-folder-5000-latency 5,000 files in one folder, every API answer 150 ms late:
#                             ours / curl -Z --parallel-max 8 (no API at all)
#   yandex-api-calls-folder-5000  API requests of one such run
#   yandex-folder-5000-listing, yandex-rss-single, yandex-rss-folder, yandex-loop-stall
#   (and yandex-loop-stall-machine-reference: an idle event loop's stall during our run)
# File bodies come from nginx (with byte ranges); listing pages and download links from our
# API stand-in. Ours includes the listing and the download-link requests; the references get
# ready URL lists. Each comparison runs ROUNDS times alternating ours and the reference and
# prints the median. Never fails on a figure.
# Usage: run.sh BUILD_DIR
build=$(cd "$1" && pwd)
tool="$build/bench/yandex/bench_yandex"
rounds=${ROUNDS:-3}
only=${ONLY:-all}  # "single", "folder" or "latency" to run one part while investigating
if [ ! -x "$tool" ]; then
    echo "bench yandex: не собран $tool"
    exit 0
fi
for program in nginx curl aria2c awk truncate python3; do
    if ! command -v "$program" >/dev/null 2>&1 && [ ! -x "/usr/sbin/$program" ]; then
        echo "bench yandex: нет программы $program"
        exit 0
    fi
done
. "$(cd "$(dirname "$0")/.." && pwd)/nginx.sh"

work=$(mktemp -d /tmp/tovrin-bench-yandex.XXXXXX)
chmod 755 "$work"
api_pid=""
slow_pid=""
cleanup() {
    nginx_stop "$work/nginx"
    [ -n "$api_pid" ] && kill "$api_pid" 2>/dev/null
    [ -n "$slow_pid" ] && kill "$slow_pid" 2>/dev/null
    sleep 0.2
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
median() { sort -n | awk '{ v[NR] = $1 } END { if (NR) print v[int((NR + 1) / 2)] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f\n", a / b; else print "—" }'; }
field() { sed -n "s/.*$1=\([^ ]*\).*/\1/p"; }
fresh() { rm -rf "$1"; mkdir -p "$1"; sync; }

# Data: sparse files, generated in a moment.
data="$work/data"
mkdir -p "$data/single" "$work/out"
truncate -s 2G "$data/single/big.bin"
"$tool" make-tree "$data/tree" 5000 >/dev/null || { echo "bench yandex: нет данных"; exit 0; }

nginx_start "$work/nginx" "$data" 2 "application/octet-stream bin;"
files="http://127.0.0.1:$nginx_port"
nginx_ready "$files/single/big.bin" || { echo "bench yandex: nginx не запустился"; exit 0; }

"$tool" serve-api "$data" "$files" single=single/big.bin tree=tree >"$work/api.port" &
api_pid=$!
i=0
until [ -s "$work/api.port" ]; do  # it hashes every file first, as the service lists digests
    i=$((i + 1))
    if [ $i -gt 900 ]; then echo "bench yandex: нет API"; exit 0; fi
    sleep 0.1
done
api="http://127.0.0.1:$(head -n1 "$work/api.port")"

# Reference URL lists for the folder.
(cd "$data" && find tree -type f | sort) >"$work/tree.list"
awk -v base="$files" '{ print base "/" $0; print "  out=" $0 }' "$work/tree.list" >"$work/aria2.list"
awk -v base="$files" -v out="$work/out/curl" \
    '{ print "url = \"" base "/" $0 "\""; print "output = \"" out "/" $0 "\"" }' \
    "$work/tree.list" >"$work/curl.config"

run_ours() {  # LINK DEST; prints the headless run's line, wall time measured here
    fresh "$2"
    start=$(now)
    line=$("$tool" run "$api" "$1" "$2" 8)
    end=$(now)
    echo "shell_wall=$(elapsed "$start" "$end") $line"
}

timed() {  # COMMAND...; prints the wall time
    start=$(now)
    "$@" >/dev/null 2>&1
    end=$(now)
    elapsed "$start" "$end"
}

: >"$work/single.ours"; : >"$work/single.ref"; : >"$work/single.ratio"; : >"$work/single.rss"
case "$only" in all | single) rounds_single=$rounds ;; *) rounds_single=0 ;; esac
for r in $(seq "$rounds_single"); do
    line=$(run_ours "https://disk.yandex.ru/d/single" "$work/out/ours")
    ours=$(echo "$line" | field shell_wall)
    echo "$line" | field rss_mb >>"$work/single.rss"
    fresh "$work/out/curl"
    ref=$(timed curl -s -o "$work/out/curl/big.bin" "$files/single/big.bin")
    echo "$ours" >>"$work/single.ours"; echo "$ref" >>"$work/single.ref"
    ratio "$ours" "$ref" >>"$work/single.ratio"
    echo "$line" | grep -q "phase=4" || echo "bench yandex: наш прогон не завершился: $line"
done
rm -rf "$work/out/ours" "$work/out/curl"
echo "yandex-single-2gib: $(median <"$work/single.ours") s / $(median <"$work/single.ref") s = $(median <"$work/single.ratio")"

for f in oursa oursc aria ariaratio curl curlratio rss stall busystall listing; do : >"$work/folder.$f"; done
case "$only" in all | folder) rounds_folder=$rounds ;; *) rounds_folder=0 ;; esac
for r in $(seq "$rounds_folder"); do
    # An event loop that does nothing, in a process of its own, during our run: the stalls
    # that the loaded machine itself (scheduler, virtual CPU) inflicts on any event loop.
    "$tool" idle-stall 5 | field stall_ms >>"$work/folder.busystall" &
    stall_pid=$!
    line=$(run_ours "https://disk.yandex.ru/d/tree" "$work/out/ours")
    wait "$stall_pid"
    ours=$(echo "$line" | field shell_wall)
    echo "$line" | grep -q "phase=4" || echo "bench yandex: наш прогон не завершился: $line"
    echo "$ours" >>"$work/folder.oursa"
    echo "$line" | field rss_mb >>"$work/folder.rss"
    echo "$line" | field stall_ms >>"$work/folder.stall"
    echo "$line" | field listing >>"$work/folder.listing"
    fresh "$work/out/aria"
    aria=$(timed aria2c -q -j8 -i "$work/aria2.list" -d "$work/out/aria")
    echo "$aria" >>"$work/folder.aria"; ratio "$ours" "$aria" >>"$work/folder.ariaratio"
    rm -rf "$work/out/aria"
    line=$(run_ours "https://disk.yandex.ru/d/tree" "$work/out/ours")
    ours=$(echo "$line" | field shell_wall)
    echo "$ours" >>"$work/folder.oursc"
    echo "$line" | field stall_ms >>"$work/folder.stall"
    fresh "$work/out/curl"
    ref=$(timed curl -s -Z --parallel-max 8 --create-dirs -K "$work/curl.config")
    echo "$ref" >>"$work/folder.curl"; ratio "$ours" "$ref" >>"$work/folder.curlratio"
    rm -rf "$work/out/curl"
done
echo "yandex-folder-5000: $(median <"$work/folder.oursa") s / $(median <"$work/folder.aria") s = $(median <"$work/folder.ariaratio")"
echo "yandex-folder-5000-curl: $(median <"$work/folder.oursc") s / $(median <"$work/folder.curl") s = $(median <"$work/folder.curlratio")"

# The API as a real network shows it: every answer 150 ms late, a flat folder of 5,000 files
# (its pages and the first look are the only calls a run needs).
"$tool" make-tree "$data/flat" 5000 flat >/dev/null
"$tool" serve-api "$data" "$files" latency=150 flat=flat >"$work/api-slow.port" &
slow_pid=$!
i=0
until [ -s "$work/api-slow.port" ]; do
    i=$((i + 1))
    if [ $i -gt 100 ]; then echo "bench yandex: нет API"; exit 0; fi
    sleep 0.1
done
slow="http://127.0.0.1:$(head -n1 "$work/api-slow.port")"
(cd "$data" && find flat -type f | sort) >"$work/flat.list"
awk -v base="$files" -v out="$work/out/curl" \
    '{ print "url = \"" base "/" $0 "\""; print "output = \"" out "/" $0 "\"" }' \
    "$work/flat.list" >"$work/flat.config"
for f in ours ref ratio calls; do : >"$work/latency.$f"; done
case "$only" in all | latency) rounds_latency=$rounds ;; *) rounds_latency=0 ;; esac
for r in $(seq "$rounds_latency"); do
    before=$(curl -s "$slow/bench/requests")
    fresh "$work/out/ours"
    start=$(now)
    line=$("$tool" run "$slow" "https://disk.yandex.ru/d/flat" "$work/out/ours" 8)
    end=$(now)
    after=$(curl -s "$slow/bench/requests")
    echo "$line" | grep -q "phase=4" || echo "bench yandex: наш прогон не завершился: $line"
    ours=$(elapsed "$start" "$end")
    echo $((after - before)) >>"$work/latency.calls"
    fresh "$work/out/curl"
    ref=$(timed curl -s -Z --parallel-max 8 --create-dirs -K "$work/flat.config")
    echo "$ours" >>"$work/latency.ours"; echo "$ref" >>"$work/latency.ref"
    ratio "$ours" "$ref" >>"$work/latency.ratio"
    rm -rf "$work/out/ours" "$work/out/curl"
done
echo "yandex-folder-5000-latency: $(median <"$work/latency.ours") s / $(median <"$work/latency.ref") s = $(median <"$work/latency.ratio")"
echo "yandex-api-calls-folder-5000: $(median <"$work/latency.calls")"
echo "yandex-folder-5000-listing: $(median <"$work/folder.listing") s"
echo "yandex-rss-single: $(sort -n "$work/single.rss" | tail -n1) MB"
echo "yandex-rss-folder: $(sort -n "$work/folder.rss" | tail -n1) MB"
echo "yandex-loop-stall: $(sort -n "$work/folder.stall" | tail -n1) ms"
echo "yandex-loop-stall-machine-reference: $(sort -n "$work/folder.busystall" | tail -n1) ms"
exit 0
