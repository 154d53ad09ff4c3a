#!/bin/sh
# Runs the video benchmarks of the release build in $1.
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
"$bench"
