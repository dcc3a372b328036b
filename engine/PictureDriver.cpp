// The sequence and picture driver.
#include "engine/PictureDriver.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "engine/BitWriter.h"
#include "engine/EngineState.h"
#include "engine/Headers.h"
#include "engine/Input.h"
#include "engine/MotionEstimation.h"
#include "engine/PictureCoder.h"
#include "engine/Predict.h"
#include "engine/PreviewConvert.h"
#include "engine/RateControl.h"
#include "engine/Threads.h"
#include "engine/Transform.h"
#include "platform/Format.h"
#include "settings/EncoderSettings.h"
#include "settings/JobState.h"
#include "settings/JobUtil.h"
#include "settings/Preview.h"
#include "settings/Report.h"
#include "settings/RunState.h"

PictureStateRecord CurrentPicture;
PictureDriverStateRecord PictureDriver;

namespace {

FramePlanes LastReadPlanes;  // where the last frame read from the input went
int PreviousBSaved = 0;

// A picture's prediction and error blocks, row by row, formed on the row
// helpers while the coding loop follows them.
struct PictureRows {
    PredictionRows prediction;
    ErrorBlockRows errors;
};
PictureRows CurrentPictureRows;

void PredictAndFormErrorRow(void* context, int row) {
    const PictureRows& rows = *static_cast<const PictureRows*>(context);
    PrefetchErrorBlockRow(rows.errors, row);
    PredictPictureRow(rows.prediction, row);
    FormErrorBlockRow(rows.errors, row);
}

// Clears the coder's view of the rows in flight however the coding ends.
struct RowsInFlightScope {
    RowsInFlightScope(RowStream* rows, RowStream* reconstruction) {
        CodingRowsInFlight = rows;
        ReconstructionRowsInFlight = reconstruction;
    }
    ~RowsInFlightScope() { CodingRowsInFlight = ReconstructionRowsInFlight = nullptr; }
    RowsInFlightScope(const RowsInFlightScope&) = delete;
    RowsInFlightScope& operator=(const RowsInFlightScope&) = delete;
};

// The raw input frame the next picture is expected to read, read on a worker
// while this picture is coded into Sequence.ReadAheadSource. The picture's
// own read takes it when the names match and the read succeeded (the two
// stores change places), and reads the file itself otherwise.
struct RawReadAhead {
    FramePlanes planes;  // the read-ahead store at the start of the read
    std::string name;
    int type = 0;
    int slot = -1;  // the worker reading, reserved until collected
    std::atomic<int> ok{0};
    // The motion search of the frame's picture, run after the read when the
    // picture's references are complete (type 0: none), into records of its own.
    MotionPicture motion;
    MacroblockInfo* records = nullptr;
    size_t recordCount = 0;
    int64_t intraSum = 0, errorSum = 0;
    uint32_t motionMs = 0;
    std::atomic<int> motionOk{0};
    std::atomic<int> finished{0};  // the task has done all it will do
    bool motionReady = false;      // collected with the read the picture took
};
RawReadAhead ReadAhead;

int32_t RawReadAheadTask(void* argument, int slot) {
    auto& r = *static_cast<RawReadAhead*>(argument);
    if (slot < 0) return -1;
    const bool ok = ReadRawFrameQuietly(r.name, r.planes, r.type) == 0;
    r.ok.store(ok ? 1 : 0);
    if (ok && r.motion.type != 0) {
        const uint32_t start = GetElapsedMilliseconds();
        const bool searched = EstimatePictureMotion(r.motion, &r.intraSum, &r.errorSum, true);
        r.motionMs = GetElapsedMilliseconds() - start;
        r.motionOk.store(searched ? 1 : 0);
    }
    r.finished.store(1, std::memory_order_release);
    return 1;
}

// Waits for the read ahead in flight, if any; true when it holds frame `name`.
bool CollectReadAhead(const std::string& name = std::string()) {
    if (ReadAhead.slot < 0) return false;
    const int slot = ReadAhead.slot;
    ReadAhead.slot = -1;
    // The encoding thread takes rows of the search ahead rather than wait for
    // it; between its stages it looks for a while, then waits.
    for (int idle = 0; !ReadAhead.finished.load(std::memory_order_acquire) && idle < 20000;) {
        if (HelpSearchAhead()) idle = 0;
        else {
            ++idle;
            CpuRelax();
        }
    }
    const int result = WaitForWorkerTasks(&slot, 1, -1);
    ReleaseWorkerSlots(&slot, 1);
    const bool taken = result == 1 && ReadAhead.ok.load() == 1 && !name.empty() && name == ReadAhead.name;
    ReadAhead.motionReady = taken && ReadAhead.motion.type != 0 && ReadAhead.motionOk.load() == 1;
    return taken;
}

size_t LumaBytes() { return static_cast<size_t>(Sequence.EncodeWidth) * Sequence.EncodeHeight; }
size_t ChromaBytes() { return static_cast<size_t>(Sequence.ChromaWidth) * Sequence.ChromaHeight; }

void CopyPlanes(const FramePlanes& from, const FramePlanes& to) {
    if (from.y == to.y) return;
    std::memcpy(to.y, from.y, LumaBytes());
    std::memcpy(to.cb, from.cb, ChromaBytes());
    std::memcpy(to.cr, from.cr, ChromaBytes());
}

std::string RawInputName(int frame) { return FormatRawInputName(EncoderSettings.inputFileName, frame); }

// B pictures that will really be coded in a group with `nb` B pictures.
int CodedBPictures(int nb, int M) {
    const int mode = EncoderSettings.skipBFramesMode;
    if (mode == 3) return 0;
    if (M > 1 && mode > 0) return nb - (nb / (M - 1)) * std::min(mode, M - 1) - std::min(mode, nb % (M - 1));
    return nb;
}

void PutSequenceHeaders() {
    PutSequenceHeader();
    if (!EncoderSettings.mpeg1) {
        PutSequenceExtension();
        if (EncoderSettings.sequenceDisplayExtension && EncoderSettings.applicationType != kApplicationSvcd)
            PutSequenceDisplayExtension();
    }
}

void SetMotionRecord(int k, bool forward, bool backward) {
    const std::vector<MotionDataRecord>& md = EncoderSettings.motionData;
    if (k < 0 || k >= static_cast<int>(md.size())) {
        ReportFatalError(" Internal error: motion data missing for the picture ");
        return;
    }
    const MotionDataRecord& r = md[static_cast<size_t>(k)];
    CurrentPicture.ForwardHorFCode = forward ? r.forwardHorFCode : 15;
    CurrentPicture.ForwardVertFCode = forward ? r.forwardVertFCode : 15;
    CurrentPicture.BackwardHorFCode = backward ? r.backwardHorFCode : 15;
    CurrentPicture.BackwardVertFCode = backward ? r.backwardVertFCode : 15;
    CurrentPicture.ForwardSearchX = r.sxf;
    CurrentPicture.ForwardSearchY = r.syf;
    CurrentPicture.BackwardSearchX = r.sxb;
    CurrentPicture.BackwardSearchY = r.syb;
}

void StartGroup(int i, int M, int N) {
    CurrentPicture.PictureCodingType = I_PICTURE;
    CurrentPicture.ForwardHorFCode = CurrentPicture.ForwardVertFCode = CurrentPicture.BackwardHorFCode =
        CurrentPicture.BackwardVertFCode = 15;
    const EncoderSettingsRecord& e = EncoderSettings;
    if (i > 0 && (e.applicationType == kApplicationDvd || e.applicationType == kApplicationSvcd ||
                  (e.sequenceHeaderOption > 0 && PictureDriver.GopCount % e.sequenceHeaderOption == 0)))
        PutSequenceHeaders();
    bool closed = i == 0;
    if (e.closedGopOption > 0 && i > 0 && PictureDriver.GopCount % e.closedGopOption == 0) {
        closed = true;
        CurrentPicture.ClosedGopBPictures = 1;
    }
    const bool first = PictureDriver.GopStartIndex == 0;
    int n = first ? N - M + 1 : N;
    n = std::min(n, Sequence.OutputFrameCount - PictureDriver.GopStartIndex);
    const int np = first ? (n + 2 * M - 2) / M - 1 : (n + M - 1) / M - 1;
    const int nb = n - np - 1;
    RcInitGop(np, nb, CodedBPictures(nb, M));
    PutGopHeader(PictureDriver.GopStartIndex, closed ? 1 : 0);
    ++PictureDriver.GopCount;
}

void DecideScheduledSkip(int M) {
    if (Sequence.InterlacedCoding) return;
    const int mode = EncoderSettings.skipBFramesMode;
    (void)M;
    PictureStateRecord& p = CurrentPicture;
    if (mode == 1 || mode == 2) {
        if (p.DisplayFrameNumber == p.PrevAnchorDisplay + 1) p.SkipBPicture = 1;
        else if (mode == 2 && p.DisplayFrameNumber == p.NextAnchorDisplay - 1) p.SkipBPicture = 2;
    } else if (mode == 3) {
        p.SkipBPicture =
            (p.NextAnchorDisplay - p.DisplayFrameNumber) < (p.DisplayFrameNumber - p.PrevAnchorDisplay) ? 2 : 1;
    }
}

void DecideAutomaticSkip() {
    const bool afterPrev = CurrentPicture.DisplayFrameNumber == CurrentPicture.PrevAnchorDisplay + 1;
    const bool beforeNext = CurrentPicture.DisplayFrameNumber == CurrentPicture.NextAnchorDisplay - 1;
    if (RateControlState.RateOverload && !Sequence.InterlacedCoding && !EncoderSettings.noBFrameSkipping) {
        if (afterPrev) CurrentPicture.SkipBPicture = 1;
        else if (beforeNext) CurrentPicture.SkipBPicture = 2;
    } else if ((afterPrev || beforeNext) && EncoderSettings.inverseTelecine && !Sequence.InterlacedCoding) {
        const int a = MaxLineDifference(Sequence.PrevAnchorSource.y, CurrentPicture.CurrentSource.y);
        const int b = MaxLineDifference(Sequence.NextAnchorSource.y, CurrentPicture.CurrentSource.y);
        if (b > 5 * a && afterPrev) CurrentPicture.SkipBPicture = 1;
        else if (a > 5 * b && beforeNext) CurrentPicture.SkipBPicture = 2;
    }
    if (CurrentPicture.SkipBPicture) RateControlState.SkippedBCountedInNb = 1;
}

// The frame read ahead becomes the picture's source: its store changes
// places with the picture's, which takes the next read ahead. The encoding
// thread copies nothing, and the frame stays where the read left it.
void TakeReadAheadFrame() {
    const uint8_t* current = CurrentPicture.CurrentSource.y;
    FramePlanes* store = current == Sequence.NextAnchorSource.y ? &Sequence.NextAnchorSource
                         : current == Sequence.BPictureSource.y ? &Sequence.BPictureSource
                                                                : nullptr;
    if (!store || Sequence.ReadAheadSource.y != ReadAhead.planes.y) {
        CopyPlanes(ReadAhead.planes, CurrentPicture.CurrentSource);
        return;
    }
    std::swap(*store, Sequence.ReadAheadSource);
    CurrentPicture.CurrentSource = *store;
}

void ReadSource(int M) {
    (void)M;
    if (CurrentPicture.CurrentInputFrame == InputState.LastReadInputFrame && LastReadPlanes.y) {
        CopyPlanes(LastReadPlanes, CurrentPicture.CurrentSource);
    } else if (CurrentPicture.PictureCodingType == B_PICTURE &&
               CurrentPicture.CurrentInputFrame == CurrentPicture.PrevAnchorInputFrame) {
        CopyPlanes(Sequence.PrevAnchorSource, CurrentPicture.CurrentSource);
    } else if (CurrentPicture.PictureCodingType == B_PICTURE &&
               CurrentPicture.CurrentInputFrame == CurrentPicture.NextAnchorInputFrame) {
        CopyPlanes(Sequence.NextAnchorSource, CurrentPicture.CurrentSource);
    } else {
        const std::string name = RawInputName(Sequence.FirstOutputFrame + CurrentPicture.DisplayFrameNumber);
        if (CollectReadAhead(name)) TakeReadAheadFrame();
        else ReadInputFrame(name.c_str(), CurrentPicture.CurrentSource);
        InputState.LastReadInputFrame = CurrentPicture.CurrentInputFrame;
        LastReadPlanes = CurrentPicture.CurrentSource;
    }
}

bool ReconstructionNeeded(int M, int N) {
    return (CurrentPicture.PictureCodingType != B_PICTURE && !(M == 1 && N == 1)) ||
           EncoderSettings.qualityStatisticsMode != 0 || (EncoderSettings.showOutput && !CurrentPicture.RepeatBPicture);
}

// Rebuilds the picture after coding, when no rows followed the coding loop.
void Reconstruct() {
    itransform(Sequence.PredictionFrame, CurrentPicture.CurrentRecon, Sequence.MacroblockInfoArray,
               Sequence.BlockStore, 0, Sequence.EncodeHeight / 16, 0);
}

void ShowInputPreview() {
    const int frame =
        PictureDriver.BPicturesPending ? CurrentPicture.PrevAnchorInputFrame : CurrentPicture.CurrentInputFrame;
    if (frame == InputState.LastShownInputFrame || CurrentPicture.RepeatBPicture || !EncoderSettings.showInput) return;
    if (PictureDriver.BPicturesPending && CurrentPicture.PrevAnchorInputFrame == 0) return;
    // An AVI frame read for coding put its own picture in the preview. The
    // anchor shown while B pictures are pending comes from its source planes,
    // as raw input does: reading its frame once more would run the film
    // analysis again, and the preview would change the stream.
    if (EncoderSettings.inputType != 2 || (PictureDriver.BPicturesPending && frame != CurrentPicture.CurrentInputFrame)) {
        const FramePlanes& planes =
            PictureDriver.BPicturesPending ? Sequence.PrevAnchorSource : CurrentPicture.CurrentSource;
        std::lock_guard<std::mutex> lock(PreviewPictures.InputPreviewLock);
        if (PreviewPictures.PaletteDisplay) {
            ConvertPictureForPreview(planes);
        } else if (PreviewPictures.InputPreviewBuffer) {
            ConvertYuvToRgbPreview(planes, PreviewPictures.InputPreviewBuffer, &PreviewPictures.InputPreviewReady);
            PreviewPictures.InputPreviewPixels = PreviewPictures.InputPreviewBuffer;
        }
    }
    DrawInputPreview();
    InputState.LastShownInputFrame = frame;
}

void DrawOutputPreviewHere(const FramePlanes& shown) {
    std::lock_guard<std::mutex> lock(PreviewPictures.OutputPreviewLock);
    if (OutputPreviewUsesChosenConverter()) ConvertPictureForPreview(shown);
    else if (PreviewPictures.OutputPreviewBuffer)
        ConvertYuvToRgbPreview(shown, PreviewPictures.OutputPreviewBuffer, &PreviewPictures.OutputPreviewReady);
    RefreshOutputPreview();
}

// The picture a draw task shows is a copy of its own: the pictures coded
// meanwhile rewrite the reconstruction stores. The next draw, and the end of
// the sequence, wait for the task before the copy changes.
struct OutputDrawHandOver {
    std::vector<uint8_t> bytes;
    FramePlanes planes;
    WorkerTask draw = nullptr;
    int slot = -1;  // the worker drawing, reserved until waited for
    std::atomic<int> done{0};
};
OutputDrawHandOver OutputDraw;

int32_t OutputDrawTask(void* argument, int slot) {
    auto& handOver = *static_cast<OutputDrawHandOver*>(argument);
    const int32_t result = handOver.draw(&handOver.planes, slot);
    handOver.done.store(1, std::memory_order_release);
    return result;
}

void WaitForOutputDraw() {
    if (OutputDraw.slot < 0) return;
    const int slot = OutputDraw.slot;
    OutputDraw.slot = -1;
    WaitForWorkerTasks(&slot, 1, -1);
    ReleaseWorkerSlots(&slot, 1);
}

// A finished draw gives its worker back to the pool.
void CollectFinishedOutputDraw() {
    if (OutputDraw.slot >= 0 && OutputDraw.done.load(std::memory_order_acquire)) WaitForOutputDraw();
}

void ShowOutputPreview() {
    if (!EncoderSettings.showOutput || CurrentPicture.RepeatBPicture) return;
    if (PictureDriver.BPicturesPending && CurrentPicture.PrevAnchorInputFrame == 0) return;
    const FramePlanes& shown = PictureDriver.BPicturesPending ? Sequence.PrevAnchorRecon : CurrentPicture.CurrentRecon;
    if (ThreadDrawFlag != 1 || !shown.y || !shown.cb || !shown.cr) {
        DrawOutputPreviewHere(shown);
        return;
    }
    WaitForOutputDraw();
    const size_t luma = LumaBytes(), chroma = ChromaBytes();
    OutputDraw.bytes.resize(luma + 2 * chroma);
    uint8_t* copy = OutputDraw.bytes.data();
    OutputDraw.planes = FramePlanes{copy, copy + luma, copy + luma + chroma};
    CopyPlanes(shown, OutputDraw.planes);
    OutputDraw.draw = OutputPreviewUsesChosenConverter() ? DrawOutputPreviewTask : DrawOutputPreviewYuvTask;
    OutputDraw.done.store(0);
    const int slot = RunOnIdleWorker(OutputDrawTask, &OutputDraw);
    // Every worker busy: the picture is drawn here rather than lost.
    if (slot >= 0) OutputDraw.slot = slot;
    else DrawOutputPreviewHere(OutputDraw.planes);
}

void QualityStatistics() {
    const int w = EncoderSettings.horizontalSize, h = EncoderSettings.verticalSize;
    float v[3], mse[3];
    CalcPlaneVarianceMse(CurrentPicture.CurrentRecon.y, CurrentPicture.CurrentSource.y, w, h, Sequence.EncodeWidth,
                         &v[0], &mse[0]);
    CalcPlaneVarianceMse(CurrentPicture.CurrentRecon.cb, CurrentPicture.CurrentSource.cb, w / 2, h / 2,
                         Sequence.ChromaWidth, &v[1], &mse[1]);
    CalcPlaneVarianceMse(CurrentPicture.CurrentRecon.cr, CurrentPicture.CurrentSource.cr, w / 2, h / 2,
                         Sequence.ChromaWidth, &v[2], &mse[2]);
    static const char* names[] = {"Y: variance=%4.4g, MSE=%3.3g \n", "U: variance=%4.4g, MSE=%3.3g \n",
                                  "V: variance=%4.4g, MSE=%3.3g \n"};
    float q[3];
    for (int p = 0; p < 3; ++p) {
        StatisticsLine(names[p], static_cast<double>(v[p]), static_cast<double>(mse[p]));
        q[p] = mse[p] > 0.667f ? 100.0f * std::exp(2.0f * (0.667f - mse[p]) / (std::sqrt(v[p]) + 1.0f)) : 99.9f;
    }
    EngineReport.PictureQuality = (4 * q[0] + q[1] + q[2]) / 6;
    if (EngineReport.PictureQuality < EngineReport.MinimumQuality) {
        EngineReport.MinimumQuality = EngineReport.PictureQuality;
        EngineReport.MinimumQualityFrame = PictureDriver.CurrentPictureNumber;
    }
    const int n = EngineReport.QualityPictureCount;
    EngineReport.AverageQuality = ((n - 1) * EngineReport.AverageQuality + EngineReport.PictureQuality) / n;
    StatisticsLine("  %d  Pic. YUV: Q=%4.4g, Qm=%4.4g \n\n", n, static_cast<double>(EngineReport.PictureQuality),
                   static_cast<double>(EngineReport.AverageQuality));
    ++EngineReport.QualityPictureCount;

    int skipped = 0, intra = 0, notCoded = 0, blocks = 0, forward = 0, backward = 0, both = 0;
    const int count = Sequence.MbWidth * Sequence.MbHeight;
    for (int k = 0; k < count; ++k) {
        const MacroblockInfo& mb = Sequence.MacroblockInfoArray[k];
        if (mb.skipped) ++skipped;
        else if (mb.typeFlags & MB_INTRA) ++intra;
        else if (!(mb.typeFlags & MB_PATTERN)) ++notCoded;
        for (int b = 0; b < BlockCount; ++b)
            if (mb.codedBlockPattern & (1 << b)) ++blocks;
        const int d = mb.typeFlags & (MB_FORWARD | MB_BACKWARD);
        if (d == MB_FORWARD) ++forward;
        else if (d == MB_BACKWARD) ++backward;
        else if (d == (MB_FORWARD | MB_BACKWARD)) ++both;
    }
    const double pc = 100.0 / count, pb = 100.0 / (count * BlockCount);
    StatisticsLine("\n Sum of prediction variance (total vlc): %ld \n",
                   static_cast<long>(CurrentPicture.PictureErrorSum));
    StatisticsLine("\n Macroblock types:\n");
    StatisticsLine(" # of intra coded macroblocks:  %4d (%.1f%%)\n", intra, intra * pc);
    StatisticsLine(" # of coded blocks:             %4d (%.1f%%)\n", blocks, blocks * pb);
    StatisticsLine(" # of not coded macroblocks:    %4d (%.1f%%)\n", notCoded, notCoded * pc);
    StatisticsLine(" # of skipped macroblocks:      %4d (%.1f%%)\n", skipped, skipped * pc);
    StatisticsLine(" # of forw. pred. macroblocks:  %4d (%.1f%%)\n", forward, forward * pc);
    StatisticsLine(" # of backw. pred. macroblocks: %4d (%.1f%%)\n", backward, backward * pc);
    StatisticsLine(" # of interpolated macroblocks: %4d (%.1f%%)\n", both, both * pc);
}

// The search of the next picture may run with its read while this B picture
// is coded, when the next picture's references are complete: a B picture of
// the same pair of anchors, or the P picture after them.
void PlanMotionAhead(int next, int display) {
    ReadAhead.motion = MotionPicture{};
    const int M = EncoderSettings.ipDistance, N = EncoderSettings.gopSize;
    if (MeThreadCount < 2 || M < 2 || N < 1) return;
    const bool anchor = (next - 1) % M == 0;
    // After an anchor, the first B picture's forward stage only needs the
    // anchor before it (the table task of this one may still run).
    const bool firstStageOnly = CurrentPicture.PictureCodingType != B_PICTURE;
    if (firstStageOnly ? anchor || !MotionBandsSettled() : !MotionTasksSettled()) return;
    if (anchor && next == std::max(((M - 1 + next) / N) * N - M + 1, 0)) return;  // an I picture
    if (!anchor && (EncoderSettings.skipBFramesMode != 0 || CurrentPicture.ClosedGopBPictures)) return;
    const std::vector<MotionDataRecord>& md = EncoderSettings.motionData;
    const int k = anchor ? 0 : (next - 2) % M + 1;
    if (k < 0 || k >= static_cast<int>(md.size())) return;
    const size_t count = static_cast<size_t>(Sequence.MbWidth) * Sequence.MbHeight;
    if (ReadAhead.recordCount != count) {
        FreeAligned(ReadAhead.records);
        ReadAhead.records = static_cast<MacroblockInfo*>(AllocAligned(sizeof(MacroblockInfo) * count));
        ReadAhead.recordCount = ReadAhead.records ? count : 0;
        if (!ReadAhead.records) return;
        for (size_t n = 0; n < count; ++n) new (&ReadAhead.records[n]) MacroblockInfo();
    }
    const int input = MapOutputToInputFrame(display + Sequence.FirstOutputFrame);
    const MotionDataRecord& r = md[static_cast<size_t>(k)];
    MotionPicture& p = ReadAhead.motion;
    p.currentSource = ReadAhead.planes.y;
    p.records = ReadAhead.records;
    p.words = SearchWordsFromSettings();
    p.bands = SearchAheadBandCount();
    p.forwardRangeX = r.sxf;
    p.forwardRangeY = r.syf;
    if (anchor) {
        // The newest anchor becomes the reference, and its tables the forward ones.
        p.type = P_PICTURE;
        p.prevAnchorSource = Sequence.NextAnchorSource.y;
        p.prevAnchorRecon = Sequence.NextAnchorRecon.y;
        p.forwardTables = MotionState.prizn;
        p.matchFlags = PictureMatchFlagsFor(P_PICTURE, input, CurrentPicture.NextAnchorInputFrame, -1);
        return;
    }
    p.type = B_PICTURE;
    p.closedGop = CurrentPicture.ClosedGopBPictures;
    p.prevAnchorSource = Sequence.PrevAnchorSource.y;
    p.nextAnchorSource = Sequence.NextAnchorSource.y;
    p.prevAnchorRecon = Sequence.PrevAnchorRecon.y;
    p.nextAnchorRecon = Sequence.NextAnchorRecon.y;
    p.backwardRangeX = r.sxb;
    p.backwardRangeY = r.syb;
    p.forwardTables = MotionState.priz;
    p.backwardTables = MotionState.prizn;
    p.matchFlags = PictureMatchFlagsFor(B_PICTURE, input, CurrentPicture.PrevAnchorInputFrame,
                                        CurrentPicture.NextAnchorInputFrame);
    p.firstStageOnly = firstStageOnly;
    // A first stage without the full-sample search runs on the caller alone.
    if (firstStageOnly && (p.matchFlags & 1)) p = MotionPicture{};
}

// Starts reading the raw input frame of picture `next` on a worker.
void StartReadAhead(int next) {
    if (!ThreadReadFlag || EncoderSettings.inputType > 1 || next >= Sequence.OutputFrameCount || ReadAhead.slot >= 0)
        return;
    const int M = EncoderSettings.ipDistance;
    const bool anchor = next == 0 || (next - 1) % M == 0;
    const int display = anchor ? std::min(next + M - 1, Sequence.OutputFrameCount - 1) : next - 1;
    // A picture of an input frame already read takes a copy instead.
    if (MapOutputToInputFrame(display + Sequence.FirstOutputFrame) == CurrentPicture.CurrentInputFrame) return;
    if (!Sequence.ReadAheadSource.y) return;
    ReadAhead.planes = Sequence.ReadAheadSource;
    ReadAhead.name = RawInputName(Sequence.FirstOutputFrame + display);
    ReadAhead.type = EncoderSettings.inputType;
    ReadAhead.ok.store(0);
    ReadAhead.motionOk.store(0);
    ReadAhead.finished.store(0);
    PlanMotionAhead(next, display);
    const int slot = RunOnIdleWorker(RawReadAheadTask, &ReadAhead);
    if (slot >= 0) ReadAhead.slot = slot;
}

}  // namespace

int StartSequenceEncoding() {
    // A read ahead left by an abandoned sequence ended with its worker pool.
    ReadAhead.slot = -1;
    ReadAhead.motionReady = false;
    OutputDraw.slot = -1;
    PictureDriver.BPicturesPending = 0;
    InputState.LastReadInputFrame = InputState.LastShownInputFrame = -2;
    LastReadPlanes = FramePlanes{};
    InputState.OldestNeededFrame = 0;
    PictureDriver.GopCount = 0;
    CurrentPicture.TotalVlcLevel = 0;
    PictureDriver.LastPictureCoded = 0;
    PreviousBSaved = 0;
    RcReset();
    if (RcInitSequence() < 0) return -1;
    PutSequenceHeaders();
    CurrentPicture.PictureIndex = 0;
    VideoSequenceState = 1;
    return 0;
}

namespace {

// What the coding step leaves to the reconstruction and the statistics.
struct CodedPicture {
    bool reconstruct = false;             // the picture is rebuilt as a reference or for the previews
    bool reconstructedAlongside = false;  // rebuilt row by row on a helper while it was coded
};

size_t MacroblockRecordBytes() {
    return sizeof(MacroblockInfo) * static_cast<size_t>(Sequence.MbWidth) * Sequence.MbHeight;
}

size_t BlockStoreBytes() {
    return sizeof(int16_t) * 64 * BlockCount * static_cast<size_t>(Sequence.MbWidth) * Sequence.MbHeight;
}

// Group and type: the picture's place in its group, its type and frame stores, its
// input frame, and whether it is skipped, repeats the B picture before or is saved
// for a repeat.
void ChooseGroupAndType(int i, int M, int N) {
    CollectFinishedOutputDraw();
    CurrentPicture.SkipBPicture = 0;
    CurrentPicture.RepeatBPicture = 0;
    const int previousSaved = CurrentPicture.SaveForRepeat;
    CurrentPicture.SaveForRepeat = 0;
    RateControlState.SkippedBCountedInNb = 0;
    PictureDriver.CurrentPictureNumber = i + 1;
    PictureDriver.VideoPassPhase = 1;
    EngineReport.TotalEncodingTimeMs = GetElapsedMilliseconds() - EngineReport.EncodingStartTime;
    PictureDriver.ElapsedSeconds = static_cast<int>(EngineReport.TotalEncodingTimeMs / 1000);

    PictureDriver.GopStartIndex = std::max(((M - 1 + i) / N) * N - M + 1, 0);
    const bool anchor = i == 0 || (i - 1) % M == 0;
    if (anchor) {
        std::swap(Sequence.PrevAnchorSource, Sequence.NextAnchorSource);
        std::swap(Sequence.PrevAnchorRecon, Sequence.NextAnchorRecon);
        CurrentPicture.CurrentSource = Sequence.NextAnchorSource;
        CurrentPicture.CurrentRecon = Sequence.NextAnchorRecon;
        PictureDriver.BPicturesPending = (i > 0 && M > 1) ? 1 : 0;
        CurrentPicture.DisplayFrameNumber = i == 0 ? 0 : std::min(i + M - 1, Sequence.OutputFrameCount - 1);
        if (i == PictureDriver.GopStartIndex) {
            StartGroup(i, M, N);
        } else {
            CurrentPicture.PictureCodingType = P_PICTURE;
            CurrentPicture.ClosedGopBPictures = 0;
            SetMotionRecord(0, true, false);
            CurrentPicture.NextIsGopStart = (M == 1 && (i + 1) % N == 0) ? 1 : 0;
        }
    } else {
        CurrentPicture.CurrentSource = Sequence.BPictureSource;
        CurrentPicture.CurrentRecon = Sequence.BPictureRecon;
        CurrentPicture.PictureCodingType = B_PICTURE;
        CurrentPicture.DisplayFrameNumber = i - 1;
        SetMotionRecord((i - 2) % M + 1, true, true);
    }
    CurrentPicture.CurrentDisplayNumber = CurrentPicture.DisplayFrameNumber;
    CurrentPicture.TemporalReference = CurrentPicture.DisplayFrameNumber - PictureDriver.GopStartIndex;

    static const char letters[] = " IPBD";
    StatisticsLine("\nFrame %d (#%d in display order):\n", i, CurrentPicture.DisplayFrameNumber);
    StatisticsLine(" picture_type=%c\n", letters[CurrentPicture.PictureCodingType]);

    InputState.CurrentFrameNumber = CurrentPicture.DisplayFrameNumber + Sequence.FirstOutputFrame;
    CurrentPicture.CurrentInputFrame = MapOutputToInputFrame(InputState.CurrentFrameNumber);
    if (CurrentPicture.NextIsGopStart &&
        MapOutputToInputFrame(InputState.CurrentFrameNumber + 1) == CurrentPicture.CurrentInputFrame)
        CurrentPicture.NextIsGopStart = 0;

    if (CurrentPicture.PictureCodingType == B_PICTURE) {
        DecideScheduledSkip(M);
    } else {
        CurrentPicture.PrevAnchorDisplay = CurrentPicture.NextAnchorDisplay;
        CurrentPicture.NextAnchorDisplay = CurrentPicture.DisplayFrameNumber;
        CurrentPicture.PrevAnchorInputFrame = CurrentPicture.NextAnchorInputFrame;
        CurrentPicture.NextAnchorInputFrame = CurrentPicture.CurrentInputFrame;
    }
    CurrentPicture.AnchorRepeatsInput = (CurrentPicture.PictureCodingType != B_PICTURE && i >= 1 &&
                                         CurrentPicture.CurrentInputFrame == CurrentPicture.PrevAnchorInputFrame)
                                            ? 1
                                            : 0;

    if (PictureDriver.RepeatStoresAllocated && CurrentPicture.PictureCodingType == B_PICTURE &&
        !CurrentPicture.SkipBPicture) {
        CurrentPicture.RepeatBPicture =
            (CurrentPicture.CurrentInputFrame == PictureDriver.LastBInputFrame && previousSaved) ? 1 : 0;
        CurrentPicture.SaveForRepeat =
            (i % M != 0 && MapOutputToInputFrame(InputState.CurrentFrameNumber + 1) == CurrentPicture.CurrentInputFrame)
                ? 1
                : 0;
    }

}

// Input: the picture's source frame (or the one read ahead for it), and the
// automatic skip decision that needs it.
void ReadPictureInput(int M) {
    ReadAhead.motionReady = false;
    if (!CurrentPicture.RepeatBPicture) ReadSource(M);
    CollectReadAhead();

    if (CurrentPicture.PictureCodingType == B_PICTURE && EncoderSettings.skipBFramesMode == 0 &&
        !CurrentPicture.SkipBPicture && !CurrentPicture.RepeatBPicture)
        DecideAutomaticSkip();
    if (CurrentPicture.SkipBPicture) CurrentPicture.SaveForRepeat = 0;

}

// Motion: the records of a repeated picture, the fixed vectors of a skipped one, or
// the search (taking over what the search ahead found).
void EstimatePictureMotion() {
    const size_t recordBytes = MacroblockRecordBytes();
    const size_t blockBytes = BlockStoreBytes();
    if (CurrentPicture.RepeatBPicture) {
        std::memcpy(Sequence.MacroblockInfoArray, PictureDriver.RepeatMacroblockInfo, recordBytes);
        std::memcpy(Sequence.BlockStore, PictureDriver.RepeatBlockStore, blockBytes);
    } else if (CurrentPicture.SkipBPicture) {
        for (int k = 0; k < Sequence.MbWidth * Sequence.MbHeight; ++k) {
            MacroblockInfo& mb = Sequence.MacroblockInfoArray[k];
            mb.typeFlags = CurrentPicture.SkipBPicture == 1 ? MB_FORWARD : MB_BACKWARD;
            mb.motionType = 2;
            mb.forwardVector[0] = mb.forwardVector[1] = mb.backwardVector[0] = mb.backwardVector[1] = 0;
        }
    } else {
        const uint32_t started = GetElapsedMilliseconds();
        MotionAhead ahead;
        if (ReadAhead.motionReady)
            ahead = {ReadAhead.motion, ReadAhead.records, ReadAhead.intraSum, ReadAhead.errorSum, ReadAhead.motionMs};
        RunMotionEstimation(Sequence.PrevAnchorSource.y, Sequence.NextAnchorSource.y, Sequence.PrevAnchorRecon.y,
                            Sequence.NextAnchorRecon.y, CurrentPicture.CurrentSource.y, CurrentPicture.CurrentRecon.y,
                            CurrentPicture.ForwardSearchX, CurrentPicture.ForwardSearchY,
                            CurrentPicture.BackwardSearchX, CurrentPicture.BackwardSearchY,
                            Sequence.MacroblockInfoArray, 0, 0, ReadAhead.motionReady ? &ahead : nullptr);
        if (EngineReport.EngineTimingReport) EngineReport.CompressionTimeMs += GetElapsedMilliseconds() - started;
    }
}

// Coding: prediction, error blocks and transforms (row by row ahead of the coding
// loop when helpers are there), the next picture's read and search started beside
// it, the coding loop, and with split reconstruction each coded row rebuilt behind it.
CodedPicture CodePicture(int i, int M, int N) {
    const size_t recordBytes = MacroblockRecordBytes();
    const size_t blockBytes = BlockStoreBytes();
    // With row helpers the prediction and the error blocks are formed while
    // the picture is coded, each row before the coding loop reaches it; a
    // picture saved for a repeat has its blocks complete first.
    const bool formed = !CurrentPicture.SkipBPicture && !CurrentPicture.RepeatBPicture;
    const bool rowsFollowCoding = formed && PictureRowHelpers() > 0 && !CurrentPicture.SaveForRepeat;
    if (formed && !rowsFollowCoding)
        PredictPicture(Sequence.PrevAnchorRecon, Sequence.NextAnchorRecon, Sequence.PredictionFrame, Sequence.MacroblockInfoArray, CurrentPicture.PictureCodingType);
    // The next picture's read (and its search, when it can run now) starts
    // before this picture's rows, and shares the processors with them.
    StartReadAhead(i + 1);
    const int helpers =
        ReadAhead.slot >= 0 && ReadAhead.motion.type != 0 ? PictureRowHelpersBesideSearch() : PictureRowHelpers();

    if (ThreadReadFlag && EncoderSettings.inputType == 2) RunOnWorkerThread(InputReadAheadTask, &ThreadReadFlag);

    std::optional<RowStream> rows;
    if (rowsFollowCoding) {
        CurrentPictureRows.prediction = SetUpPredictionRows(Sequence.PrevAnchorRecon, Sequence.NextAnchorRecon, Sequence.PredictionFrame,
                                                            Sequence.MacroblockInfoArray, CurrentPicture.PictureCodingType);
        CurrentPictureRows.errors = SetUpErrorBlockRows(Sequence.PredictionFrame, CurrentPicture.CurrentSource,
                                                        Sequence.MacroblockInfoArray, Sequence.BlockStore, true);
        rows.emplace(Sequence.EncodeHeight / 16, helpers, PredictAndFormErrorRow, &CurrentPictureRows);
        CalcSpatialActivity(CurrentPicture.CurrentSource.y);
    } else if (formed) {
        CalcSpatialActivity(CurrentPicture.CurrentSource.y);
        FormPredictionErrorBlocks(Sequence.PredictionFrame, CurrentPicture.CurrentSource, Sequence.MacroblockInfoArray,
                                  Sequence.BlockStore);
        // The records go with the blocks: forming decides how the blocks are
        // laid out and whether they are transformed already.
        if (CurrentPicture.SaveForRepeat && PictureDriver.RepeatBlockStore && PictureDriver.RepeatMacroblockInfo) {
            std::memcpy(PictureDriver.RepeatMacroblockInfo, Sequence.MacroblockInfoArray, recordBytes);
            std::memcpy(PictureDriver.RepeatBlockStore, Sequence.BlockStore, blockBytes);
        }
    }

    // With split reconstruction on, each coded row is rebuilt on a helper
    // while the coding loop goes on.
    const bool reconstruct = !CurrentPicture.SkipBPicture && ReconstructionNeeded(M, N);
    std::optional<RowStream> reconstruction;
    ReconstructionRows reconstructionRows;
    if (reconstruct && ThreadEncodeFlag) {
        reconstructionRows = SetUpReconstructionRows(Sequence.PredictionFrame, CurrentPicture.CurrentRecon,
                                                     Sequence.MacroblockInfoArray, Sequence.BlockStore, 1);
        reconstruction.emplace(Sequence.EncodeHeight / 16, 1, ReconstructRow, &reconstructionRows, true);
    }
    {
        const RowsInFlightScope inFlight(rows ? &*rows : nullptr, reconstruction ? &*reconstruction : nullptr);
        PutPicture();
    }
    if (rows) rows->Finish();
    if (reconstruction) reconstruction->Finish();
    return {reconstruct, reconstruction.has_value()};

}

// Reconstruction: a skipped picture shows the anchor it repeats; any other is
// rebuilt here unless its rows were rebuilt while it was coded.
void ReconstructPicture(const CodedPicture& coded) {
    if (CurrentPicture.SkipBPicture) {
        CurrentPicture.CurrentSource =
            CurrentPicture.SkipBPicture == 1 ? Sequence.PrevAnchorSource : Sequence.NextAnchorSource;
        CurrentPicture.CurrentRecon =
            CurrentPicture.SkipBPicture == 1 ? Sequence.PrevAnchorRecon : Sequence.NextAnchorRecon;
    } else if (coded.reconstruct && !coded.reconstructedAlongside) {
        Reconstruct();
    }
}

// Previews and statistics of the picture just coded.
void ShowPreviewsAndStatistics(const CodedPicture& coded) {
    ShowOutputPreview();
    if (EncoderSettings.qualityStatisticsMode != 0 && (coded.reconstruct || CurrentPicture.SkipBPicture)) QualityStatistics();
    ++Sequence.EncodedFrameCount;
    UpdateVideoProgress();
}

// What the next picture needs of this one: the last B input frame, the running
// prediction error, the oldest input frame still needed and the picture index.
void FinishPicture(int i) {
    PictureDriver.LastBInputFrame = (CurrentPicture.PictureCodingType == B_PICTURE && !CurrentPicture.SkipBPicture)
                                        ? CurrentPicture.CurrentInputFrame
                                        : -2;
    if (i == 0) CurrentPicture.TotalVlcLevel = CurrentPicture.PictureErrorSum;
    else if (CurrentPicture.PictureCodingType == P_PICTURE)
        CurrentPicture.TotalVlcLevel += (CurrentPicture.PictureErrorSum - CurrentPicture.TotalVlcLevel) >> 2;
    ++CurrentPicture.PicturesSinceIncrease;
    int oldest = CurrentPicture.PictureCodingType == B_PICTURE ? CurrentPicture.CurrentInputFrame
                                                               : CurrentPicture.PrevAnchorInputFrame;
    if (InputState.SmartDeinterlace) --oldest;
    if (oldest < 0) oldest = std::max(EncoderSettings.firstFrame, 0);
    InputState.OldestNeededFrame = oldest;
    CurrentPicture.PictureIndex = i + 1;
    if (CurrentPicture.PictureIndex >= Sequence.OutputFrameCount) PictureDriver.LastPictureCoded = 1;
}

}  // namespace

int EncodePicture() {
    const int i = CurrentPicture.PictureIndex, M = EncoderSettings.ipDistance, N = EncoderSettings.gopSize;
    if (i >= Sequence.OutputFrameCount)
        return (FrameRateConversion.enabled && i <= Sequence.OutputFrameCount + 2) ? 0 : -1;

    ChooseGroupAndType(i, M, N);
    ReadPictureInput(M);
    EstimatePictureMotion();
    const CodedPicture coded = CodePicture(i, M, N);
    ShowInputPreview();  // as soon as the picture is coded, before it is rebuilt
    ReconstructPicture(coded);
    ShowPreviewsAndStatistics(coded);
    FinishPicture(i);
    return 0;
}

int FinishSequenceEncoding() {
    CollectReadAhead();
    WaitForOutputDraw();
    if (EncoderSettings.showInput && CurrentPicture.PictureIndex > 0 &&
        InputState.LastShownInputFrame != CurrentPicture.NextAnchorInputFrame) {
        // The last anchor is last in display order; the preview buffer holds
        // the last frame read, which may be a B picture's.
        std::lock_guard<std::mutex> lock(PreviewPictures.InputPreviewLock);
        if (PreviewPictures.PaletteDisplay) {
            ConvertPictureForPreview(Sequence.NextAnchorSource);
        } else if (PreviewPictures.InputPreviewBuffer) {
            ConvertYuvToRgbPreview(Sequence.NextAnchorSource, PreviewPictures.InputPreviewBuffer,
                                   &PreviewPictures.InputPreviewReady);
            PreviewPictures.InputPreviewPixels = PreviewPictures.InputPreviewBuffer;
        }
        RefreshInputPreview();
    }
    if (EncoderSettings.showOutput && EncoderSettings.ipDistance > 1) {
        std::lock_guard<std::mutex> lock(PreviewPictures.OutputPreviewLock);
        if (OutputPreviewUsesChosenConverter()) ConvertPictureForPreview(Sequence.NextAnchorRecon);
        else if (PreviewPictures.OutputPreviewBuffer)
            ConvertYuvToRgbPreview(Sequence.NextAnchorRecon, PreviewPictures.OutputPreviewBuffer,
                                   &PreviewPictures.OutputPreviewReady);
        RefreshOutputPreview();
    }
    EngineReport.TotalEncodingTimeMs = GetElapsedMilliseconds() - EngineReport.EncodingStartTime;
    PictureDriver.ElapsedSeconds = static_cast<int>(EngineReport.TotalEncodingTimeMs / 1000);
    EngineReport.EncodingStartTime = EngineReport.TotalEncodingTimeMs;
    PictureDriver.VideoPassPhase = 2;
    if (EncoderSettings.omitSequenceEndCode != 1) PutSequenceEnd();
    VideoSequenceState = 2;
    return 0;
}

void CalcPlaneVarianceMse(const uint8_t* recon, const uint8_t* source, int width, int height, int lineLength,
                          float* variance, float* mse) {
    int64_t sum = 0, squares = 0, errors = 0;
    for (int y = 0; y < height; ++y) {
        const uint8_t* r = recon + static_cast<std::ptrdiff_t>(y) * lineLength;
        const uint8_t* s = source + static_cast<std::ptrdiff_t>(y) * lineLength;
        for (int x = 0; x < width; ++x) {
            sum += r[x];
            squares += r[x] * r[x];
            const int d = r[x] - s[x];
            errors += d * d;
        }
    }
    const double count = static_cast<double>(width) * height;
    if (count <= 0) {
        *variance = *mse = 0.0f;
        return;
    }
    const float mean = static_cast<float>(sum / count);
    *variance = static_cast<float>(squares / count) - mean * mean;
    *mse = static_cast<float>(errors / count);
}

int DrawInputPreview() {
    // With every worker busy the picture is drawn here rather than lost.
    if (ThreadDrawFlag == 1 && RunOnWorkerThread(DrawInputPreviewTask, &ThreadDrawFlag) >= 0) return 1;
    std::lock_guard<std::mutex> lock(PreviewPictures.InputPreviewLock);
    RefreshInputPreview();
    return 1;
}

int DrawInputPreviewTask(void* argument, int slot) {
    if (!argument || slot < 0) return -1;
    std::lock_guard<std::mutex> lock(PreviewPictures.InputPreviewLock);
    RefreshInputPreview();
    return 1;
}

int DrawOutputPreviewTask(void* argument, int slot) {
    if (!argument || slot < 0) return -1;
    const FramePlanes& planes = *static_cast<const FramePlanes*>(argument);
    std::lock_guard<std::mutex> lock(PreviewPictures.OutputPreviewLock);
    if (!planes.y || !planes.cb || !planes.cr) return -1;
    ConvertPictureForPreview(planes);
    PreviewPictures.OutputPreviewReady = 1;
    RefreshOutputPreview();
    return 1;
}

int DrawOutputPreviewYuvTask(void* argument, int slot) {
    if (!argument || slot < 0) return -1;
    const FramePlanes& planes = *static_cast<const FramePlanes*>(argument);
    std::lock_guard<std::mutex> lock(PreviewPictures.OutputPreviewLock);
    if (!planes.y || !planes.cb || !planes.cr || !PreviewPictures.OutputPreviewBuffer) return -1;
    ConvertYuvToRgbPreview(planes, PreviewPictures.OutputPreviewBuffer, &PreviewPictures.OutputPreviewReady);
    RefreshOutputPreview();
    return 1;
}
