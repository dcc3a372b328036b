// The decoder's buffer model on a 90 kHz clock: decoding times, fullness,
// underflow and overflow, the vbv_delay of each picture header, and the VBV
// statistics lines.
#include <algorithm>
#include <cstdio>
#include <string>

#include "engine/BitWriter.h"
#include "engine/EngineState.h"
#include "engine/RateControlPrivate.h"
#include "platform/Format.h"
#include "platform/MessageBox.h"
#include "platform/System.h"
#include "settings/EncoderSettings.h"
#include "settings/Report.h"

namespace {

RateControlStateRecord& S = RateControlState;

double StreamBits() {
    return S.BitCountWraps * 50000000.0 + static_cast<double>((static_cast<int64_t>(TotalBitCount) + 7) & ~int64_t{7}) +
           S.SimulatedStuffing;
}

void TrackFullness() {
    S.FullnessBefore = std::clamp(S.BitsPerTick * S.DecodingTime - S.PrevBitsDelivered, 0.0, S.VbvSizeBits);
    S.FullnessAfter = std::clamp(S.BitsPerTick * S.DecodingTime - S.BitsDelivered, 0.0, S.VbvSizeBits);
}

void UpdateTrackers() {
    const double oldMax = S.MaxFullness, oldMin = S.MinFullness;
    S.GopMaxFullness = std::max(S.GopMaxFullness, S.FullnessBefore);
    S.GopMinFullness = std::min(S.GopMinFullness, S.FullnessAfter);
    S.MaxFullness = std::max(S.GopMaxFullness, S.PrevGopMaxFullness);
    S.MinFullness = std::min(S.GopMinFullness, S.PrevGopMinFullness);
    if (S.RateControlMode == kRcConstant)
        S.FullnessSpreadChange = (S.MaxFullness - oldMax) - (oldMin - S.MinFullness);
}

void Warn(int status) {
    if (S.VbvWarningShown || status == 0) return;
    std::string text;
    if (status == 1) {
        text = "VBV buffer underflow.";
        if (S.RateControlMode == kRcConstant)
            text += "\n\nProgram can't keep constant bitrate.\nSpecified bitrate is too low.";
        else if (S.RateControlMode == kRcConstantQuantNoVbv)
            text += "\n\nPeak value of bitrate higher than \nspecified maximum bitrate.\nQuantization scale it too low.";
        else
            text += "\n\nPeak value of bitrate higher than \nspecified maximum bitrate.";
    } else {
        text = "VBV buffer overflow.";
    }
    if (text.empty() || text.size() >= 256) return;
    if (BatchMode > 1) {
        LogConstrainedMessage(text);
        S.VbvWarningShown = 1;
        return;
    }
    if (EncoderSettings.suppressWarnings) return;
    platform::MbAnswer a = platform::ShowMessageBox(text, " Warning", platform::MbButtons::OkCancel,
                                                    platform::MbIcon::Warning, MessageOwnerWindow);
    if (a == platform::MbAnswer::Cancel) {
        ReportFatalError("The current encode has been aborted.");
        return;
    }
    S.VbvWarningShown = 1;
}

}  // namespace

void RcEndPicture() {
    S.PrevBitsDelivered = S.BitsDelivered;
    S.BitsDelivered = StreamBits();
    if (S.RateControlMode != kRcAverage) return;

    // Keep the average rate: steer the base quantiser by the bits delivered
    // against the bits the average rate allows.
    S.ExpectedBits += S.TargetBitRate / EncoderSettings.frameRate;
    int q = static_cast<int>(S.SmoothedQuant + 0.5);
    const double o = (S.BitsDelivered - S.SimulatedStuffing) - S.ExpectedBits;
    const double tol = S.RateTolerance;
    if (o > 2 * tol) q += 2;
    else if (o > tol) q += 1;
    else if (-o > 2 * tol) q -= 2;
    else if (-o > tol) q -= 1;
    q = RcEvenClamp(q);
    if ((S.SmoothedQuant < 0.75 * S.InitialQuant && S.SmoothedQuant > q) ||
        (S.SmoothedQuant > 1.6 * S.InitialQuant && q > S.SmoothedQuant))
        S.SmoothedQuant = 0.998 * S.SmoothedQuant + 0.002 * q;
    else
        S.SmoothedQuant = 0.996 * S.SmoothedQuant + 0.004 * q;
    if (o > tol) q += 2;
    else if (-o > tol) q -= 2;
    S.BaseQuant = std::clamp(q, 2, 62);
}

void CheckVbvAndWriteStats() {
    const double F = 90000.0 / EncoderSettings.frameRate;
    const double B = EncoderSettings.bitRate;
    const int Vb = EncoderSettings.vbvBufferSize * 16384;
    int status = 0;
    S.FullnessSpreadChange = 0;

    double dt;
    if (CurrentPicture.PictureCodingType == B_PICTURE) {
        dt = F;
    } else {
        dt = S.AnchorInterval;
        S.AnchorInterval = F;
    }
    if (S.DecodingTime == 0) {
        if (S.RateControlMode == kRcConstant)
            dt = std::min(static_cast<double>((7LL * Vb) / 8) * 90000.0 / B, 64000.0);
        else
            dt = static_cast<double>((31LL * Vb) / 32) * 90000.0 / B;
    }

    if (S.RateControlMode == kRcAverageNoVbv || S.RateControlMode == kRcConstantQuantNoVbv) {
        // Without VBV control the buffer is never fuller than its size at the
        // next decoding time: the excess counts as stuffing.
        const double e = (S.DecodingTime + dt) * B / 90000.0 - Vb + 100;
        if (S.BitsDelivered < e) {
            S.SimulatedStuffing += e - S.BitsDelivered;
            S.BitsDelivered = e;
        }
        TrackFullness();
    }

    const double tEop = S.BitsDelivered * 90000.0 / B;
    if (S.DecodingTime < tEop) {
        platform::DebugOutput(platform::Format("vbv_delay underflow! (decoding_time=%.1f, t_EOP=%.1f\n)", S.DecodingTime, tEop));
        StatisticsLine("vbv_delay underflow! previous picture (decoding_time  =  %.1f, t_EOP  =  %.1f)\n", S.DecodingTime,
                   tEop);
        status = 1;
    }

    if (S.RateControlMode == kRcConstant) {
        TrackFullness();
        UpdateTrackers();
    } else if (S.RateControlMode >= kRcFirstPlannedVbr) {
        TrackFullness();
        S.VbvMidLevel = 0.8 * S.VbvMidLevel + 0.1 * (S.FullnessAfter + S.FullnessBefore);
        UpdateTrackers();
    }

    S.DecodingTime += dt;

    S.VbvDelay = static_cast<int>(S.DecodingTime -
                                  (static_cast<double>((static_cast<int64_t>(TotalBitCount) + 7) & ~int64_t{7}) + 32 +
                                   S.BitCountWraps * 50000000.0 + S.SimulatedStuffing) *
                                      90000.0 / B);

    const double left = S.DecodingTime - S.BitsDelivered * 90000.0 / B, right = Vb * 90000.0 / B;
    if (right < left) {
        platform::DebugOutput("vbv_delay overflow!\n");
        StatisticsLine("vbv_delay overflow! current picture (left part  =  %.1f, right part  =  %.1f)\n", left, right);
        status = 2;
    }
    if (S.VbvDelay < 0) {
        platform::DebugOutput(platform::Format("vbv_delay underflow: %d\n", S.VbvDelay));
        StatisticsLine("vbv_delay underflow: %d\n", S.VbvDelay);
        status = 1;
        S.VbvDelay = 0;
    }
    if (S.RateControlMode == kRcConstant && S.VbvDelay > 65535) {
        platform::DebugOutput(platform::Format("vbv_delay overflow: %d\n", S.VbvDelay));
        StatisticsLine("vbv_delay overflow: %d\n", S.VbvDelay);
        status = 2;
        S.VbvDelay = 65535;
    }
    Warn(status);
    if (S.RateControlMode != kRcConstant) S.VbvDelay = 65535;

    if (EngineReport.VbvStatsEnabled && CurrentPicture.PictureIndex > 0) {
        VbvStatsRecordType& r = VbvStatsRecord;
        r.quality = EncoderSettings.qualityStatisticsMode ? EngineReport.PictureQuality : -1.0;
        r.decodingTime = S.DecodingTime - dt;
        r.fullnessBefore = static_cast<int>(S.FullnessBefore);
        r.fullnessAfter = static_cast<int>(S.FullnessAfter);
        r.vbvDelay = S.VbvDelay;
        r.status = status;
        r.statusSoFar |= status;
        if (EncoderSettings.writeVbvStatistics && EngineReport.VbvStatsFile &&
            !std::ferror(EngineReport.VbvStatsFile)) {
            platform::CLocaleScope numbers;
            std::fprintf(EngineReport.VbvStatsFile, "%d %d %d %d %d %d %d %d ", r.pictureIndex, r.displayNumber,
                         r.inputFrame, r.pictureType, r.skipped, r.target, r.actual, r.mode);
            std::fprintf(EngineReport.VbvStatsFile, "%.0lf %.0lf %.2lf %.2lf %.2lf ", r.targetRate, r.bitRate,
                         r.quantiser, r.quality, r.decodingTime);
            std::fprintf(EngineReport.VbvStatsFile, "%d %d %d %d %d %d\n", r.fullnessBefore, r.fullnessAfter, r.vbvSize,
                         r.vbvDelay, r.status, r.statusSoFar);
        }
    }
}
