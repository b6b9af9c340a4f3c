#!/bin/sh
# Builds the program and the asset generator, writes the default data set into data/ and
# starts the program there. Without a display it renders offscreen, saves a screenshot and
# says where.
set -eu

BUILD_DIR=${BUILD_DIR:-build/release}
JOBS=${JOBS:-2}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"

targets="ferrowalk"
if cmake --build "$BUILD_DIR" --target help | grep -q '\bassetgen\b'; then
    targets="$targets assetgen"
fi
cmake --build "$BUILD_DIR" --target $targets -j"$JOBS"

mkdir -p data
if [ -x "$BUILD_DIR/tools/assetgen/assetgen" ]; then
    "$BUILD_DIR/tools/assetgen/assetgen" data
else
    echo "run: no asset generator in this build yet; starting without generated data" >&2
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    mkdir -p out
    shot="$ROOT/out/ferrowalk.png"
    echo "run: no display; rendering 300 frames offscreen"
    status=0
    "$BUILD_DIR/app/ferrowalk" --data data --headless --frames 300 --screenshot "$shot" ||
        status=$?
    [ -f "$shot" ] && echo "run: the last frame is in $shot"
    exit $status
fi
exec "$BUILD_DIR/app/ferrowalk" --data data "$@"
