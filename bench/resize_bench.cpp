// Speed of the resize library's roads: the AVI frame reader's cubic scaling
// and supersampling of 3-channel 8-bit frames, and the other methods and depths.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "resize/ipl.h"

namespace {

struct Frame {
    Frame(int channels, int depth, int width, int height)
    {
        header = iplCreateImageHeader(channels, 0, depth, "RGB", "BGR", IPL_DATA_ORDER_PIXEL,
                                      IPL_ORIGIN_BL, IPL_ALIGN_4BYTES, width, height, nullptr,
                                      nullptr, nullptr, nullptr);
        bytes.resize(std::size_t(header->imageByteSize));
        std::mt19937 rng(1);
        for (char& b : bytes)
            b = char(rng());
        header->imageData = bytes.data();
    }
    ~Frame() { iplDeallocate(header, IPL_IMAGE_HEADER); }
    ImageHeader* header;
    std::vector<char> bytes;
};

void Resize(benchmark::State& state, int depth, int sw, int sh, int dw, int dh, int method)
{
    Frame src(3, depth, sw, sh), dst(3, depth, dw, dh);
    for (auto _ : state) {
        iplResize(src.header, dst.header, dw, sw, dh, sh, method);
        benchmark::DoNotOptimize(dst.bytes.data());
    }
    state.SetItemsProcessed(state.iterations() * int64_t(dw) * dh);
}

BENCHMARK_CAPTURE(Resize, cubic8u_720x576_to_704x576, 8, 720, 576, 704, 576, IPL_INTER_CUBIC);
BENCHMARK_CAPTURE(Resize, cubic8u_352x240_to_720x480, 8, 352, 240, 720, 480, IPL_INTER_CUBIC);
BENCHMARK_CAPTURE(Resize, super8u_720x576_to_352x288, 8, 720, 576, 352, 288, IPL_INTER_SUPER);
BENCHMARK_CAPTURE(Resize, linear8u_720x576_to_704x576, 8, 720, 576, 704, 576, IPL_INTER_LINEAR);
BENCHMARK_CAPTURE(Resize, nearest8u_720x576_to_704x576, 8, 720, 576, 704, 576, IPL_INTER_NN);
BENCHMARK_CAPTURE(Resize, cubic16u_720x576_to_704x576, 16, 720, 576, 704, 576, IPL_INTER_CUBIC);
BENCHMARK_CAPTURE(Resize, cubic32f_720x576_to_704x576, 32, 720, 576, 704, 576, IPL_INTER_CUBIC);

}  // namespace
