// Quantiser choice: spatial activity, the start quantiser of a picture, the
// per-row virtual-buffer law and per-macroblock modulation; the updates after
// each picture (complexities, stuffing) and the variable-rate steering.
#include <algorithm>
#include <cstddef>
#include <cstdlib>

#include "engine/BitWriter.h"
#include "engine/EngineState.h"
#include "engine/RateControlPrivate.h"
#include "settings/EncoderSettings.h"

namespace {
RateControlStateRecord& S = RateControlState;
}

void CalcSpatialActivity(const uint8_t* luma) {
    S.AverageActivity = S.AverageMeanLuma = 0;
    if (S.RateControlMode == kRcConstant || EncoderSettings.disableAdaptiveQuant == 1) return;
    const ActivitySumsFn sums = RcKernels.activitySums;
    static const int offsets[4][2] = {{0, 0}, {8, 0}, {0, 8}, {8, 8}};
    int64_t activityTotal = 0, meanTotal = 0;
    int k = 0;
    for (int y = 0; y < Sequence.EncodeHeight; y += 16) {
        for (int x = 0; x < Sequence.EncodeWidth; x += 16, ++k) {
            int variances = 0, total = 0;
            for (const auto& o : offsets) {
                int s, q;
                sums(luma + static_cast<std::ptrdiff_t>(y + o[1]) * Sequence.EncodeWidth + x + o[0],
                     Sequence.EncodeWidth, &s, &q);
                variances += q - (s * s) / 64;
                total += s;
            }
            Sequence.MacroblockInfoArray[k].spatialActivity = variances >> 8;
            Sequence.MacroblockInfoArray[k].meanLuma = total >> 8;
            activityTotal += variances >> 8;
            meanTotal += total >> 8;
        }
    }
    if (k > 0) {
        S.AverageActivity = static_cast<int>(activityTotal / k);
        S.AverageMeanLuma = static_cast<int>(meanTotal / k);
    }
}

int RcStartPictureQuant() {
    const int m = S.RateControlMode;
    if (m == kRcConstantQuantNoVbv) {
        S.mquant = S.RowQuant = S.VbrQuant;
        return S.mquant;
    }
    const double V = S.VbvSizeBits;
    if (m == kRcConstant || m == kRcAverageNoVbv) {
        int q = static_cast<int>(S.StartQuant) & ~1;
        S.Reaction5 = std::clamp(static_cast<int>(5 * S.StartQuant + 0.5f), 5 * S.StartQuantMin - 5,
                                 5 * S.StartQuantMax + 5);
        q = std::clamp(q, S.StartQuantMin, S.StartQuantMax);
        if (m == kRcConstant) {
            if (S.MinFullness < V / 4 && S.FullnessBefore < 3 * V / 4 && S.FullnessSpreadChange < -1000)
                q += 4, S.Reaction5 += 10;
            if (S.MaxFullness > 3 * V / 4 && S.FullnessAfter > V / 4 && S.FullnessSpreadChange > 1000)
                q -= 4, S.Reaction5 -= 10;
            if (S.MinFullness < V / 8 && S.FullnessBefore < V / 2) q += 4, S.Reaction5 += 10;
            if (CurrentPicture.PictureCodingType != I_PICTURE && S.MaxFullness > 7 * V / 8 && S.FullnessAfter > V / 2)
                q -= 2, S.Reaction5 -= 4;
        }
        q = std::clamp(q, 2, 62);
        S.PictureStartQuant = S.mquant = S.RowQuant = q;
        S.RowQuantMax = q + 10;
        S.RowQuantMin = q - 10;
        return q;
    }
    // Variable modes with VBV planning.
    int q = S.VbrQuant;
    if (CurrentPicture.PictureIndex > 2) {
        if (S.FullnessAfter < V / 2 && S.FullnessBefore < 7 * V / 8) q += 2;
        if (S.FullnessAfter < V / 4 && S.FullnessBefore < 3 * V / 4) q += 2;
        if (S.FullnessAfter < V / 8) q += 2;
        // A large buffer under 3/4 full: q scaled by (8V + F) / (8F + V), F the fullness before the picture
        // (1 when full, up to 8 when empty).
        if (CurrentPicture.PictureIndex > 3 && V > 1000000 && S.FullnessBefore < 3 * V / 4)
            q = static_cast<int>((8 * V + S.FullnessBefore) * q / (8 * S.FullnessBefore + V));
    }
    if (CurrentPicture.PictureIndex > 20) {
        if (S.VbvMidLevel < V / 2) q += 2;
        if (S.VbvMidLevel < V / 3) q += 2;
        if (S.VbvMidLevel < V / 4) q += 2;
    }
    const int d = EncoderSettings.vbrDistribution;
    if (q > 4 && q < 54 && d > 1 && d < 100) {
        // I pictures a share 1/d finer, B pictures 1/d coarser than the P pictures.
        if (CurrentPicture.PictureCodingType == I_PICTURE) q = (d - 1) * q / d + 1;
        else if (CurrentPicture.PictureCodingType == B_PICTURE) q = (d + 1) * q / d;
    }
    S.PictureStartQuant = RcEvenClamp(q);
    S.mquant = S.RowQuant = S.PictureStartQuant;
    return S.PictureStartQuant;
}

namespace {

int BitsSoFar() { return TotalBitCount - S.PictureStartBits; }

// The two things that move a macroblock's quantiser away from its row's.
bool ActivityModulates() { return S.RateControlMode != kRcConstant && !EncoderSettings.disableAdaptiveQuant; }
bool ProtectionAdjusts(int j) { return EncoderSettings.vbvProtectionMode > 0 && j > 2; }

int ModulatedQuant(int j, int i) {
    int mquant = S.RowQuant;
    const MacroblockInfo& mb = Sequence.MacroblockInfoArray[j * Sequence.MbWidth + i];
    if (ActivityModulates()) {
        const int a = mb.spatialActivity, A = S.AverageActivity;
        // Activity masking: a busier macroblock than the average gets a coarser quantiser, within 2/3..3/2.
        if (a > 0 && A > 0) mquant = static_cast<int>(static_cast<int64_t>(3 * a + 2 * A) * S.RowQuant / (3 * A + 2 * a));
        const int m = mb.meanLuma;
        // Dark macroblocks finer (2/3 at black), bright ones coarser (up to 3/2 at white).
        if (m < S.AverageMeanLuma / 2 && m < 100) mquant = (m + 200) * mquant / 300;
        else if (m > 150) mquant = (m + 50) * mquant / 200;
        mquant = RcEvenClamp(mquant);
    }
    if (ProtectionAdjusts(j)) {
        // The picture's size if the rest is coded at the rate of the macroblocks so far.
        const int P = BitsSoFar() / (Sequence.MbWidth * j + i) * Sequence.MbHeight * Sequence.MbWidth;
        const int Sm = S.SafeMaxPictureBits, M = S.MaxPictureBits, H = Sequence.MbHeight;
        if (P > std::max(Sm - 3000, 0) && H < 4 * j) mquant += 2;
        if (P > std::max(Sm - 1000, 0) && H < 2 * j) mquant += 2;
        if (P > std::max(Sm + 2000, 0) && H < 3 * j) mquant += 2;
        if (P > std::max(Sm + 4000, 0) && H < 2 * j) mquant += 2;
        if (P > (Sm + M) / 2 && H < 2 * j) mquant += 2;
        if (P > M - (M - Sm) / 4 && H < 2 * j) mquant += 2;
        if (P > M - (M - Sm) / 10 && H < 2 * j) mquant += 8;
        if (P > M - 1000 && H < 2 * j) mquant += 8;
        mquant = std::min(mquant, 62);
    }
    return mquant;
}

void RowLaw(int k, int j) {
    // The row's step is held to two codes from the row before. At constant
    // rate that is the last quantiser handed out (VBV protection may have
    // raised it); the average-rate mode anchors to the row's own quantiser:
    // there activity moves every macroblock, and following the last of them
    // lets the rows walk away from the law, picture after picture.
    const int prev = j > 0 && S.RateControlMode == kRcConstant ? S.mquant : S.RowQuant;
    if (j > 0) {
        const int b = TotalBitCount - S.RowStartBits;
        // w: how strongly (tenths) the rows left correct the picture's deviation dev from its even share of bits.
        const int w = std::clamp(10 * (Sequence.MbHeight - j), 10, 25);
        const int dev = TotalBitCount - S.BitsPerMacroblock * k - S.PictureStartBits;
        // t: the bits the last row should have taken, its even share less the correction.
        const int t = std::clamp((S.BitsPerRow * w - 10 * dev) / w, S.RowBitsMin, std::max(S.RowBitsMax, S.RowBitsMin));
        // e: the row's relative miss of t, in tenths, plus 10. law: a mean of the reaction quantiser
        // Reaction5 / 5 (weight 25) and the row quantiser scaled by b / t (weight e).
        const int64_t e = 10LL * std::abs(t - b) / (b + 1) + 10;
        const int64_t law = (5LL * S.Reaction5 + 25 + e + e * (static_cast<int64_t>(S.RowQuant) * b) / std::max(t, 1)) / (e + 25);
        S.RowQuant = static_cast<int>(std::max<int64_t>(law, 0)) & ~1;
    }
    S.RowStartBits = TotalBitCount;
    const int c = BitsSoFar();
    if (c > S.VbvHighBits) {
        S.RowQuant = std::min(std::max(S.RowQuant, 2) + 20, 62);
        if (c > S.VbvPanicBits) S.RowQuant = 62;
    } else {
        S.RowQuant = std::clamp(S.RowQuant, 2, 62);
        S.RowQuant = std::clamp(S.RowQuant, prev - 2, prev + 2);
        S.RowQuant = std::clamp(S.RowQuant, S.RowQuantMin, std::max(S.RowQuantMax, S.RowQuantMin));
        if (S.RateControlMode == kRcConstant && j > S.RowCheckStart) {
            // P: the picture's size if the rows left take what the rows so far took.
            const int P = c / j * Sequence.MbHeight, Sm = S.SafeMaxPictureBits, M = S.MaxPictureBits,
                      H = Sequence.MbHeight;
            const bool raise[] = {P > Sm, P > Sm + 1000 && H < 4 * j,
                                  EncoderSettings.vbvProtectionMode > 0 && P > (Sm + M) / 2 && H < 2 * j,
                                  P > M && H < 2 * j};
            for (bool r : raise)
                if (r) S.RowQuant += 2, S.Reaction5 += 4, S.RowQuantMin += 2;
        }
    }
    S.RowQuant = RcEvenClamp(S.RowQuant);
}

}  // namespace

bool RcRowQuantIsUniform(int row) { return !ActivityModulates() && !ProtectionAdjusts(row); }

int RcCalcMquant(int k) {
    const int j = S.CurrentMbRow, i = S.CurrentMbColumn;
    if (i > 0) {
        S.mquant = ModulatedQuant(j, i);
    } else {
        const int m = S.RateControlMode;
        if (m == kRcConstantQuantNoVbv) {
            S.RowQuant = S.VbrQuant;
        } else if (m >= kRcFirstPlannedVbr) {
            if (j > S.RowCheckStart) {
                // The picture's size if the rows left take what the rows so far took.
                const int P = BitsSoFar() / j * Sequence.MbHeight;
                if (P > S.SafeMaxPictureBits) S.RowQuant += 2;
                else if (S.RowQuant > S.PictureStartQuant) S.RowQuant -= 2;
                if (P > S.MaxPictureBits && Sequence.MbHeight < 2 * j) S.RowQuant += 2;
            }
            S.RowQuant = RcEvenClamp(S.RowQuant);
        } else {
            RowLaw(k, j);
        }
        S.mquant = S.RowQuant;
    }
    S.MquantCount += 1;
    S.MquantSum += S.mquant;
    return S.mquant;
}

namespace {

void TrackMeasuredRate(int bits) {
    if (S.RateControlMode != kRcQuantWithinAverage && S.RateControlMode != kRcAverage) return;
    const double r = bits * EncoderSettings.frameRate;
    if (CurrentPicture.PictureIndex <= 2) S.MeasuredBitRate = r;
    else if (CurrentPicture.PictureIndex <= 10) S.MeasuredBitRate = (S.MeasuredBitRate + r) / 2;
    else S.MeasuredBitRate = 0.95 * S.MeasuredBitRate + 0.05 * r;
    if (CurrentPicture.PictureIndex > 30) RcUpdateVbrState();
}

void UpdateOverload(int bits, double q) {
    if (!RcPlannedVbv()) return;
    if (bits > S.MaxPictureBits - S.VbvSizeBits / 8 && q > 30) S.RateOverload = 1;
    else if (bits < S.MaxPictureBits - S.VbvSizeBits / 6 || q < 24) S.RateOverload = 0;
}

// Pads the constant-rate stream with zero bits so the buffer cannot overflow.
void Stuff(int bits, int margin) {
    if (S.RateControlMode == kRcConstant && bits < S.MinPictureBits + margin) {
        const int n = S.MinPictureBits - bits + margin;
        StatisticsLine(" bit stuffing = %d bits\n", n);
        if (n % 16) PutBits(n % 16, 0);
        int entries = 0;
        for (int left = n / 16; left > 0; --left) {
            PutBits(16, 0);
            if (++entries % 256 == 0) FlushBitQueue();
        }
        FlushBitQueue();
    } else if (S.RateControlMode >= kRcFirstPlannedVbr && bits < S.MinPictureBits + 256) {
        const int n = S.MinPictureBits - bits + 256;
        if (margin == 2048) StatisticsLine(" bit stuffing = %d bits\n", n);
        StatisticsLine(" VBR bit stuffing simulation = %d bits\n", n);
        S.SimulatedStuffing += n;
    }
}

void FillStatsRecord(int skipped, double averageQuant) {
    if (!EngineReport.VbvStatsEnabled) return;
    VbvStatsRecordType& r = VbvStatsRecord;
    r.pictureIndex = CurrentPicture.PictureIndex;
    r.displayNumber = CurrentPicture.CurrentDisplayNumber;
    r.inputFrame = CurrentPicture.CurrentInputFrame;
    r.pictureType = CurrentPicture.PictureCodingType;
    r.skipped = skipped;
    r.target = S.T;
    r.actual = S.PictureStartBits;
    r.mode = S.RateControlMode;
    r.targetRate = S.TargetBitRate;
    r.quantiser = averageQuant / 2;
}

}  // namespace

void RcUpdatePicture() {
    const int bits = TotalBitCount - S.PictureStartBits;
    S.PictureStartBits = bits;
    S.R1 -= static_cast<float>(bits);
    S.R += (S.T - S.T0) - bits;

    const float Q = S.MquantCount > 0 ? static_cast<float>(S.MquantSum) / static_cast<float>(S.MquantCount) : 0.0f;
    S.AverageQuant = Q;
    // The picture's complexity X: its bits times half its average mquant.
    const int X = static_cast<int>(bits * Q) >> 1;
    const bool update = bits > S.T / 4 || S.T > S.ComplexityUpdateLimit;
    switch (CurrentPicture.PictureCodingType) {
        case I_PICTURE:
            if (update) S.Xi = static_cast<int>((static_cast<double>(S.Xi) + X) * 0.5);
            S.StartQuantI = Q;
            break;
        case P_PICTURE:
            if (CurrentPicture.PicturesSinceIncrease != 0) {
                if (update) S.Xp = static_cast<int>((static_cast<double>(S.Xp) + X) * 0.5);
                S.StartQuantP = Q;
            }
            S.Np -= 1;
            break;
        default:
            if (update) S.Xb = static_cast<int>((static_cast<double>(S.Xb) + X) * 0.5);
            S.Nb -= 1;
            S.StartQuantB = Q;
            break;
    }
    StatisticsLine(" actual number of bits: S=%d\n", bits);
    StatisticsLine(" average quantization parameter Q=%.1f\n", static_cast<double>(Q));
    TrackMeasuredRate(bits);
    UpdateOverload(bits, Q);
    Stuff(bits, 2048);
    FillStatsRecord(0, Q);
}

void RcUpdateSkippedPicture() {
    const int bits = TotalBitCount - S.PictureStartBits;
    S.PictureStartBits = bits;
    S.R -= bits;
    S.R1 -= static_cast<float>(bits);
    if (S.SkippedBCountedInNb) {
        S.SkippedBCountedInNb = 0;
        S.Nb -= 1;
    }
    StatisticsLine(" Skip this B frame\n actual number of bits: S=%d\n", bits);
    TrackMeasuredRate(bits);
    UpdateOverload(bits, S.AverageQuant);
    Stuff(bits, 256);
    FillStatsRecord(1, S.AverageQuant);
}

void RcUpdateVbrState() {
    const double B = S.MeasuredBitRate, U = EncoderSettings.averageBitRateUpper,
                 L = EncoderSettings.averageBitRateLower;
    int step = 0;
    if (S.RateControlMode == kRcQuantWithinAverage) {
        static const double above[] = {1.55, 1.5, 1.45, 1.4, 1.3, 1.2, 1.1, 1.0};
        // The further the measured rate B is above the upper limit U, the larger the step (16 down to 2).
        for (int n = 0; n < 8 && step == 0; ++n)
            if (B > above[n] * U) step = 16 - 2 * n;
    } else {
        const double m = std::min(U, EncoderSettings.maxBitRate - U);
        static const double above[] = {0.9, 0.8, 0.7, 0.6, 0.45, 0.3, 0.15, 0.0};
        // The same steps by how far B has gone from U towards U + m, m the room up to the maximum rate.
        for (int n = 0; n < 8 && step == 0; ++n)
            if (B > U + m * above[n]) step = 16 - 2 * n;
    }
    if (step == 0) {
        if (B < 0.5 * L) step = -6;
        else if (B < 0.75 * L) step = -4;
        else if (B < L) step = -2;
    }
    S.VbrQuant = S.BaseQuant + step;
    const int n = CurrentPicture.PictureIndex;
    // Over the first 120 pictures the step comes in gradually, from the base quantiser.
    if (n < 120) S.VbrQuant = ((120 - n) * S.BaseQuant + n * S.VbrQuant) / 120;
    S.VbrQuant = std::clamp(S.VbrQuant, 2, 62);
}
