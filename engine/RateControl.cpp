// Group-of-pictures budgets and picture targets: a test-model style
// allocation with a running bit-difference correction, an adaptive intra
// weight, P-size limits after content changes and planned-VBV limits.
#include "engine/RateControl.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "engine/BitWriter.h"
#include "engine/EngineState.h"
#include "engine/RateControlPrivate.h"
#include "platform/Format.h"
#include "settings/EncoderSettings.h"
#include "settings/Report.h"

RateControlStateRecord RateControlState;
VbvStatsRecordType VbvStatsRecord;

namespace {
RateControlStateRecord& S = RateControlState;
}

void StatisticsLine(const char* fmt, ...) {
    if (EncoderSettings.qualityStatisticsMode != 2 || !EngineReport.StatisticsFile) return;
    platform::CLocaleScope numbers;
    va_list args;
    va_start(args, fmt);
    std::vfprintf(EngineReport.StatisticsFile, fmt, args);
    va_end(args);
}

void RcReset() {
    S.T = S.R = 0;
    S.R1 = 0.0f;
    S.Np = S.Nb = 0;
    S.Xi = S.Xp = S.Xb = 0;
    S.mquant = S.MquantSum = 0;
    S.PictureStartBits = 0;
    S.AverageActivity = 0;
    S.BitCountWraps = 0;
    S.DecodingTime = S.AnchorInterval = S.BitsDelivered = S.PrevBitsDelivered = 0;
    CurrentPicture.PicturesSinceIncrease = 0;
}

void InitialQuantFromBitrate(double rate) {
    const int perf = EncoderSettings.performanceMode;
    const double f = perf < 5 ? 16 : perf <= 9 ? 14 : 11;
    int q = static_cast<int>(static_cast<double>(Sequence.EncodeHeight) * Sequence.EncodeWidth *
                                 EncoderSettings.frameRate * f * 1000000.0 / (rate * 9216000.0) +
                             0.5);
    q = std::clamp(q, 1, 31);
    S.VbrQuant = S.BaseQuant = 2 * q;
    S.InitialQuant = S.SmoothedQuant = 2.0 * q;
    S.TargetBitRate = rate;

    const double maxRate = EncoderSettings.maxBitRate;
    double upper = std::min(1.5 * rate, (maxRate + rate) / 2);
    upper = std::min(upper, maxRate / 1.3);
    upper = std::max(upper, 1.05 * rate);
    EncoderSettings.averageBitRateUpper = upper;
    EncoderSettings.averageBitRateLower = 0.75 * rate;

    const int c = std::clamp(Sequence.OutputFrameCount, 100, 10000);
    S.RateTolerance = c * rate / EncoderSettings.frameRate * 0.01;
}

namespace {

// Reports a refused setting; false tells the caller to give up.
bool Refuse(const char* text) {
    ReportFatalError(text);
    return false;
}

bool ChooseMode() {
    const EncoderSettingsRecord& e = EncoderSettings;
    if (e.rateControl == kRateConstant) {
        S.RateControlMode = kRcConstant;
    } else if (e.rateControl == kRateVariable) {
        static const int modes[] = {kRcAverage, kRcAverageNoVbv, kRcConstantQuantNoVbv, kRcConstantQuant,
                                     kRcQuantWithinAverage};
        if (e.vbrMode < 1 || e.vbrMode > 5) return Refuse(" Illegal vbr option value ");
        S.RateControlMode = modes[e.vbrMode - 1];
    } else {
        return Refuse(" Illegal vbr mode selection value ");
    }
    const int m = S.RateControlMode;
    if (m == kRcAverage) {
        if (!(e.averageBitRate < e.maxBitRate))
            return Refuse(" average bit rate must be lesser than maximum bit rate  ");
        InitialQuantFromBitrate(e.averageBitRate);
    }
    if (m == kRcConstantQuantNoVbv || m == kRcConstantQuant || m == kRcQuantWithinAverage) {
        if (e.constantQuantScale < 1 || e.constantQuantScale > 31)
            return Refuse(" illegal value of constant_quant_scale ");
        S.VbrQuant = S.BaseQuant = 2 * e.constantQuantScale;
    }
    if (m == kRcQuantWithinAverage) {
        if (!(e.averageBitRateUpper < e.bitRate))
            return Refuse("Value of (desired maximum of average bitrate) must be less then (maximum bit rate)");
        if (!(e.averageBitRateLower < e.averageBitRateUpper))
            return Refuse(
                "Value of (desired minimum of average bitrate) must be \nless then (desired maximum of average bit rate)");
        if (!(e.averageBitRateUpper >= 1.0))
            return Refuse("Value of (desired maximum of average bitrate) is too small");
        if (!(e.averageBitRateLower >= 0.0))
            return Refuse("Value of (desired minimum of average bitrate) must not be negative");
    }
    return true;
}

}  // namespace

RateControlKernels RcKernels;

void ratecontrol_init(bool simd, RateControlKernels& kernels) {
    kernels.activitySums = simd ? ActivitySumsSse2 : ActivitySumsPlain;
}

int RcInitSequence() {
    const EncoderSettingsRecord& e = EncoderSettings;
    S.Kb = S.KbAdaptive = 1.8;
    if (!ChooseMode()) return -1;

    const double bitRate = e.bitRate;
    S.BitsPerTick = bitRate / 90000.0;
    S.VbvWarningShown = 0;
    S.RateOverload = 0;
    S.AverageQuant = 8.0;
    S.SimulatedStuffing = 0;
    S.MeasuredBitRate = 0;
    S.ExpectedBits = 0;
    S.RowCheckStart = Sequence.MbHeight / 8 + 1;

    S.TargetBitRate = bitRate;
    const int m = S.RateControlMode;
    if (m == kRcConstantQuantNoVbv || m == kRcConstantQuant || m == kRcQuantWithinAverage) {
        if (e.constantQuantScale < 1 || e.constantQuantScale > 31) {
            ReportFatalError(" illegal quantize scale value ");
            return -1;
        }
        S.TargetBitRate = 0.8 * bitRate;
    } else if (m == kRcAverageNoVbv || m == kRcAverage) {
        if (!(e.averageBitRate < bitRate)) {
            ReportFatalError(" average bit rate must be < maximum bit rate ");
            return -1;
        }
        S.TargetBitRate = e.averageBitRate;
    }

    const double pixelsPerSecond = static_cast<double>(Sequence.EncodeWidth) * Sequence.EncodeHeight * e.frameRate;
    S.BitsPerPixelX256 = pixelsPerSecond > 0 ? static_cast<int>(std::lround(S.TargetBitRate * 256.0 / pixelsPerSecond)) : 0;
    if (e.gopSize == 1 && e.ipDistance == 1) S.BitsPerPixelX256 = static_cast<int>(S.BitsPerPixelX256 * 0.8);

    float q = S.BitsPerPixelX256 > 0 ? 1600.0f / static_cast<float>(S.BitsPerPixelX256) : 52.0f;
    if (q < 4.0f) q = 4.0f;
    if (q >= 52.0f) q = 52.0f;
    S.StartQuantI = S.StartQuantP = S.StartQuantB = q;

    const int b = S.BitsPerPixelX256;
    if (b > 400) S.StartQuantMin = 4, S.StartQuantMax = 40;
    else if (b > 250) S.StartQuantMin = 6, S.StartQuantMax = 48;
    else if (b > 100) S.StartQuantMin = 8, S.StartQuantMax = 52;
    else if (b > 60) S.StartQuantMin = 10, S.StartQuantMax = 62;
    else S.StartQuantMin = 16, S.StartQuantMax = 62;

    S.R = 0;
    S.R1 = 0.0f;
    S.PictureStartQuant = 0;
    S.VbvSizeBits = e.vbvBufferSize * 16384.0;
    S.VbvSizeTicks = S.VbvSizeBits * 90000.0 / bitRate;
    S.VbvMidLevel = 0.8 * S.VbvSizeBits;

    if (RcPlannedVbv()) {
        S.GopMaxFullness = S.PrevGopMaxFullness = S.MaxFullness = S.FullnessBefore = 0.75 * S.VbvSizeBits;
        S.GopMinFullness = S.PrevGopMinFullness = S.MinFullness = S.FullnessAfter = 0.25 * S.VbvSizeBits;
        S.FullnessSpreadChange = 0;
    }

    if (S.Xi == 0) S.Xi = static_cast<int>(std::lround(bitRate * 260.0 / 115.0));
    if (S.Xp == 0) S.Xp = static_cast<int>(std::lround(bitRate * 60.0 / 115.0));
    if (S.Xb == 0) S.Xb = static_cast<int>(std::lround(bitRate * 42.0 / 115.0));

    S.MacroblockCount = Sequence.MbWidth * Sequence.MbHeight;
    if (S.MacroblockCount < 1) {
        ReportFatalError("Frame size less than 1 macroblock.");
        return -1;
    }
    S.ComplexityUpdateLimit = 1000 * S.MacroblockCount;
    S.VbvHighBits = e.vbvBufferSize * 14336;
    S.VbvPanicBits = e.vbvBufferSize * 15360;

    if (EngineReport.VbvStatsEnabled) {
        VbvStatsRecord.mode = S.RateControlMode;
        VbvStatsRecord.targetRate = S.TargetBitRate;
        VbvStatsRecord.bitRate = bitRate;
        VbvStatsRecord.statusSoFar = 0;
        VbvStatsRecord.vbvSize = e.vbvBufferSize * 16384;
    }
    return 0;
}

void RcInitGop(int np, int nbTotal, int nbCoded) {
    if (TotalBitCount > 50000000) {
        const int k = (TotalBitCount - 1) / 50000000;
        TotalBitCount -= k * 50000000;
        S.BitCountWraps += k;
    }
    double correction = 0;
    if (RcPlannedVbv()) {
        S.PrevGopMaxFullness = S.MaxFullness = S.GopMaxFullness;
        S.PrevGopMinFullness = S.MinFullness = S.GopMinFullness;
        if (S.RateControlMode == kRcConstant)
            correction = (S.PrevGopMinFullness + S.PrevGopMaxFullness) / 2 - S.VbvSizeBits / 2;
        S.GopMaxFullness = 0;
        S.GopMinFullness = S.VbvSizeBits;
        S.FullnessSpreadChange = 0;
    }
    const int n = np + nbTotal + 1;
    const int remaining = std::max(Sequence.OutputFrameCount - CurrentPicture.PictureIndex + 1, 1);
    const double share = std::max(static_cast<double>(n) / remaining, 0.2);
    float x = static_cast<float>(share * S.R1 + correction / 2);
    const int G = static_cast<int>(n * S.TargetBitRate / EncoderSettings.frameRate);
    const float limit = static_cast<float>(G) / 8.0f;
    x = std::clamp(x, -limit, limit);
    const float r1Before = S.R1;
    S.R = S.R0 = static_cast<int>(x) + G;
    S.Np = np;
    S.Nb = nbCoded;

    StatisticsLine(" -------------------------------------------\n");
    StatisticsLine("     Starting new group of pictures\n");
    StatisticsLine(" Accumulated bit difference R1 for correction : R1=%d\n", static_cast<int>(r1Before));
    StatisticsLine(" Group size correction value : correction=%f\n", static_cast<double>(x));
    StatisticsLine(" Number of bits distributed for this group : R=%d\n", S.R);
    StatisticsLine(" N of P frames in this group: Np=%d\n", S.Np);
    StatisticsLine(" N of B frames in this group: Nb=%d\n", S.Nb);
    StatisticsLine(" Distribution parameter for I frames: Xi=%d\n", S.Xi);
    StatisticsLine(" Distribution parameter for P frames: Xp=%d\n", S.Xp);
    StatisticsLine(" Distribution parameter for B frames: Xb=%d\n", S.Xb);

    S.R1 += static_cast<float>(G);
}

namespace {

struct MotionCounts {
    int intra = 0, nonIntra = 0;
};

MotionCounts AdaptIntraWeight() {
    MotionCounts c;
    double sumX = 0, sumY = 0;
    for (int k = 0; k < S.MacroblockCount; ++k) {
        const MacroblockInfo& mb = Sequence.MacroblockInfoArray[k];
        if (mb.typeFlags & MB_INTRA) {
            ++c.intra;
        } else {
            ++c.nonIntra;
            if (mb.typeFlags & MB_FORWARD) {
                sumX += std::abs(mb.forwardVector[0]);
                sumY += std::abs(mb.forwardVector[1]);
            }
        }
    }
    const double fraction = static_cast<double>(c.nonIntra) / S.MacroblockCount;
    const double averageVector = c.nonIntra > 1 ? std::max(sumX, sumY) / c.nonIntra : 0.0;
    if (fraction > 0.98 && averageVector < 4.0) S.KbAdaptive = 1.8;
    else if (fraction > 0.9) S.KbAdaptive = 1.5;
    else if (fraction >= 0.66) S.KbAdaptive = 1.4;
    else S.KbAdaptive = 1.2;
    StatisticsLine(" -------------------------------------------\n");
    StatisticsLine(" P frame motion activity statistics:\n");
    StatisticsLine(" fraction of nonintra macroblocks= %f\n", fraction);
    StatisticsLine(" fraction of intra macroblocks= %f\n", 1.0 - fraction);
    StatisticsLine(" average forward motion vector   = %f\n\n", averageVector);
    return c;
}

int Truncate(double v) { return static_cast<int>(v); }

void PlanVbvLimits() {
    const bool constant = S.RateControlMode == kRcConstant;
    const double t = S.DecodingTime, D = S.BitsDelivered, F = 90000.0 / EncoderSettings.frameRate;
    const double sizeTicks = constant ? std::min(S.VbvSizeTicks, 65535.0) : S.VbvSizeTicks;
    const double maxA = std::max(S.BitsPerTick * t - D, 10.0);
    const double minA = std::min((F + t - sizeTicks) * S.BitsPerTick - D, maxA - 10);
    double gap = maxA - minA;
    const double minB = std::max(minA, 0.0);
    S.MinPictureBits = Truncate(minB);
    S.MaxPictureBits = Truncate(maxA);
    StatisticsLine("planned VBV: next frame max size %f   minimum size %f  \n", maxA, minB);
    if (constant && CurrentPicture.PictureCodingType != I_PICTURE) gap = std::min(gap, 32000.0);
    double safeMin = std::max(gap / 8 + minB, 0.0);
    const double room = maxA - minB;
    double cut;
    if (constant && CurrentPicture.PictureCodingType == I_PICTURE && room > 64000) cut = 16000;
    else cut = room > 1000 ? room / 4 : room / 2;
    const double safeMax = std::max(maxA - cut, 1.0);
    safeMin = std::max(std::min(safeMin, safeMax - 100), 0.0);
    S.SafeMaxPictureBits = Truncate(safeMax);
    S.SafeMinPictureBits = Truncate(safeMin);
    StatisticsLine("planned VBV: next frame safe max size %f   safe min size %f  \n", safeMax, safeMin);
    bool changed = false;
    if (S.T > safeMax) {
        S.R = Truncate(S.R - (S.T - safeMax));
        S.T = Truncate(safeMax);
        changed = true;
    } else if (constant && S.T < safeMin) {
        S.R = Truncate(safeMin - S.T + S.R);
        S.T = Truncate(safeMin);
        changed = true;
    }
    if (changed) StatisticsLine("planned VBV: new distributed bits for frame %d  \n", S.T);
}

}  // namespace

void RcInitPicture() {
    const EncoderSettingsRecord& e = EncoderSettings;
    MotionCounts counts;
    if (CurrentPicture.PictureCodingType == P_PICTURE) counts = AdaptIntraWeight();

    const int64_t xpNp = static_cast<int64_t>(S.Xp) * S.Np;
    const int64_t xbNb = static_cast<int64_t>(S.Xb) * S.Nb;
    double divisor;
    switch (CurrentPicture.PictureCodingType) {
        case I_PICTURE:
            S.Kb = (e.ipDistance <= 1 || e.gopSize <= 1) ? 1.6 : S.KbAdaptive;
            divisor = 1 + static_cast<double>(xpNp + xbNb) / (S.Xi * S.Kb);
            S.StartQuant = S.StartQuantI;
            break;
        case P_PICTURE:
            divisor = S.Np + static_cast<double>(xbNb) / (S.Xp * S.Kb);
            S.StartQuant = S.StartQuantP;
            break;
        default:
            divisor = S.Nb + static_cast<double>(xpNp) * S.Kb / S.Xb;
            S.StartQuant = S.StartQuantB;
            break;
    }
    // A budget with no pictures left to share it goes to this picture whole.
    S.T = (divisor > 0 && std::isfinite(divisor)) ? Truncate(S.R / divisor) : S.R;

    const int tMin = Truncate(e.bitRate / (8 * e.frameRate));
    S.T = std::max(S.T, tMin);
    S.T0 = S.T;

    if (CurrentPicture.PictureCodingType == P_PICTURE) {
        StatisticsLine(" total vlc on this frame %ld \n", static_cast<long>(CurrentPicture.PictureErrorSum));
        StatisticsLine(" total variance on this frame %ld \n",
                       static_cast<long>(CurrentPicture.PictureIntraVarianceSum));
        const int64_t V = CurrentPicture.PictureErrorSum, W = CurrentPicture.PictureIntraVarianceSum,
                      L = CurrentPicture.TotalVlcLevel;
        const int C = CurrentPicture.PicturesSinceIncrease, mbs = S.MacroblockCount;
        const bool grow = C > 10 && V > L &&
                          ((S.R1 > 0 && W < 4 * V && mbs > 2 * counts.nonIntra) ||
                           (S.R1 > -8.0f * tMin && W < 2 * V && mbs > 3 * counts.nonIntra));
        if (grow) {
            StatisticsLine(" Begin of a new video fragment:  \n");
            StatisticsLine(" Initial P frame size %ld \n", static_cast<long>(S.T));
            S.T = Truncate(S.T * std::sqrt(2.0 * V / static_cast<double>(V + L + 1)));
            StatisticsLine(" Increased P frame size %ld \n", static_cast<long>(S.T));
            S.T = std::min(S.T, S.R / 3);
            StatisticsLine(" P frame size after limition %ld \n", static_cast<long>(S.T));
            CurrentPicture.PicturesSinceIncrease = 0;
        } else if (C > 15 && S.R1 < 8.0f * tMin && 9 * V < W && mbs > 8 * counts.intra && V < L) {
            StatisticsLine(" Reduce size of P-frame:  \n");
            StatisticsLine(" Initial P frame size %ld \n", static_cast<long>(S.T));
            S.T = S.T0 = 9 * S.T / 10;
            StatisticsLine(" Reduced P frame size %ld \n", static_cast<long>(S.T));
            StatisticsLine(" Value of P frame size after limation %ld \n", static_cast<long>(S.T));
        }
    }

    StatisticsLine(" Number of bits distributed for group : R0=%d\n", S.R0);
    StatisticsLine(" Remaining bits distributed for this group : R=%d\n", S.R);
    StatisticsLine(" Remaining N of P frames in this group: Np=%d\n", S.Np);
    StatisticsLine(" Remaining N of B frames in this group: Nb=%d\n", S.Nb);
    StatisticsLine(" Number of bits distributed for this frame : T=%d\n", S.T);

    S.PictureStartBits = TotalBitCount;
    S.MquantSum = S.MquantCount = 0;
    S.T = std::min(S.T, S.VbvHighBits);

    if (RcPlannedVbv()) PlanVbvLimits();

    S.RowStartBits = TotalBitCount;
    S.BitsPerMacroblock = S.T / S.MacroblockCount + 1;
    S.BitsPerRow = std::max(S.T / std::max(Sequence.MbHeight, 1), 10);
    S.RowBitsMax = 4 * S.BitsPerRow;
    S.RowBitsMin = S.BitsPerRow / 4;
}

void RcInitSkippedPicture() {
    if (RcPlannedVbv()) {
        const double t = S.DecodingTime, D = S.BitsDelivered, F = 90000.0 / EncoderSettings.frameRate;
        const double sizeTicks = S.RateControlMode == kRcConstant ? std::min(S.VbvSizeTicks, 65535.0) : S.VbvSizeTicks;
        S.MinPictureBits = Truncate(std::max(0.0, (F + t - sizeTicks) * S.BitsPerTick - D));
        S.MaxPictureBits = Truncate(S.BitsPerTick * t - D);
    }
    S.PictureStartBits = TotalBitCount;
    S.MquantCount = S.MacroblockCount;
}
