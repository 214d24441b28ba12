#!/bin/sh
# Builds and runs every test: the suite, the same suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, the decoder and mixer tests on the plain kernels, the console's core
# for armel under emulation, and each fuzzer for a bounded time. Headless.
set -e
cd "$(dirname "$0")"
scripts/deps.sh test
export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy
jobs="$(nproc)"
fuzz_seconds="${LOOPMIXER_FUZZ_SECONDS:-20}"

echo "== build and test"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs")

echo "== the Debian package: built, checked by lintian, installed, played as a new user, removed"
tests/package_test.sh build

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DLOOPMIXER_SANITIZE=ON -DLOOPMIXER_BENCH=OFF \
  -DLOOPMIXER_DEMO_TOOL="$PWD/build/tools/clip/loopmixer-clip" -DLOOPMIXER_FOOTAGE=OFF >/dev/null
cmake --build build-sanitize -j"$jobs"
(cd build-sanitize && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j"$jobs")

echo "== the plain pixel kernels and block decoders, as processors without a vector unit run them"
cmake -S . -B build-plain -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLOOPMIXER_KERNELS=plain -DLOOPMIXER_BENCH=OFF \
  -DLOOPMIXER_DEMO_TOOL="$PWD/build/tools/clip/loopmixer-clip" -DLOOPMIXER_FOOTAGE=OFF >/dev/null
plain_tests="track_decode_test track_decode_levels_test track_playback_test clip_golden_test mixer_kernels_test
  mixer_compositor_test mixer_filters_test"
cmake --build build-plain -j"$jobs" --target $plain_tests
for t in $plain_tests; do (cd build-plain && "tests/$t" --gtest_brief=1); done

echo "== the console's core for armel, tested under emulation"
scripts/console-build.sh build

echo "== fuzzers (${fuzz_seconds}s each)"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLOOPMIXER_FUZZ=ON \
  -DLOOPMIXER_TESTS=OFF -DLOOPMIXER_BENCH=OFF >/dev/null
make -C build-fuzz/fuzz -j"$jobs" >/dev/null
for f in build-fuzz/fuzz/*_fuzz; do
  [ -x "$f" ] || continue
  name="$(basename "$f")"
  corpus="build-fuzz/corpus-$name"
  mkdir -p "$corpus"
  seeds=""
  [ -d "fuzz/corpus/$name" ] && seeds="fuzz/corpus/$name"
  echo "-- $name"
  "$f" -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "$corpus" $seeds
done
echo "== all tests passed"
