#!/bin/sh
# Builds loopmixer and starts it on the bundled default set (build/run: data/ and videos/).
set -e
cd "$(dirname "$0")"
scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
cd build/run
exec ../loopmixer "$@"
