#!/bin/sh
# Builds the .X reader fuzz target with clang (libFuzzer, AddressSanitizer, UBSan) and runs
# it. Usage: fuzz/xfile/run.sh [seconds, default 120] [extra libFuzzer options...]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
seconds=${1:-120}
[ $# -gt 0 ] && shift
work=${FUZZ_WORK:-${TMPDIR:-/tmp}/ferrowalk-fuzz-xfile}
mkdir -p "$work/corpus" "$work/findings"

clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$repo" \
    "$here/fuzz_xfile.cpp" \
    "$repo"/platform/d3dx9/anim/xfile_reader.cpp \
    "$repo"/platform/d3dx9/anim/xfile_mszip.cpp \
    "$repo"/platform/d3dx9/anim/xfile_mesh.cpp \
    "$repo"/platform/d3dx9/mesh/vertex_format.cpp \
    "$repo"/platform/d3dx9/anim/anim_set.cpp \
    "$repo"/platform/d3dx9/math/*.cpp \
    "$repo"/platform/win32/files.cpp \
    -lz -o "$work/fuzz_xfile"

# Seeds: small files of every encoding, plus the shared real files when they are there.
printf 'xof 0303txt 0032\nFrame A { FrameTransformMatrix { 1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1;; }\n Mesh M { 4; 0;0;0;, 1;0;0;, 1;1;0;, 0;1;0;; 1; 4;0,1,2,3;;\n  MeshNormals { 1; 0;0;-1;; 1; 4;0,0,0,0;; }\n  MeshTextureCoords { 4; 0;0;, 1;0;, 1;1;, 0;1;; }\n  MeshVertexColors { 1; 0; 1;0;0;1;;; }\n  MeshMaterialList { 1; 1; 0;; Material { 1;1;1;1;; 5; 0;0;0;; 0;0;0;; TextureFilename { "t.bmp"; } } }\n  XSkinMeshHeader { 1; 1; 1; }\n  SkinWeights { "A"; 2; 0,1; 0.5,1; 1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1;; }\n }\n}\nAnimTicksPerSecond { 30; }\nAnimationSet S { Animation { {A} AnimationKey { 0; 2; 0;4;1,0,0,0;;, 30;4;0,1,0,0;;; } AnimationKey { 4; 1; 0;16;1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1;;; } } }\n' > "$work/corpus/seed_text.x"
printf 'xof 0302bin 0032\001\000\005\000\000\000Frame\012\000\001\000\004\000\000\000Mesh\012\000\006\000\002\000\000\000\003\000\000\000\000\000\000\000\007\000\002\000\000\000\000\000\200\077\000\000\000\100\013\000\013\000' > "$work/corpus/seed_bin.x"
printf 'xof 0302tzip0064\021\000\000\000\001\000\005\000CK\343\002\000' > "$work/corpus/seed_tzip.x"
shared="$repo/../shared/testdata/xfiles"
if [ -d "$shared" ]; then
    for f in "$shared"/*/*.x; do
        size=$(wc -c < "$f")
        [ "$size" -le 65536 ] && cp "$f" "$work/corpus/"
    done
fi

cd "$work/findings"
exec "$work/fuzz_xfile" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=1024 \
    -timeout=10 "$@" "$work/corpus"
