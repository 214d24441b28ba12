#!/bin/sh
# Instructions per output frame on the console build (armel, -mcpu=arm926ej-s, -O2), counted under
# "qemu-arm -cpu arm926" by a TCG plugin (console/insn_count.c). Each state runs twice, with
# FIRST and FIRST + FRAMES frames; the difference over FRAMES leaves out loading and start-up.
# A benchmark, not a test. Usage: scripts/console-bench.sh [HOST_BUILD_DIR]   (its loopmixer-clip
# writes the demo clips that the decks play)
set -e
cd "$(dirname "$0")/.."
host="${1:-build}"
frames="${LOOPMIXER_BENCH_FRAMES:-20}"
first=2
out=build-console-bench
cmake -S . -B "$out" -DCMAKE_TOOLCHAIN_FILE=console/armel.cmake -DLOOPMIXER_CONSOLE=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLOOPMIXER_TESTS=OFF ${LOOPMIXER_KERNELS:+-DLOOPMIXER_KERNELS=$LOOPMIXER_KERNELS} >/dev/null
cmake --build "$out" -j"$(nproc)" --target console-frames >/dev/null
cc -O2 -shared -fPIC -Wall -Wextra console/insn_count.c -o "$out/insn_count.so"
run="$out/run"
if [ ! -f "$run/videos/plasma.q18" ]; then
  mkdir -p "$run/videos"
  "$host/tools/clip/loopmixer-clip" demo "$run/videos" >/dev/null
fi

count() {  # state deck0 deck1 frames
  qemu-arm -cpu arm926 -L /usr/arm-linux-gnueabi -plugin "$out/insn_count.so" \
    "$out/console/console-frames" "$run" "$2" "$3" "$1" "$4" 2>&1 >/dev/null | sed -n 's/^instructions //p'
}
per_frame() {  # label state deck0 deck1
  a=$(count "$2" "$3" "$4" "$first")
  b=$(count "$2" "$3" "$4" $((first + frames)))
  printf '%-44s %6.2f million\n' "$1" "$(echo "($b - $a) / $frames / 1000000" | bc -l)"
}

echo "instructions per output frame ($frames frames; deck 0 plasma.q18, deck 1 orb.q18 or fields.q18)"
per_frame "heaviest, alpha (orb.q18 has alpha), fade" heaviest-alpha plasma.q18 orb.q18
per_frame "heaviest, add, fade" heaviest-add plasma.q18 fields.q18
for m in 1 2 3 4 6; do
  per_frame "two decks, blend mode $m, no filter, fade" blend-$m plasma.q18 fields.q18
done
per_frame "two decks, alpha plane (orb.q18), fade" blend-3 plasma.q18 orb.q18
for m in 0 1 3; do
  per_frame "decoding alone, as for blend mode $m" decode-$m plasma.q18 fields.q18
done
per_frame "decoding alone, alpha plane (orb.q18)" decode-3 plasma.q18 orb.q18
for f in "1 0 MIRROR" "1 1 MIRROR" "2 0 SCROLL" "2 1 SCROLL" "3 0 INVERT" "4 0 BURNED" "5 0 ZOOM" "5 1 ZOOM" \
  "6 0 HUE" "6 3 HUE" "7 0 GAME_BOY" "9 0 SNOW" "9 3 SNOW"; do
  set -- $f
  per_frame "$3 $2 alone, one deck" "filter-$1-$2" plasma.q18 fields.q18
done
# The remaining values of the filters that take one, each pass alone on one deck.
for f in "1 2 MIRROR" "1 3 MIRROR" "2 2 SCROLL" "2 3 SCROLL" "4 1 BURNED" "4 2 BURNED" "4 3 BURNED" "5 2 ZOOM" \
  "6 1 HUE" "6 2 HUE" "9 1 SNOW" "9 2 SNOW"; do
  set -- $f
  per_frame "$3 $2 alone, one deck" "filter-$1-$2" plasma.q18 fields.q18
done
# The blends without fade: each blend pass on its own, then the copy to the screen.
for m in 1 2 3 4 6; do
  per_frame "two decks, blend mode $m, no filter, no fade" unfaded-$m plasma.q18 fields.q18
done
per_frame "two decks, alpha plane (orb.q18), no fade" unfaded-3 plasma.q18 orb.q18
