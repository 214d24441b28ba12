#!/bin/sh
# Instructions, data-cache line fills and write-backs per output frame on the console build (armel,
# -mcpu=arm926ej-s, -O2), counted under "qemu-arm -cpu arm926" by two TCG plugins: the instruction
# counter (console/insn_count.c) and a model of the processor's data cache (console/cache_count.c:
# 16 KB, 4-way, 32-byte lines, read-allocate, write-back). Each state runs twice, with FIRST and
# FIRST + FRAMES frames; the differences over FRAMES leave out loading and start-up. The cycle
# estimate is CPI x instructions + FILL x fills + WRITEBACK x write-backs + STORE x stores that
# missed (to the write buffer); the README gives the reasons for the defaults below.
# A benchmark, not a test. Usage: scripts/console-bench.sh [HOST_BUILD_DIR]   (its loopmixer-clip
# writes the demo clips that the decks play; its run folder's mandelbrot.q18, the default set's
# busiest footage, is taken when it is there)
set -e
cd "$(dirname "$0")/.."
host="${1:-build}"
frames="${LOOPMIXER_BENCH_FRAMES:-20}"
cpi="${LOOPMIXER_CPI:-1.4}" fill="${LOOPMIXER_FILL_CYCLES:-28}" writeback="${LOOPMIXER_WRITEBACK_CYCLES:-20}"
store="${LOOPMIXER_STORE_CYCLES:-1}"
first=2
out="${LOOPMIXER_BENCH_DIR:-build-console-bench}"  # the build folder
cmake -S . -B "$out" -DCMAKE_TOOLCHAIN_FILE=console/armel.cmake -DLOOPMIXER_CONSOLE=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLOOPMIXER_TESTS=OFF ${LOOPMIXER_KERNELS:+-DLOOPMIXER_KERNELS=$LOOPMIXER_KERNELS} >/dev/null
cmake --build "$out" -j"$(nproc)" --target console-frames >/dev/null
cc -O2 -shared -fPIC -Wall -Wextra console/insn_count.c -o "$out/insn_count.so"
cc -O2 -shared -fPIC -Wall -Wextra console/cache_count.c -o "$out/cache_count.so"
run="$out/run"
if [ ! -f "$run/videos/plasma.q18" ]; then
  mkdir -p "$run/videos"
  "$host/tools/clip/loopmixer-clip" demo "$run/videos" >/dev/null
fi
busy=plasma.q18
if [ -f "$host/run/videos/mandelbrot.q18" ]; then
  cp "$host/run/videos/mandelbrot.q18" "$run/videos/"
  busy=mandelbrot.q18
fi

count() {  # state deck0 deck1 frames: "instructions fills writebacks buffered"
  qemu-arm -cpu arm926 -L /usr/arm-linux-gnueabi -plugin "$out/insn_count.so" -plugin "$out/cache_count.so" \
    "$out/console/console-frames" "$run" "$2" "$3" "$1" "$4" 2>&1 >/dev/null |
    awk '/^instructions /{i=$2} /^fills /{f=$2} /^writebacks /{w=$2} /^buffered /{b=$2} END{print i, f, w, b}'
}
per_frame() {  # label state deck0 deck1
  a=$(count "$2" "$3" "$4" "$first")
  b=$(count "$2" "$3" "$4" $((first + frames)))
  echo "$a $b" | awk -v n="$frames" -v label="$1" -v cpi="$cpi" -v fill="$fill" -v wb="$writeback" -v st="$store" '{
    i = ($5 - $1) / n; f = ($6 - $2) / n; w = ($7 - $3) / n; s = ($8 - $4) / n
    c = cpi * i + fill * f + wb * w + st * s
    printf "%-56s %6.2f M %7.0f %7.0f %7.0f %6.2f M %5.1f\n", label, i / 1e6, f, w, s, c / 1e6, 200e6 / c }'
}

echo "per output frame ($frames frames; deck 0 plasma.q18 or $busy, deck 1 orb.q18, fields.q18 or $busy)"
echo "cycles = $cpi x instructions + $fill x fills + $writeback x write-backs + $store x buffered stores; fps at 200 MHz"
printf '%-56s %8s %7s %7s %7s %8s %5s\n' state instr fills wbacks stores cycles fps
per_frame "heaviest four, alpha ($busy + orb.q18), fade" heaviest-alpha "$busy" orb.q18
per_frame "heaviest four, add (plasma.q18 + $busy), fade" heaviest-add plasma.q18 "$busy"
per_frame "all eight slots, alpha ($busy + orb.q18), fade" eight-alpha "$busy" orb.q18
per_frame "all eight slots, add (plasma.q18 + $busy), fade" eight-add plasma.q18 "$busy"
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
