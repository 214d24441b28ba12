// The mixer's per-frame passes: every filter, every blend mode, fade and flash, and the heaviest
// composite a performer can set up. Each figure is also printed as a ratio to copying one
// 153,600-byte frame in the same run.
#include <benchmark/benchmark.h>

#include "bench/RatioReporter.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "core/FrameBuffers.h"
#include "mixer/Compositor.h"
#include "mixer/Decks.h"
#include "mixer/EffectTable.h"
#include "mixer/Filters.h"
#include "tracks/Track.h"

namespace {

void randomFrames() {
    allocateFrameBuffers();
    srand(1);
    for (int i = 0; i < 2 * FramePixels; i++) {
        deckFrames[i] = uint16_t(rand());
        mixFrames[i] = deckFrames[i];
    }
    for (int i = 0; i < FramePixels; i++) alphaPlane[i] = uint8_t(rand() % 16);
}

void FrameCopy(benchmark::State& state) {
    randomFrames();
    for (auto _ : state) {
        benchmark::DoNotOptimize(mixFrames);
        std::memcpy(mixFrames, deckFrames, FrameBytes);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(FrameCopy);

// Filters run on data of any content at the same speed, so the frame is not refreshed between runs.
template <void (*filter)(int, int)>
void FilterPass(benchmark::State& state) {
    randomFrames();
    const int value = int(state.range(0));
    for (auto _ : state) {
        filter(1, value);
        benchmark::ClobberMemory();
    }
}
BENCHMARK_TEMPLATE(FilterPass, applyInvert)->Name("Invert")->Arg(0);
BENCHMARK_TEMPLATE(FilterPass, applyBurned)->Name("Burned")->Arg(3);
BENCHMARK_TEMPLATE(FilterPass, applyGameBoy)->Name("GameBoy")->Arg(0);
BENCHMARK_TEMPLATE(FilterPass, applyMirror)->Name("Mirror")->DenseRange(0, 3);
BENCHMARK_TEMPLATE(FilterPass, applyHue)->Name("Hue")->DenseRange(0, 3);
BENCHMARK_TEMPLATE(FilterPass, applyZoom)->Name("Zoom")->DenseRange(0, 1);
BENCHMARK_TEMPLATE(FilterPass, applySnow)->Name("Snow")->DenseRange(0, 3);

void ScrollPass(benchmark::State& state) {
    randomFrames();
    effectTable.clearEffects();
    effectTable.slots[1][0] = EffectSlot{Scroll, int32_t(state.range(0)), 1, 0};
    for (auto _ : state) {
        applyScroll(1, int(state.range(0)), 0);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(ScrollPass)->Name("Scroll")->DenseRange(0, 3);

void BlendPass(benchmark::State& state) {
    randomFrames();
    const int mode = int(state.range(0));
    const bool alpha = state.range(1) != 0;
    for (auto _ : state) {
        blendDecks(mode, alpha);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BlendPass)->Name("Blend")->ArgNames({"mode", "alphaPlane"})
    ->Args({1, 0})->Args({2, 0})->Args({3, 0})->Args({3, 1})->Args({4, 0})->Args({6, 0});

void FadePass(benchmark::State& state) {
    randomFrames();
    for (auto _ : state) {
        fadeFrame(mixFrames, 7);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(FadePass)->Name("Fade");

void FlashPass(benchmark::State& state) {
    randomFrames();
    for (auto _ : state) {
        flashFrame(mixFrames, 7);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(FlashPass)->Name("Flash");

// Two decks blended with fade on the way to the screen, as composite runs them: copies, blend, fade
// and present (without a vector unit the blend and the fade share one pass).
void BlendFadeComposite(benchmark::State& state) {
    randomFrames();
    effectTable.clearEffects();
    decks.resetDecks();
    decks.blendMode = int32_t(state.range(0));
    decks.decks[1].track = 0;
    tracks[0].hasAlpha = uint8_t(state.range(1));
    decks.fade = 7;
    for (auto _ : state) {
        composite(decks, 0, 0, false);
        benchmark::ClobberMemory();
    }
    tracks[0].hasAlpha = 0;
}
BENCHMARK(BlendFadeComposite)->ArgNames({"mode", "alphaPlane"})
    ->Args({1, 0})->Args({2, 0})->Args({3, 0})->Args({3, 1})->Args({4, 0})->Args({6, 0});

// The worst frame: alpha blending with an alpha plane, all eight compositor filters on both decks,
// fade and flash, and the copy into the screen.
void WorstComposite(benchmark::State& state) {
    randomFrames();
    const int ids[8] = {Invert, Burned, Snow, Zoom, GameBoy, Mirror, Hue, Scroll};
    effectTable.clearEffects();
    for (int d = 0; d < 2; d++)
        for (int s = 0; s < 8; s++) effectTable.slots[d][s] = EffectSlot{ids[s], 1, 1, 0};
    decks.resetDecks();
    decks.blendMode = 3;
    decks.decks[1].track = 0;
    tracks[0].hasAlpha = 1;
    decks.fade = 5;
    decks.flash = 7;
    for (auto _ : state) {
        composite(decks, 50, 100, true);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(WorstComposite);


}  // namespace

int main(int argc, char** argv) {
    // Repeated and interleaved unless the command line says otherwise (see RatioReporter).
    std::vector<char*> args(argv, argv + argc);
    bool repetitions = false, interleaving = false;
    for (int i = 1; i < argc; i++) {
        repetitions |= std::strncmp(argv[i], "--benchmark_repetitions", 23) == 0;
        interleaving |= std::strncmp(argv[i], "--benchmark_enable_random_interleaving", 38) == 0;
    }
    char repeat[] = "--benchmark_repetitions=5", interleave[] = "--benchmark_enable_random_interleaving=true";
    if (!repetitions) args.push_back(repeat);
    if (!interleaving) args.push_back(interleave);
    int count = int(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
