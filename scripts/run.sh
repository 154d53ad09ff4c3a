#!/bin/sh
# Starts the built program, or says in one line why it cannot show a window here.
if [ -z "$DISPLAY" ] && [ -z "$WAYLAND_DISPLAY" ]; then
    echo "make run: нет графического дисплея (DISPLAY и WAYLAND_DISPLAY не заданы) — запустите из графического сеанса или через xvfb-run make run" >&2
    exit 0
fi
exec "$1"
