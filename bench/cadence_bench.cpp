// Times the deinterlacing steps and the preview conversion of a 720x576
// picture, with the plain and with the SSE2 kernels.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "engine/Deinterlace.h"
#include "engine/EngineState.h"
#include "engine/PreviewConvert.h"
#include "settings/EncoderSettings.h"

namespace {

constexpr int W = 720, H = 576;

std::vector<uint8_t> RandomFrame(uint32_t seed) {
    std::vector<uint8_t> f(BitmapRowBytes(W) * H);
    std::mt19937 rng(seed);
    for (auto& v : f) v = uint8_t(rng() % 64 < 8 ? rng() : 128 + rng() % 16);
    return f;
}

void Blend(benchmark::State& state) {
    deinterlace_init(state.range(0) != 0, DeinterlaceKernelSet);
    const bool adaptive = state.range(1) != 0;
    const std::vector<uint8_t> source = RandomFrame(1);
    std::vector<uint8_t> frame = source;
    for (auto _ : state) {
        std::memcpy(frame.data(), source.data(), source.size());
        BlendFieldRows(frame.data(), W, H, BitmapRowBytes(W), adaptive);
        benchmark::DoNotOptimize(frame.data());
    }
}
BENCHMARK(Blend)->ArgsProduct({{0, 1}, {0, 1}});

void EdgeDirected(benchmark::State& state) {
    deinterlace_init(state.range(0) != 0, DeinterlaceKernelSet);
    const std::vector<uint8_t> source = RandomFrame(2);
    std::vector<uint8_t> frame = source;
    for (auto _ : state) {
        std::memcpy(frame.data(), source.data(), source.size());
        EdgeDirectedDeinterlace(frame.data(), W, H);
        benchmark::DoNotOptimize(frame.data());
    }
}
BENCHMARK(EdgeDirected)->Arg(0)->Arg(1);

std::vector<std::vector<uint8_t>> Packed;
const uint8_t* GetPacked(int n) { return Packed[size_t(n)].data(); }

void FilmFrame(benchmark::State& state) {
    Sequence.EncodeWidth = W;
    Sequence.EncodeHeight = H;
    std::vector<std::vector<uint8_t>> buffers(4, std::vector<uint8_t>(size_t(W + 4) * H * 3 + 32));
    for (int i = 0; i < 4; ++i) DeinterlaceBuffers[i] = buffers[i].data();
    std::vector<std::vector<uint8_t>> frames;
    for (uint32_t k = 0; k < 3; ++k) {
        frames.push_back(RandomFrame(10 + k));
        std::vector<uint8_t> p(40, 0);
        p[4] = W & 255, p[5] = W >> 8, p[8] = H & 255, p[9] = H >> 8, p[14] = 24;
        p.insert(p.end(), frames.back().begin(), frames.back().end());
        Packed.push_back(p);
    }
    FilmFrameSource source;
    source.getFrame = GetPacked;
    source.endFrame = 3;
    ResetFieldAnalysis();
    deinterlace_init(true, DeinterlaceKernelSet);
    for (auto _ : state) benchmark::DoNotOptimize(FilmModeDeinterlace(frames[1].data(), W, H, 1, source, 1));
    for (auto& b : DeinterlaceBuffers) b = nullptr;
}
BENCHMARK(FilmFrame);

void PreviewRgb(benchmark::State& state) {
    preview_init(state.range(0) != 0, PreviewKernelSet);
    Sequence.EncodeWidth = W;
    Sequence.EncodeHeight = H;
    Sequence.ChromaWidth = W / 2;
    EncoderSettings.horizontalSize = W;
    EncoderSettings.verticalSize = H;
    std::vector<uint8_t> y(size_t(W) * H), cb(size_t(W) * H / 4), cr(size_t(W) * H / 4);
    std::mt19937 rng(3);
    for (auto* p : {&y, &cb, &cr})
        for (auto& v : *p) v = uint8_t(rng());
    std::vector<uint8_t> bitmap(BitmapRowBytes(W) * H);
    const FramePlanes planes{y.data(), cb.data(), cr.data()};
    int done = 0;
    for (auto _ : state) {
        ConvertYuvToRgbPreview(planes, bitmap.data(), &done);
        benchmark::DoNotOptimize(bitmap.data());
    }
}
BENCHMARK(PreviewRgb)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
