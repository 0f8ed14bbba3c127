#!/usr/bin/env bash
# Starts the built program, or says why it cannot.
set -u
bin="${1:-build/velrisa}"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "Velrisa needs a graphical desktop and none is set (no DISPLAY or WAYLAND_DISPLAY): start it from a desktop session, or under xvfb-run." >&2
    exit 1
fi
exec "$bin" "${@:2}"
