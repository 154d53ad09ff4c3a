#!/bin/sh
# Runs the video benchmarks of the release build in $1. The streamed (HLS) one takes its
# playlist from nginx: one clip cut by FFmpeg into more than a hundred segments.
build=$(cd "$1" && pwd)
bench="$build/bench/video/bench_video_jobs"
if [ ! -x "$bench" ]; then
    echo "video: не собран (нужна сборка с тестами)"
    exit 0
fi
for tool in /usr/bin/yt-dlp /usr/bin/ffmpeg; do
    if [ ! -x "$tool" ]; then
        echo "video: нет $tool для сравнения"
        exit 0
    fi
done

work=$(mktemp -d /tmp/tovrin-bench-video.XXXXXX)
chmod 755 "$work"
cleanup() {
    nginx_stop "$work/nginx"
    sleep 0.2
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

hls=""
. "$(cd "$(dirname "$0")/.." && pwd)/nginx.sh"
mkdir -p "$work/hls" "$work/nginx"
if [ ! -x "$nginx_bin" ]; then
    echo "video-hls-job: нет nginx"
elif ! /usr/bin/ffmpeg -hide_banner -loglevel error -f lavfi \
        -i testsrc=size=640x360:rate=25:duration=60 -f lavfi -i sine=frequency=440:duration=60 \
        -c:v libx264 -preset ultrafast -pix_fmt yuv420p -g 12 -c:a aac -shortest \
        -f hls -hls_time 0.5 -hls_list_size 0 -hls_segment_filename "$work/hls/seg%03d.ts" \
        "$work/hls/clip.m3u8"; then
    echo "video-hls-job: не удалось подготовить ролик"
else
    nginx_start "$work/nginx" "$work" 1 "application/vnd.apple.mpegurl m3u8; video/mp2t ts;"
    if nginx_ready "http://127.0.0.1:$nginx_port/hls/clip.m3u8"; then
        hls="http://127.0.0.1:$nginx_port/hls/clip.m3u8"
    else
        echo "video-hls-job: nginx не запустился"
    fi
fi
"$bench" $hls
