// Decimation kernels: nearest, linear, cubic and supersampling row kernels
// for 1-bit, 8-bit, 16-bit and float images, and the per-axis sampling plans
// they share between the blocks of one call.
#pragma once

#include <cstddef>
#include <vector>

// Sampling of one axis for every destination position of the region; source
// indices are relative to the source region's origin and lie in [lo, hi].
struct DecimateAxis {
    std::vector<int> index;   // 4 per position: nearest/k uses [0]; linear [0],[1]; cubic [0..3]
    std::vector<float> t;     // fraction per position
    std::vector<int> first;   // supersampling: contributions of position j are [first[j], first[j+1])
    std::vector<int> src;
    std::vector<float> weight;
};

enum class DecimateMethod { Nearest, LinearX, LinearY, Linear, CubicX, CubicY, Cubic, Super };

struct DecimatePlan {
    DecimateMethod method = DecimateMethod::Nearest;
    int depth = 0;
    int channels = 0;
    float norm = 1.0f;  // supersampling: 1 / (x scale x y scale)
    DecimateAxis x, y;
};

// Where the kernel reads: element (bx, by) of the region's coordinates, first
// processed channel, is at `base`. Steps are in bytes.
struct DecimateView {
    const char* base = nullptr;
    std::ptrdiff_t rowStep = 0;
    std::ptrdiff_t channelStep = 0;
    int pixelStep = 1;
    int bx = 0, by = 0;
};

// Where the kernel writes: the block's first row, first processed channel.
struct DecimateBlockOut {
    char* data = nullptr;
    std::ptrdiff_t rowStep = 0;
    std::ptrdiff_t channelStep = 0;
    int pixelStep = 1;
    int bitOffset = 0;  // 1U: the block's first column within its row
};

// Computes destination rows [i0, i1) and columns [j0, j1); false when a buffer
// could not be had (the failure has been raised).
using DecimateKernel = bool (*)(const DecimatePlan& plan, const DecimateView& src, int i0, int i1,
                                int j0, int j1, const DecimateBlockOut& out);

// Builds one axis. `minIndex` and `available` bound the source indices that may
// be read (the image before the region's origin, and what follows it).
void BuildDecimateAxis(DecimateMethod method, bool axisInterpolated, float phase, float scale,
                       int count, int minIndex, int available, DecimateAxis& axis);

// The rows or columns a block of destination positions reads.
void DecimateAxisSpan(const DecimatePlan& plan, const DecimateAxis& axis, bool interpolated,
                      int k0, int k1, int* lo, int* hi);

DecimateKernel ChooseDecimateKernel(int depth, int method, bool xWhole, bool yWhole,
                                    DecimateMethod* chosen);

bool DecimateNearest1u(const DecimatePlan&, const DecimateView&, int, int, int, int,
                       const DecimateBlockOut&);
bool DecimateSuper1u(const DecimatePlan&, const DecimateView&, int, int, int, int,
                     const DecimateBlockOut&);
