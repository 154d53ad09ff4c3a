#!/bin/sh
# Installs the Debian packages that building, running and testing Tovrin need.
# Quiet when everything is present; one apt-get update only when something is missing.
set -e

RUN_PACKAGES="qt6-base-dev qt6-svg-dev qt6-translations-l10n libqt6svg6 \
libcurl4-openssl-dev libssl-dev libarchive-dev libicu-dev ca-certificates \
yt-dlp ffmpeg cmake g++ make pkg-config"
TEST_PACKAGES="libcpp-httplib-dev openssl python3 zip dbus-daemon sqlite3"
BENCH_PACKAGES="curl aria2 libarchive-tools nginx-light time"

case "$1" in
    run) wanted="$RUN_PACKAGES" ;;
    test) wanted="$RUN_PACKAGES $TEST_PACKAGES" ;;
    bench) wanted="$RUN_PACKAGES $TEST_PACKAGES $BENCH_PACKAGES" ;;
    *) echo "usage: $0 run|test|bench" >&2; exit 2 ;;
esac

missing=""
for p in $wanted; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    case "$status" in
        *"ok installed"*) ;;
        *) missing="$missing $p" ;;
    esac
done

[ -z "$missing" ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "Не хватает пакетов:$missing — установите их (sudo apt-get install$missing)" >&2
    exit 1
fi

echo "Устанавливаются пакеты:$missing"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq >/dev/null
apt-get install -y -qq --no-install-recommends $missing >/dev/null
