// Times motion estimation of one 720x576 P picture and one B picture in each
// performance mode, with the plain, the SSE2 and the AVX2 kernels, on one thread.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "engine/EngineState.h"
#include "engine/MotionEstimation.h"
#include "engine/Threads.h"
#include "settings/EncoderSettings.h"

namespace {

constexpr int W = 720, H = 576, Range = 16;

// A textured picture moved by (dx, dy) samples, with a little noise.
std::vector<uint8_t> Frame(double dx, double dy, uint32_t seed) {
    std::vector<uint8_t> p(size_t(W) * (H + 1));
    std::mt19937 rng(seed);
    for (int y = 0; y <= H; ++y) {
        for (int x = 0; x < W; ++x) {
            const double u = x + dx, v = y + dy;
            double s = 128 + 50 * std::sin(u * 0.05 + v * 0.013) + 30 * std::sin(v * 0.09 - u * 0.02) +
                       25 * std::sin(u * 0.31) * std::sin(v * 0.27);
            s += int(rng() % 7) - 3;
            p[size_t(y) * W + x] = uint8_t(std::clamp(int(s), 0, 255));
        }
    }
    return p;
}

struct Scene {
    std::vector<uint8_t> first = Frame(0, 0, 1), middle = Frame(3.5, -1.0, 2), last = Frame(7, -2, 3);
};
const Scene& TheScene() {
    static const Scene scene;
    return scene;
}

std::vector<uint8_t> TablesA, TablesB;
std::vector<MacroblockInfo> Records;

void SetUp(int mode, bool simd) {
    const int a = 4 * Range * Range;
    static const int level[6] = {0, 1, 2, 2, 3, 4};
    static const double points[6] = {0, 0.025, 0.05, 0.2, 0.25, 0.3};
    static const int threshold[6] = {0, 64, 25, 9, 4, 0};
    EncoderSettings.performanceMode = mode;
    EncoderSettings.meSearchLevel = level[mode];
    EncoderSettings.meSearchPoints = std::max(32, int(a * points[mode]));
    EncoderSettings.meThreshold = threshold[mode];
    EncoderSettings.ipDistance = 2;
    EncoderSettings.gopSize = 12;
    MotionState.MeExhaustive = threshold[mode] == 0;
    MeThreadCount = 1;
    ThreadTablesFlag = 0;
    int bytes = 0;
    InitMotionEstimation(W, H, mode, simd, Range, Range, Range, Range, &bytes, 4, 0);
    TablesA.assign(bytes, 0);
    TablesB.assign(bytes, 0);
    MotionState.priz = TablesA.data();
    MotionState.prizn = TablesB.data();
    Records.assign(size_t(W / 16) * (H / 16), MacroblockInfo{});
}

void Run(int type, int frame, const uint8_t* prev, const uint8_t* next, const uint8_t* current) {
    CurrentPicture.PictureCodingType = type;
    CurrentPicture.CurrentInputFrame = frame;
    RunMotionEstimation(prev, next, prev, next, current, current, Range, Range, Range, Range,
                        Records.data(), 0, 0);
}

// Coding order I(0) P(2) B(1); the timed picture is the P or the B picture.
void MotionEstimation(benchmark::State& state, bool bPicture) {
    const int mode = int(state.range(0));
    const bool simd = state.range(1) != 0;
    UseAvx2Kernels = state.range(1) == 2 ? 1 : 0;
    if (UseAvx2Kernels && !ProcessorHasAvx2()) {
        state.SkipWithError("no AVX2");
        return;
    }
    const Scene& s = TheScene();
    for (auto _ : state) {
        state.PauseTiming();
        SetUp(mode, simd);
        CurrentPicture.PrevAnchorInputFrame = -1;
        CurrentPicture.NextAnchorInputFrame = 0;
        Run(I_PICTURE, 0, s.first.data(), s.first.data(), s.first.data());
        CurrentPicture.PrevAnchorInputFrame = 0;
        CurrentPicture.NextAnchorInputFrame = 2;
        if (bPicture) {
            Run(P_PICTURE, 2, s.first.data(), s.last.data(), s.last.data());
            state.ResumeTiming();
            Run(B_PICTURE, 1, s.first.data(), s.last.data(), s.middle.data());
        } else {
            state.ResumeTiming();
            Run(P_PICTURE, 2, s.first.data(), s.last.data(), s.last.data());
        }
        benchmark::DoNotOptimize(CurrentPicture.PictureErrorSum);
    }
    state.counters["error"] = CurrentPicture.PictureErrorSum;
}

void PPicture(benchmark::State& state) { MotionEstimation(state, false); }
void BPicture(benchmark::State& state) { MotionEstimation(state, true); }

// Arguments: performance mode 1..5; kernels 0 plain, 1 SSE2, 2 AVX2.
BENCHMARK(PPicture)->ArgsProduct({{1, 2, 3, 4, 5}, {0, 1, 2}})->Unit(benchmark::kMillisecond);
BENCHMARK(BPicture)->ArgsProduct({{1, 2, 3, 4, 5}, {0, 1, 2}})->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
