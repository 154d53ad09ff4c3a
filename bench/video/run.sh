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
    [ -f "$work/nginx/nginx.pid" ] && kill "$(cat "$work/nginx/nginx.pid")" 2>/dev/null
    sleep 0.2
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

hls=""
nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)
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
    port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    user_line=""
    [ "$(id -u)" -eq 0 ] && user_line="user root;"
    cat > "$work/nginx/nginx.conf" <<CONF
$user_line
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 256; }
http {
    access_log off;
    sendfile on;
    client_body_temp_path $work/nginx/body;
    proxy_temp_path $work/nginx/proxy;
    fastcgi_temp_path $work/nginx/fastcgi;
    uwsgi_temp_path $work/nginx/uwsgi;
    scgi_temp_path $work/nginx/scgi;
    types { application/vnd.apple.mpegurl m3u8; video/mp2t ts; }
    server {
        listen 127.0.0.1:$port;
        root $work;
    }
}
CONF
    "$nginx_bin" -p "$work/nginx" -c "$work/nginx/nginx.conf" 2>"$work/nginx/start.log"
    i=0
    until curl -s -o /dev/null "http://127.0.0.1:$port/hls/clip.m3u8"; do
        i=$((i + 1))
        if [ $i -gt 50 ]; then echo "video-hls-job: nginx не запустился"; break; fi
        sleep 0.1
    done
    [ $i -le 50 ] && hls="http://127.0.0.1:$port/hls/clip.m3u8"
fi
"$bench" $hls
