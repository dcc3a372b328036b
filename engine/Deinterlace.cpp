// Field blending, the edge-directed interpolator and the choice between plain
// blending and film mode for one input frame.
#include "engine/Deinterlace.h"

#include <cstdlib>
#include <cstring>

#include "engine/EngineState.h"
#include "engine/Input.h"
#include "settings/EncoderSettings.h"

uint8_t* DeinterlaceBuffers[5] = {nullptr, nullptr, nullptr, nullptr, nullptr};

DeinterlaceKernels DeinterlaceKernelSet = [] {
    DeinterlaceKernels k;
    deinterlace_init(false, k);
    return k;
}();

namespace {

// Direction weights for displacements of 0..12 pixels: a match far from the
// vertical has to be clearly better before it is trusted.
constexpr int EdgeWeightTable[13] = {40, 42, 48, 58, 68, 77, 85, 91, 95, 97, 98, 99, 99};

// Pulls a pixel that sits on a strong vertical step towards the row (upper or
// lower) whose side of the step its neighbourhood mostly lies on. `x` is the
// pixel's first byte; the caller keeps x - 6 .. x + 8 inside the row.
void AdaptEdgePixel(uint8_t* out, const uint8_t* up, const uint8_t* lo, int x) {
    int p[3], q[3];
    bool examine = false;
    for (int c = 0; c < 3; ++c) {
        p[c] = up[x + c];
        // Blue carries a rounding bias of one in every formula below.
        q[c] = lo[x + c] + (c == 0 ? 1 : 0);
        if (8 * std::abs(p[c] - q[c]) > p[c] + q[c] + 40) examine = true;
    }
    if (!examine) return;
    int ch = 0;
    for (int c = 1; c < 3; ++c)
        if (std::abs(p[c] - q[c]) > std::abs(p[ch] - q[ch])) ch = c;
    const int mid = (p[ch] + q[ch]) >> 1;
    const bool upperBrighter = p[ch] > q[ch];
    int vote = 0;
    for (int k = -2; k <= 2; ++k) {
        vote += up[x + 3 * k + ch] > mid ? 1 : -1;
        vote += lo[x + 3 * k + ch] > mid ? 1 : -1;
    }
    if (vote == 0) return;
    const bool towardsUpper = (vote >= 1) == upperBrighter;
    for (int c = 0; c < 3; ++c)
        out[x + c] = static_cast<uint8_t>(towardsUpper ? (7 * p[c] + q[c]) >> 3 : (7 * q[c] + p[c]) >> 3);
}

void EdgeDirectedRows(uint8_t* frame, int width, int height, ptrdiff_t lineLength) {
    if (!frame || width <= 0 || height - 4 < 3) return;
    const WeightedLineSadFn sad = DeinterlaceKernelSet.weightedLineSad;
    const int rows = (height - 5) >> 1;
    for (int i = 0, r = 3; i < rows; ++i, r += 2) {
        uint8_t* out = frame + r * lineLength;
        const uint8_t* upper = out - lineLength;
        const uint8_t* lower = out + lineLength;
        // The search reads up to 60 bytes before x and 83 after it (past the
        // row's end into the next row, which exists: the last rebuilt row is
        // height - 5).
        for (ptrdiff_t x = 72; x < lineLength - 60; x += 12) {
            if (sad(upper + x, upper + x + 9) < 601 && sad(upper + x, upper + x - 9) < 601) continue;
            int cost[25];
            int best = 0;
            for (int k = 0; k < 25; ++k) {
                const int d = 3 * (k - 12);
                cost[k] = (sad(upper + x, lower + x + d) + 20) * EdgeWeightTable[std::abs(k - 12)];
                if (cost[k] < cost[best]) best = k;
            }
            bool reliable = true;
            for (int k = 0; k < 25 && reliable; ++k) {
                const int apart = 3 * std::abs(k - best);
                if ((apart > 6 && 7 * cost[k] < 8 * cost[best]) || (apart > 12 && 3 * cost[k] < 4 * cost[best]))
                    reliable = false;
            }
            if (!reliable) continue;
            const int h = best - 12;
            const int d = 3 * h;
            const ptrdiff_t o = x + 3 * (h >= 0 ? h / 2 : -((1 - h) / 2));
            if (h % 2 == 0) {
                for (int j = 0; j < 24; ++j)
                    out[o + j] = static_cast<uint8_t>((upper[x + j] + lower[x + d + j] + 1) >> 1);
            } else {
                BlendLineSegment(out + o, upper + x, lower + x + d - 3);
            }
        }
    }
}

}  // namespace

void AverageRowsPlain(uint8_t* out, const uint8_t* upper, const uint8_t* lower, int count) {
    for (int i = 0; i < count; ++i) out[i] = static_cast<uint8_t>((upper[i] + lower[i] + 1) >> 1);
}

int WeightedLineSadPlain(const uint8_t* a, const uint8_t* b) {
    int sum = 0;
    for (int j = -24; j < 48; ++j) {
        const int d = std::abs(a[j] - b[j]);
        sum += (j >= 0 && j < 24) ? 2 * d : d;
    }
    return sum;
}

void deinterlace_init(bool simd, DeinterlaceKernels& kernels) {
    kernels.averageRows = AverageRowsPlain;
    kernels.weightedLineSad = WeightedLineSadPlain;
    if (simd) {
        kernels.averageRows = AverageRowsSse2;
        kernels.weightedLineSad = WeightedLineSadSse2;
    }
}

int WeightedLineSad(const uint8_t* a, const uint8_t* b) { return DeinterlaceKernelSet.weightedLineSad(a, b); }

void BlendLineSegment(uint8_t* out, const uint8_t* upper, const uint8_t* lower) {
    for (int j = 0; j < 24; ++j) {
        const int half = (lower[j] + lower[j + 3] + 1) >> 1;
        out[j] = static_cast<uint8_t>((half + upper[j] + 1) >> 1);
    }
}

void BlendFieldRows(uint8_t* frame, int width, int height, size_t rowBytes, bool edgeAdaptive) {
    if (!frame || width <= 0 || height < 2 || rowBytes < static_cast<size_t>(3) * width) return;
    const AverageRowsFn average = DeinterlaceKernelSet.averageRows;
    const int bytes = 3 * width;
    const ptrdiff_t line = static_cast<ptrdiff_t>(rowBytes);
    for (int r = 1; r < height - 1; r += 2) {
        uint8_t* out = frame + r * line;
        const uint8_t* up = out - line;
        const uint8_t* lo = out + line;
        average(out, up, lo, bytes);
        if (!edgeAdaptive) continue;
        // The vote reaches two pixels either side, so it stays clear of the
        // row's first and last two pixels.
        for (int x = 9; x < bytes - 6; x += 3) AdaptEdgePixel(out, up, lo, x);
    }
    if (height % 2 == 0) std::memcpy(frame + (height - 1) * line, frame + (height - 2) * line, bytes);
}

void EdgeDirectedDeinterlace(uint8_t* frame, int width, int height) {
    EdgeDirectedRows(frame, width, height, static_cast<ptrdiff_t>(BitmapRowBytes(width)));
}

namespace {

bool FilmBuffersFit(int width, int height) {
    for (int i = 0; i < 4; ++i)
        if (!DeinterlaceBuffers[i]) return false;
    const int64_t capacity = (static_cast<int64_t>(Sequence.EncodeWidth) + 4) * Sequence.EncodeHeight * 3 + 32;
    return static_cast<int64_t>(BitmapRowBytes(width)) * height <= capacity;
}

}  // namespace

uint8_t* DeinterlaceFrame(uint8_t* pixels, int width, int height, size_t rowBytes, int sourceBits, int n,
                          const FilmFrameSource& source) {
    if (!pixels || width <= 0 || height <= 0) return pixels;
    const int mode = EncoderSettings.smartDeinterlaceMode;
    const bool ownLayout = rowBytes == BitmapRowBytes(width);
    if (InputState.SmartDeinterlace && static_cast<int64_t>(width) * height < 4000000 && sourceBits == 24 &&
        ownLayout && FilmBuffersFit(width, height))
        return FilmModeDeinterlace(pixels, width, height, n, source, mode);
    BlendFieldRows(pixels, width, height, rowBytes, (mode & DEINTERLACE_EDGE_ADAPTIVE) != 0);
    if ((mode & DEINTERLACE_EDGE_DIRECTED) && rowBytes >= static_cast<size_t>(3) * width)
        EdgeDirectedRows(pixels, width, height, static_cast<ptrdiff_t>(rowBytes));
    return pixels;
}

uint8_t* DeinterlaceInputFrame(uint8_t* pixels, int width, int height, int rowBytes, int sourceBits) {
    FilmFrameSource source;
    source.getFrame = GetCachedInputFrame;
    source.firstFrame = InputFrameCache.aviFirstFrame;
    source.endFrame = InputFrameCache.aviEndFrame;
    uint8_t* out = DeinterlaceFrame(pixels, width, height, static_cast<size_t>(rowBytes), sourceBits,
                                    CurrentPicture.CurrentInputFrame, source);
    ClearBorderRows(out, rowBytes, height, EncoderSettings.bottomBorderLines, EncoderSettings.topBorderLines,
                    Sequence.EncodeHeight - 2);
    return out;
}
