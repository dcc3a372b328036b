// Times the RGB to YUV 4:2:0 conversion of one 720x576 frame, plain and SSE2,
// and the median and low-pass luma filters.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "engine/Input.h"

namespace {

constexpr int W = 720, H = 576;

void BM_ConvertFrame(benchmark::State& state) {
    InitColorConversionTables();
    std::vector<uint8_t> rgb(static_cast<size_t>(W) * 3 * H);
    std::mt19937 rng(1);
    for (auto& v : rgb) v = static_cast<uint8_t>(rng());
    std::vector<uint8_t> y(static_cast<size_t>(W) * H), cb(y.size() / 4), cr(y.size() / 4);
    input_init(state.range(0) != 0, InputKernelSet);
    for (auto _ : state) {
        ConvertRgbFrameToYuv(rgb.data(), W, H, y.data(), W, cb.data(), cr.data(), W / 2, 16);
        benchmark::DoNotOptimize(y.data());
    }
    state.SetLabel(state.range(0) ? "sse2" : "plain");
}
BENCHMARK(BM_ConvertFrame)->Arg(0)->Arg(1);

void BM_FilterLuma(benchmark::State& state) {
    std::vector<uint8_t> src(static_cast<size_t>(W) * H), out(src.size());
    std::mt19937 rng(2);
    for (auto& v : src) v = static_cast<uint8_t>(rng());
    input_init(true, InputKernelSet);
    for (auto _ : state) {
        if (state.range(0)) LowPassFilterPlane(src.data(), out.data(), W, H, W, 50);
        else MedianFilterPlane(src.data(), out.data(), W, H, W, 50);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetLabel(state.range(0) ? "low-pass" : "median");
}
BENCHMARK(BM_FilterLuma)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
