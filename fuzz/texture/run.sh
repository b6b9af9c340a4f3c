#!/bin/sh
# Builds the texture decoders' fuzz target with clang (libFuzzer, AddressSanitizer, UBSan)
# outside the CMake build and runs it. Usage: fuzz/texture/run.sh [seconds, default 120]
# [extra libFuzzer options...]. Findings (crash-*, timeout-*, oom-*) land in the work folder.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
seconds=${1:-120}
[ $# -gt 0 ] && shift
work=${FUZZ_WORK:-${TMPDIR:-/tmp}/ferrowalk-fuzz-texture}
mkdir -p "$work/corpus" "$work/findings"
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$root" -I/usr/include/stb "$here/fuzz_texture.cpp" "$root"/platform/d3dx9/tex/image.cpp \
    "$root"/platform/d3dx9/tex/png.cpp "$root"/platform/d3dx9/tex/jpeg.cpp \
    "$root"/platform/d3dx9/tex/dds.cpp "$root"/platform/d3d9/formats.cpp \
    -lpng -ljpeg -o "$work/fuzz_texture"
# Seeds: one small image of each kind (ImageMagick), and the DDS target's seeds.
if command -v convert > /dev/null; then
    for kind in png:rgb png:grey jpg:rgb jpg:grey bmp:rgb tga:rgb tga:rle; do
        ext=${kind%%:*} variant=${kind#*:}
        case $variant in
        grey) options="-colorspace gray" ;;
        rle) options="-compress RLE" ;;
        *) options="" ;;
        esac
        # shellcheck disable=SC2086
        convert -size 8x8 gradient:red-blue $options "$work/corpus/seed_$variant.$ext" 2>/dev/null || true
    done
fi
cp "$root"/fuzz/dds/corpus/* "$work/corpus/" 2>/dev/null || true
cd "$work/findings"
exec "$work/fuzz_texture" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=1024 \
    -timeout=10 "$@" "$work/corpus"
