#!/bin/sh
# The console's build: the core (clips, decoders, filters, compositor, playlists file, safe save)
# cross-built for armel (ARM926EJ-S, ARMv5TE) without SDL, and its tests run under
# "qemu-arm -cpu arm926", stopped at every misaligned load or store.
# Usage: scripts/console-build.sh [HOST_BUILD_DIR]   (its loopmixer-clip writes the demo clips for
# the golden clip test; without it that test is left out)
set -e
cd "$(dirname "$0")/.."
jobs="$(nproc)"
host="${1:-build}"
tool=""
[ -x "$host/tools/clip/loopmixer-clip" ] && tool="$PWD/$host/tools/clip/loopmixer-clip"
cmake -S . -B build-console -DCMAKE_TOOLCHAIN_FILE=console/armel.cmake -DLOOPMIXER_CONSOLE=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLOOPMIXER_ALIGNMENT_CHECK=ON -DLOOPMIXER_DEMO_TOOL="$tool" >/dev/null
cmake --build build-console -j"$jobs"
(cd build-console && ctest --output-on-failure -j"$jobs")
