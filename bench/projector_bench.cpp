// The projector's scaler at the outputs performers use, sharp and smooth: a frame of the picture
// onto 1280x720 and 1920x1080 (letterbox) and onto 1024x768 (fill). Each figure is also printed
// as a ratio to copying one 153,600-byte frame in the same run.
#include <benchmark/benchmark.h>

#include "bench/RatioReporter.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "projector/ProjectorScale.h"

namespace {

std::vector<uint16_t> picture() {
    std::vector<uint16_t> p(320 * 240);
    srand(1);
    for (uint16_t& v : p) v = uint16_t(rand());
    return p;
}

void FrameCopy(benchmark::State& state) {
    const std::vector<uint16_t> from = picture();
    std::vector<uint16_t> to(from.size());
    for (auto _ : state) {
        benchmark::DoNotOptimize(to.data());
        std::memcpy(to.data(), from.data(), from.size() * 2);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(FrameCopy);

void Scale(benchmark::State& state) {
    const int w = int(state.range(0)), h = int(state.range(1)), fit = int(state.range(2)), look = int(state.range(3));
    const std::vector<uint16_t> from = picture();
    std::vector<uint32_t> out(size_t(w) * h);
    ProjectorScaler scaler;
    for (auto _ : state) {
        scaler.scale(from.data(), out.data(), w, h, w, fit, look);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(Scale)
    ->ArgNames({"w", "h", "fit", "look"})
    ->Args({1280, 720, FitLetterbox, LookSharp})
    ->Args({1280, 720, FitLetterbox, LookSmooth})
    ->Args({1920, 1080, FitLetterbox, LookSharp})
    ->Args({1920, 1080, FitLetterbox, LookSmooth})
    ->Args({1024, 768, FitFill, LookSmooth});

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
