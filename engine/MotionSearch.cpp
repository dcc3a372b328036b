// Feature tables of an anchor picture and the ring-by-ring block-matching
// search that uses them to skip candidates before any difference is summed.
#include "engine/MotionSearch.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/MotionEstimation.h"
#include "engine/Threads.h"

MotionTableGeometry MeTableGeometry;

namespace {

// Step of the rings and size of a group of positions.
constexpr int GroupSize = 4;
// Bias that keeps the edge features (difference of two 16-sample sums) positive.
constexpr int EdgeFeatureBias = 4224;
constexpr int MeanCap = 255;
constexpr int EdgeFeatureCap = 32;

inline uint8_t EdgeFeature(int last, int first) {
    return static_cast<uint8_t>(((last - first) + EdgeFeatureBias) >> 8);
}

// Set bits of a 16-bit group mask, without the library call the builtin
// becomes on processors where it is not an instruction.
inline int PositionCount(uint32_t mask) {
    mask = mask - ((mask >> 1) & 0x5555u);
    mask = (mask & 0x3333u) + ((mask >> 2) & 0x3333u);
    mask = (mask + (mask >> 4)) & 0x0F0Fu;
    return int((mask + (mask >> 8)) & 0x1Fu);
}

inline uint8_t MeanFeature(int sum) { return static_cast<uint8_t>((sum + 128) >> 8); }

// The source block's features widened by the tolerance: low and high bound
// of mean, horizontal and vertical feature, in that order.
void ComputeMatchWindows(const uint8_t* block, int lineLength, int tolerance, uint8_t windows[6]) {
    int sum = 0, firstColumn = 0, lastColumn = 0, firstRow = 0, lastRow = 0;
    for (int r = 0; r < 16; ++r) {
        const uint8_t* row = block + r * lineLength;
        for (int i = 0; i < 16; ++i) sum += row[i];
        firstColumn += row[0];
        lastColumn += row[15];
    }
    for (int i = 0; i < 16; ++i) {
        firstRow += block[i];
        lastRow += block[15 * lineLength + i];
    }
    const int values[3] = {MeanFeature(sum), EdgeFeature(lastColumn, firstColumn),
                           EdgeFeature(lastRow, firstRow)};
    const int caps[3] = {MeanCap, EdgeFeatureCap, EdgeFeatureCap};
    for (int k = 0; k < 3; ++k) {
        int v = values[k];
        windows[2 * k] = static_cast<uint8_t>(v <= tolerance ? 0 : v - tolerance);
        windows[2 * k + 1] = static_cast<uint8_t>(v >= caps[k] - tolerance ? caps[k] : v + tolerance);
    }
}

}  // namespace

MotionTableGeometry MakeMotionTableGeometry(int width, int height) {
    MotionTableGeometry g;
    g.width = width;
    g.height = height;
    g.featureStride = width - 8;
    g.featureRows = height - 15;
    g.groupStride = width - 12;
    g.groupRows = (height >> 2) - 3;
    size_t plane = size_t(g.featureRows) * size_t(g.featureStride);
    g.horizontalOffset = 0;
    g.meanOffset = plane;
    g.verticalOffset = 2 * plane;
    g.groupOffset = 3 * plane;
    g.totalBytes = 3 * plane + size_t(g.groupRows) * size_t(g.groupStride);
    return g;
}

void CalcMotionSearchTables(const uint8_t* source, uint8_t* tables) {
    CalcMotionSearchTables(source, tables, MeTableGeometry, MeKernels, PictureRowHelpers());
}

namespace {

// One table calculation, split into bands of rows that may run at once: every
// feature row is computed from its own 16 source rows, every group row from
// its own feature rows, so the split never changes a byte.
struct TableBands {
    const uint8_t* source;
    uint8_t* tables;
    const MotionTableGeometry* g;
    const MotionKernelTable* kernels;
    int bands;
};

void Split(int count, int bands, int band, int* first, int* end) {
    *first = static_cast<int>(static_cast<int64_t>(count) * band / bands);
    *end = static_cast<int>(static_cast<int64_t>(count) * (band + 1) / bands);
}

void FeatureBand(void* context, int band) {
    const TableBands& t = *static_cast<const TableBands*>(context);
    const MotionTableGeometry& g = *t.g;
    const int w = g.width, h = g.height, stride = g.featureStride;
    const int positionsPerRow = w - 15;
    int first, end;
    Split(h - 15, t.bands, band, &first, &end);
    if (first >= end) return;
    uint8_t* horizontal = t.tables + g.horizontalOffset;
    uint8_t* mean = t.tables + g.meanOffset;
    uint8_t* vertical = t.tables + g.verticalOffset;
    // Column sums over the 16 rows of the block row before the first one (the
    // row kernel carries them down one sample in and one out per step; at
    // most 16 x 255); the first row of the picture starts with its own.
    const int top = first == 0 ? 0 : first - 1;
    std::vector<uint16_t> columnSum(w, 0);
    for (int r = top; r < top + 16; ++r)
        for (int c = 0; c < w; ++c) columnSum[c] = uint16_t(columnSum[c] + t.source[r * w + c]);
    for (int y = first; y < end; ++y) {
        uint8_t* hRow = horizontal + y * stride;
        uint8_t* mRow = mean + y * stride;
        uint8_t* vRow = vertical + y * stride;
        t.kernels->featureRow(t.source, w, y, columnSum.data(), hRow, mRow, vRow);
        // The tail of each row is never read; keep it defined all the same.
        std::memset(hRow + positionsPerRow, 0, stride - positionsPerRow);
        std::memset(mRow + positionsPerRow, 0, stride - positionsPerRow);
        std::memset(vRow + positionsPerRow, 0, stride - positionsPerRow);
    }
}

// Group bounds: extremes of mean and vertical feature over each 4x4 group
// of valid positions.
void GroupBand(void* context, int band) {
    const TableBands& t = *static_cast<const TableBands*>(context);
    const MotionTableGeometry& g = *t.g;
    const int stride = g.featureStride, positionsPerRow = g.width - 15;
    int first, end;
    Split(g.groupRows, t.bands, band, &first, &end);
    if (first >= end) return;
    const uint8_t* mean = t.tables + g.meanOffset;
    const uint8_t* vertical = t.tables + g.verticalOffset;
    std::vector<uint8_t> maxMean(positionsPerRow), minMean(positionsPerRow);
    std::vector<uint8_t> maxVertical(positionsPerRow), minVertical(positionsPerRow);
    uint8_t* groups = t.tables + g.groupOffset;
    for (int gy = first; gy < end; ++gy) {
        const int y0 = gy * GroupSize;
        const int rows = std::min(GroupSize, g.featureRows - y0);
        t.kernels->columnExtrema(mean + y0 * stride, stride, rows, positionsPerRow, maxMean.data(), minMean.data());
        t.kernels->columnExtrema(vertical + y0 * stride, stride, rows, positionsPerRow, maxVertical.data(),
                                 minVertical.data());
        uint8_t* out = groups + gy * g.groupStride;
        for (int c = 0; c < positionsPerRow; c += GroupSize) {
            const int columns = std::min(GroupSize, positionsPerRow - c);
            uint8_t hiMean = maxMean[c], loMean = minMean[c];
            uint8_t hiVertical = maxVertical[c], loVertical = minVertical[c];
            for (int i = 1; i < columns; ++i) {
                hiMean = std::max(hiMean, maxMean[c + i]);
                loMean = std::min(loMean, minMean[c + i]);
                hiVertical = std::max(hiVertical, maxVertical[c + i]);
                loVertical = std::min(loVertical, minVertical[c + i]);
            }
            out[c] = hiMean;
            out[c + 1] = loMean;
            out[c + 2] = hiVertical;
            out[c + 3] = loVertical;
        }
    }
}

}  // namespace

void CalcMotionSearchTables(const uint8_t* source, uint8_t* tables,
                            const MotionTableGeometry& g, const MotionKernelTable& kernels, int helpers) {
    TableBands t{source, tables, &g, &kernels, std::max(1, std::min(helpers + 1, 16))};
    // The group rows read feature rows of other bands: the features come first.
    RunRowsInParallel(t.bands, helpers, FeatureBand, &t);
    RunRowsInParallel(t.bands, helpers, GroupBand, &t);
}

int MotionSearchMacroblock(const uint8_t* referenceSource, const uint8_t* referenceRecon,
                           const uint8_t* current, int x, int y, int rangeX, int rangeY,
                           int* bestX, int* bestY, int* zeroError, const uint8_t* tables,
                           int matchFlags, uint8_t* matchWindows, const SearchWords& words) {
    const MotionTableGeometry& g = MeTableGeometry;
    const int w = g.width, h = g.height;
    const int xmin = std::max(0, x - rangeX), xmax = std::min(w - 16, x + rangeX - 1);
    const int ymin = std::max(0, y - rangeY), ymax = std::min(h - 16, y + rangeY - 1);

    int bestColumn = x, bestRow = y;
    if (!(matchFlags & 1)) {
        const FullPelSadFn sad = FullPelSadKernel;
        const int zeroSad = sad(referenceSource + y * w + x, current, w, MotionErrorLimit);
        // A candidate has to beat the zero vector by a margin unless the search is exhaustive.
        int bound = MotionState.MeExhaustive ? zeroSad : (3 * zeroSad) >> 2;
        int ringStartBound = bound;

        uint8_t windows[6];
        if (words.stage == 2) {
            std::memcpy(windows, matchWindows, 6);
        } else {
            ComputeMatchWindows(current, w, words.windowTolerance, windows);
            if (words.stage == 1) std::memcpy(matchWindows, windows, 6);
        }

        const uint8_t* horizontal = tables + g.horizontalOffset;
        const uint8_t* mean = tables + g.meanOffset;
        const uint8_t* vertical = tables + g.verticalOffset;
        const uint8_t* groups = tables + g.groupOffset;
        const GroupFilterFn filter = MeKernels.groupFilter;
        // The table's group kernel where the search uses the table's row-budget sum.
        const GroupSadFn groupSad = sad == MeKernels.fullPelSadRowBudget ? MeKernels.groupSadRowBudget : nullptr;
        int evaluations = 0;

        // Groups are always named by their top-left corner on the grid of
        // multiples of 4, where the group-bounds plane has its entries.
        auto visitGroup = [&](int c, int t) {
            const uint8_t* e = groups + (t / GroupSize) * g.groupStride + c;
            if (windows[0] > e[0] || e[1] > windows[1] || windows[4] > e[2] || e[3] > windows[5])
                return;
            const int at = t * g.featureStride + c;
            uint32_t inside = filter(mean + at, horizontal + at, vertical + at, g.featureStride,
                                     std::min(GroupSize, ymax - t + 1),
                                     std::min(GroupSize, xmax - c + 1), windows);
            if (groupSad) {
                evaluations += PositionCount(inside);
                const int bit = groupSad(referenceSource + t * w + c, current, w, inside, &bound);
                if (bit >= 0) {
                    bestColumn = c + (bit & 3);
                    bestRow = t + (bit >> 2);
                }
                return;
            }
            // Positions in order, row by row, left to right.
            while (inside) {
                const int bit = __builtin_ctz(inside);
                inside &= inside - 1;
                const int px = c + (bit & 3), py = t + (bit >> 2);
                const int e2 = sad(referenceSource + py * w + px, current, w, bound);
                ++evaluations;
                if (e2 < bound) {
                    bound = e2;
                    bestColumn = px;
                    bestRow = py;
                }
            }
        };
        // A side cut back at the window's far edge starts at the group that
        // holds the edge, so no position of the window is left out.
        const int xmaxGroup = xmax & ~(GroupSize - 1);
        const int ymaxGroup = ymax & ~(GroupSize - 1);
        const int maxRange = std::max(rangeX, rangeY);
        for (int r = GroupSize; r <= maxRange; r += GroupSize) {
            if (y - r >= ymin)
                for (int c = std::max(x - r, xmin); c < x + r - 4 && c <= xmax; c += 4)
                    visitGroup(c, y - r);
            if (x + r - 4 <= xmax)
                for (int t = std::max(y - r, ymin); t < y + r - 4 && t <= ymax; t += 4)
                    visitGroup(x + r - 4, t);
            if (y + r - 4 <= ymax)
                for (int c = std::min(x + r - 4, xmaxGroup); c >= x - r + 4 && c >= xmin; c -= 4)
                    visitGroup(c, y + r - 4);
            if (x - r >= xmin)
                for (int t = std::min(y + r - 4, ymaxGroup); t >= y - r + 4 && t >= ymin; t -= 4)
                    visitGroup(x - r, t);

            if (bound <= words.thresholdScaled || evaluations >= words.points) break;
            if (bound < ringStartBound) {
                bound = (7 * bound) >> 3;
                ringStartBound = bound;
            }
        }
    }

    const HalfPelMatchFn match = HalfPelMatchKernel;
    auto evaluate = [&](int u, int v, int limit) {
        return match(referenceRecon + (v >> 1) * w + (u >> 1), current, w, u & 1, v & 1, limit);
    };
    if (zeroError) *zeroError = evaluate(2 * x, 2 * y, MotionErrorLimit);

    // Half-sample refinement. A candidate past the window's far edge is taken
    // when the picture still has the samples for it.
    const int bx = 2 * bestColumn, by = 2 * bestRow;
    const int left = bx > 2 * xmin ? bx - 1 : bx;
    const int right = (bx < 2 * xmax || (xmax < w - 16 && bx < 2 * (w - 16))) ? bx + 1 : bx;
    const int top = by > 2 * ymin ? by - 1 : by;
    const int bottom = (by < 2 * ymax || (ymax < h - 16 && by < 2 * (h - 16))) ? by + 1 : by;

    int best, bu, bv;
    if (right - left == 2 && bottom - top == 2 && MotionState.MeLowMode) {
        // Cross first, then the one diagonal the cross points to.
        const int up = evaluate(bx, by - 1, MotionErrorLimit);
        best = up;
        bu = bx;
        bv = by - 1;
        auto consider = [&](int u, int v, int e) {
            if (e < best) {
                best = e;
                bu = u;
                bv = v;
            }
        };
        const int down = evaluate(bx, by + 1, best);
        consider(bx, by + 1, down);
        const int leftError = evaluate(bx - 1, by, MotionErrorLimit);
        consider(bx - 1, by, leftError);
        const int rightError = evaluate(bx + 1, by, best);
        consider(bx + 1, by, rightError);
        // At the zero vector its full error is known: below the limit a
        // stopping sum equals it, at or above it neither is taken.
        consider(bx, by, zeroError && bx == 2 * x && by == 2 * y ? *zeroError : evaluate(bx, by, best));
        const int hu = rightError < leftError ? bx + 1 : bx - 1;
        const int hv = down < up ? by + 1 : by - 1;
        consider(hu, hv, evaluate(hu, hv, best));
    } else {
        best = 0;
        bu = bx;
        bv = by;
        bool first = true;
        for (int v = top; v <= bottom; ++v) {
            for (int u = left; u <= right; ++u) {
                if ((u & 1) && (v & 1) && !MotionState.MeHighMode) continue;
                const int e = evaluate(u, v, first ? MotionErrorLimit : best);
                if (first || e < best) {
                    best = e;
                    bu = u;
                    bv = v;
                    first = false;
                }
            }
        }
    }
    *bestX = bu;
    *bestY = bv;
    return best;
}
