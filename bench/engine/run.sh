#!/bin/sh
# Runs the engine benchmarks of the release build in $1.
build=$(cd "$1" && pwd)
bench="$build/bench/engine/bench_engine_install"
if [ ! -x "$bench" ]; then
    echo "engine-install: не собран (нужна сборка с тестами)"
    exit 0
fi
for tool in curl sha256sum bsdtar; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "engine-install: нет $tool для сравнения"
        exit 0
    fi
done
"$bench"
