#!/usr/bin/env bash
# Takes a picture of velkador's window: starts the built program under a
# virtual display with a temporary home holding the UI file and a
# configuration, waits for the window, grabs the screen and stops it.
#
#   tools/screenshot.sh [build-dir] [out.png]
#
# build-dir defaults to build/, out.png to <build-dir>/screenshot.png.
# VELKADOR_RC names the configuration to use (default: data/velkadorrc.example).
set -euo pipefail

src="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$src/build}"
out="${2:-$build/screenshot.png}"
program="$build/velkador"

if [ ! -x "$program" ]; then
    echo "screenshot: no program at $program (build it first)" >&2
    exit 1
fi

# Without a display, run again under a virtual one.
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" "$0" "$build" "$out"
fi

home="$(mktemp -d "${TMPDIR:-/tmp}/velkador-shot-XXXXXX")"
pid=""
cleanup() {
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
        kill -TERM "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    fi
    rm -rf "$home"
}
trap cleanup EXIT

mkdir -p "$home/.velkador"
cp "$src/data/velkador.glade" "$home/.velkador/"
rc="${VELKADOR_RC:-$src/data/velkadorrc.example}"
[ -f "$rc" ] && cp "$rc" "$home/.velkador/velkadorrc"

HOME="$home" NO_AT_BRIDGE=1 "$program" 2>"$home/stderr.txt" &
pid=$!

if ! timeout 30 xdotool search --sync --onlyvisible --pid "$pid" >/dev/null; then
    echo "screenshot: the window did not appear; the program wrote:" >&2
    cat "$home/stderr.txt" >&2
    exit 1
fi
# Keep the pointer off the window, so no tooltip covers it.
xdotool mousemove 0 0 >/dev/null 2>&1 || true
xdotool mousemove "$(xdotool getdisplaygeometry | cut -d' ' -f1)" \
    "$(xdotool getdisplaygeometry | cut -d' ' -f2)" >/dev/null 2>&1 || true
# Let the first frames (scope, waterfall, an error dialog if any) be drawn.
sleep 2

import -window root "$out"
if [ -s "$home/stderr.txt" ]; then
    echo "screenshot: the program wrote:" >&2
    cat "$home/stderr.txt" >&2
fi
echo "screenshot: $out"
