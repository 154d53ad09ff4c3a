#!/bin/sh
# Runs every benchmark of the release build in $1. Each prints its own figures, one line per
# figure: `NAME: OURS / REFERENCE = RATIO` or `NAME: VALUE UNIT`. A benchmark never fails on
# a figure; one that cannot run says so and the others still run.
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
for b in $(find "$build/bench" -maxdepth 1 -type f -name 'bench_*' -perm -u+x | sort); do
    "$b" || echo "$(basename "$b"): не удалось выполнить"
done
for area in yandex engine video; do
    if [ -f "$here/$area/run.sh" ]; then
        sh "$here/$area/run.sh" "$build" || echo "bench $area: не удалось выполнить"
    fi
done
exit 0
