// Plain C++ difference kernels of the block-matching search and the choice
// between them and their SSE2 twins.
#include "engine/MotionKernels.h"

#include <cstdlib>

// SSE2 members without a name of their own (MotionKernelsSse2.cpp).
int InterpolatedErrorSse2(const uint8_t* forward, const uint8_t* backward, const uint8_t* current,
                          int lineLength, int forwardHalfX, int forwardHalfY, int backwardHalfX,
                          int backwardHalfY, int height);
void BlockSumsSse2(const uint8_t* block, int lineLength, uint32_t* sum, uint32_t* sumOfSquares);
void ColumnExtremaSse2(const uint8_t* plane, int stride, int rows, int count, uint8_t* maxOut,
                       uint8_t* minOut);
uint32_t GroupFilterSse2(const uint8_t* mean, const uint8_t* horizontal, const uint8_t* vertical,
                         int stride, int rows, int columns, const uint8_t* windows);

namespace {

inline int RowSad(const uint8_t* a, const uint8_t* b) {
    int sum = 0;
    for (int i = 0; i < 16; ++i) sum += std::abs(int(a[i]) - int(b[i]));
    return sum;
}

// Byte halving: each sample is halved before it is added, as packed bytes allow.
struct ByteHalving {
    static int Two(int a, int b) { return (a >> 1) + (b >> 1); }
    static int Four(int a, int b, int c, int d) {
        return (((a >> 1) + (b >> 1)) >> 1) + (((c >> 1) + (d >> 1)) >> 1);
    }
};

struct WordAverage {
    static int Two(int a, int b) { return (a + b) >> 1; }
    static int Four(int a, int b, int c, int d) { return (a + b + c + d) >> 2; }
};

template <class Rounding>
inline int Predict(const uint8_t* p, int lineLength, int i, int halfX, int halfY) {
    int a = p[i];
    if (!halfX && !halfY) return a;
    if (halfX && !halfY) return Rounding::Two(a, p[i + 1]);
    if (!halfX) return Rounding::Two(a, p[i + lineLength]);
    return Rounding::Four(a, p[i + 1], p[i + lineLength], p[i + lineLength + 1]);
}

template <class Rounding>
int HalfPelSsePlain(const uint8_t* reference, const uint8_t* current, int lineLength, int halfX,
                    int halfY, int limit) {
    int sum = 0;
    for (int row = 0; row < 16; ++row) {
        for (int i = 0; i < 16; ++i) {
            int d = Predict<Rounding>(reference, lineLength, i, halfX, halfY) - current[i];
            sum += d * d;
        }
        if (sum >= limit) return sum;
        reference += lineLength;
        current += lineLength;
    }
    return sum;
}

int InterpolatedErrorPlain(const uint8_t* forward, const uint8_t* backward, const uint8_t* current,
                           int lineLength, int forwardHalfX, int forwardHalfY, int backwardHalfX,
                           int backwardHalfY, int height) {
    int sum = 0;
    for (int row = 0; row < height; ++row) {
        for (int i = 0; i < 16; ++i) {
            int f = Predict<WordAverage>(forward, lineLength, i, forwardHalfX, forwardHalfY);
            int b = Predict<WordAverage>(backward, lineLength, i, backwardHalfX, backwardHalfY);
            int d = ((f + b) >> 1) - current[i];
            sum += d * d;
        }
        forward += lineLength;
        backward += lineLength;
        current += lineLength;
    }
    return sum;
}

void BlockSumsPlain(const uint8_t* block, int lineLength, uint32_t* sum, uint32_t* sumOfSquares) {
    uint32_t s1 = 0, s2 = 0;
    for (int row = 0; row < 16; ++row, block += lineLength) {
        for (int i = 0; i < 16; ++i) {
            s1 += block[i];
            s2 += uint32_t(block[i]) * block[i];
        }
    }
    *sum = s1;
    *sumOfSquares = s2;
}

void ColumnExtremaPlain(const uint8_t* plane, int stride, int rows, int count, uint8_t* maxOut,
                        uint8_t* minOut) {
    for (int i = 0; i < count; ++i) {
        uint8_t hi = plane[i], lo = plane[i];
        for (int r = 1; r < rows; ++r) {
            uint8_t v = plane[r * stride + i];
            if (v > hi) hi = v;
            if (v < lo) lo = v;
        }
        maxOut[i] = hi;
        minOut[i] = lo;
    }
}

uint32_t GroupFilterPlain(const uint8_t* mean, const uint8_t* horizontal, const uint8_t* vertical,
                          int stride, int rows, int columns, const uint8_t* windows) {
    uint32_t mask = 0;
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            const int at = r * stride + c;
            if (mean[at] >= windows[0] && mean[at] <= windows[1] && horizontal[at] >= windows[2] &&
                horizontal[at] <= windows[3] && vertical[at] >= windows[4] && vertical[at] <= windows[5])
                mask |= 1u << (4 * r + c);
        }
    }
    return mask;
}

// Bias that keeps the edge features (difference of two 16-sample sums) positive.
constexpr int EdgeFeatureBias = 4224;

void FeatureRowPlain(const uint8_t* source, int w, int y, uint16_t* columnSum, uint8_t* hRow, uint8_t* mRow,
                     uint8_t* vRow) {
    if (y > 0) {
        const uint8_t* in = source + (y + 15) * w;
        const uint8_t* out = source + (y - 1) * w;
        for (int c = 0; c < w; ++c) columnSum[c] = uint16_t(columnSum[c] + in[c] - out[c]);
    }
    const uint8_t* top = source + y * w;
    const uint8_t* bottom = source + (y + 15) * w;
    int blockSum = 0, topSum = 0, bottomSum = 0;
    for (int i = 0; i < 16; ++i) {
        blockSum += columnSum[i];
        topSum += top[i];
        bottomSum += bottom[i];
    }
    const int positions = w - 15;
    for (int x = 0; x < positions; ++x) {
        if (x > 0) {
            blockSum += columnSum[x + 15] - columnSum[x - 1];
            topSum += int(top[x + 15]) - int(top[x - 1]);
            bottomSum += int(bottom[x + 15]) - int(bottom[x - 1]);
        }
        hRow[x] = uint8_t(((columnSum[x + 15] - columnSum[x]) + EdgeFeatureBias) >> 8);
        mRow[x] = uint8_t((blockSum + 128) >> 8);
        vRow[x] = uint8_t(((bottomSum - topSum) + EdgeFeatureBias) >> 8);
    }
}

template <FullPelSadFn Sad>
int GroupSadLoop(const uint8_t* corner, const uint8_t* current, int lineLength, uint32_t positions,
                 int* bound) {
    int best = -1;
    while (positions) {
        const int bit = __builtin_ctz(positions);
        positions &= positions - 1;
        const int e = Sad(corner + (bit >> 2) * lineLength + (bit & 3), current, lineLength, *bound);
        if (e < *bound) {
            *bound = e;
            best = bit;
        }
    }
    return best;
}

}  // namespace

int FullPelSad(const uint8_t* candidate, const uint8_t* current, int lineLength, int limit) {
    int sum = 0;
    for (int row = 0; row < 16; ++row) {
        sum += RowSad(candidate, current);
        if (sum >= limit) return sum;
        candidate += lineLength;
        current += lineLength;
    }
    return sum;
}

int FullPelSadRowBudget(const uint8_t* candidate, const uint8_t* current, int lineLength,
                        int limit) {
    // The budget grows with the rows done: a candidate that is already far
    // behind after a few rows is given up without finishing the sum.
    const int step = (limit + 8) >> 4;
    int budget = step;
    int sum = 0;
    for (int row = 0; row < 16; ++row) {
        sum += RowSad(candidate, current);
        budget += step;
        if (sum >= budget) return limit + 1;
        candidate += lineLength;
        current += lineLength;
    }
    return sum;
}

int HalfPelSse(const uint8_t* reference, const uint8_t* current, int lineLength, int halfX,
               int halfY, int limit) {
    return HalfPelSsePlain<ByteHalving>(reference, current, lineLength, halfX, halfY, limit);
}

int HalfPelSseModes45(const uint8_t* reference, const uint8_t* current, int lineLength, int halfX,
                      int halfY, int limit) {
    return HalfPelSsePlain<WordAverage>(reference, current, lineLength, halfX, halfY, limit);
}

bool ProcessorHasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

void motion_kernels_init(bool simd, MotionKernelTable& table, bool avx2) {
    table.fullPelSad = FullPelSad;
    table.fullPelSadRowBudget = FullPelSadRowBudget;
    table.groupSadRowBudget = GroupSadLoop<FullPelSadRowBudget>;
    table.halfPelSse = HalfPelSse;
    table.halfPelSseModes45 = HalfPelSseModes45;
    table.interpolatedError = InterpolatedErrorPlain;
    table.blockSums = BlockSumsPlain;
    table.columnExtrema = ColumnExtremaPlain;
    table.groupFilter = GroupFilterPlain;
    table.featureRow = FeatureRowPlain;
    if (!simd) return;
    table.fullPelSad = FullPelSadSse2;
    table.fullPelSadRowBudget = FullPelSadSse2RowBudget;
    table.groupSadRowBudget = GroupSadLoop<FullPelSadSse2RowBudget>;
    table.halfPelSse = HalfPelSseSse2;
    table.halfPelSseModes45 = HalfPelSseSse2Modes45;
    table.interpolatedError = InterpolatedErrorSse2;
    table.blockSums = BlockSumsSse2;
    table.columnExtrema = ColumnExtremaSse2;
    table.groupFilter = GroupFilterSse2;
    if (!avx2) return;
    table.fullPelSad = FullPelSadAvx2;
    table.fullPelSadRowBudget = FullPelSadAvx2RowBudget;
    table.groupSadRowBudget = GroupSadAvx2RowBudget;
    table.featureRow = FeatureRowAvx2;
    table.halfPelSse = HalfPelSseAvx2;
    table.halfPelSseModes45 = HalfPelSseAvx2Modes45;
}
