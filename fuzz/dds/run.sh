#!/bin/sh
# Builds the DDS fuzz target with clang (libFuzzer + AddressSanitizer) outside the CMake
# build and runs it on the corpus. Usage: fuzz/dds/run.sh [seconds] (default 60).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
out=${FUZZ_OUT:-$root/build/fuzz-dds}
seconds=${1:-60}
mkdir -p "$out/corpus"
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$root" "$here/fuzz_dds.cpp" "$root/platform/d3dx9/tex/dds.cpp" \
    "$root/platform/d3d9/formats.cpp" -o "$out/fuzz_dds"
# New inputs go to the scratch corpus; the repository's seeds stay as they are.
"$out/fuzz_dds" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
    "$out/corpus" "$here/corpus"
