// Engine lifecycle: start-up tables, the begin / picture / end steps of a
// video pass, and the set-up and shut-down of one encoding.
#include "engine/Encoder.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "engine/BitWriter.h"
#include "engine/Deinterlace.h"
#include "engine/EngineState.h"
#include "engine/Fdct.h"
#include "engine/Idct.h"
#include "engine/Input.h"
#include "engine/MotionEstimation.h"
#include "engine/PictureCoder.h"
#include "engine/PictureDriver.h"
#include "engine/Predict.h"
#include "engine/PreviewConvert.h"
#include "engine/Quant.h"
#include "engine/RateControl.h"
#include "engine/Threads.h"
#include "engine/Transform.h"
#include "engine/Vlc.h"
#include "platform/Format.h"
#include "platform/MessageBox.h"
#include "platform/ResStrings.h"
#include "settings/EncoderSettings.h"
#include "settings/JobState.h"
#include "settings/JobUtil.h"
#include "settings/Preview.h"
#include "settings/Report.h"
#include "settings/RunState.h"
#include "settings/Validate.h"

SequenceStateRecord Sequence;

int EncoderSetupState = 0;
int SequenceStarted = 0, SequenceFinished = 0;
int PreviewLocksCreated = 0;
int& VideoPassState = VideoEngineStage;
EngineJobHooks EngineJob;

namespace {

int32_t SquareStorage[511], AbsStorage[511];

// Settings one encoding changes and shut-down puts back.
struct SavedSettings {
    double bitRate = 0, upper = 0, lower = 0;
    int vbvProtectionMode = 0, deinterlace = 0;
    bool variable = false;
} Saved;

uint8_t* FramePlaneBlocks[24];  // 8 stores x 3 planes
// The video stream's buffer: one stream is open at a time, and the C
// library takes the size asked for only with a buffer given to it.
char VideoStreamBuffer[size_t{1} << 20];
uint8_t* DeinterlaceBlocks[5];

void FreeBlock(uint8_t*& p) {
    FreeAligned(p);
    p = nullptr;
}

template <typename T>
T* AllocOrFail(size_t bytes, const char* message) {
    void* p = AllocAlignedZeroed(bytes);
    if (!p) ReportFatalError(message);
    return static_cast<T*>(p);
}

void SaveSettingsForRun() {
    EncoderSettingsRecord& e = EncoderSettings;
    Saved.variable = e.rateControl != 1;
    Saved.bitRate = e.bitRate;
    Saved.upper = e.averageBitRateUpper;
    Saved.lower = e.averageBitRateLower;
    Saved.vbvProtectionMode = e.vbvProtectionMode;
    Saved.deinterlace = e.deinterlace;
    if (Saved.variable) e.bitRate = e.maxBitRate;
    if (e.mpeg1 && e.constrainedParametersFlag && e.vbvProtectionMode == 0) e.vbvProtectionMode = 1;
    if (e.vbvProtectionMode == -1) e.vbvProtectionMode = 0;
}

void RestoreSettingsAfterRun() {
    EncoderSettingsRecord& e = EncoderSettings;
    if (Saved.variable) {
        e.bitRate = Saved.bitRate;
        e.averageBitRateUpper = Saved.upper;
        e.averageBitRateLower = Saved.lower;
    }
    e.vbvProtectionMode = Saved.vbvProtectionMode;
}

void CloseAvi() {
    if (EngineJob.closeAvi) EngineJob.closeAvi();
}

bool AviHasVideoStream() { return InputAvi.hasVideo && InputAvi.hasVideo(); }
int AviGetVideoRate() { return InputAvi.rate ? InputAvi.rate() : 0; }
int AviGetVideoScale() { return InputAvi.scale ? InputAvi.scale() : 0; }
int AviGetVideoStartFrame() { return InputAvi.firstFrame ? InputAvi.firstFrame() : 0; }
int AviGetVideoEndFrame() { return InputAvi.endFrame ? InputAvi.endFrame() : 0; }

// Frame range and frame-rate conversion; false when set-up must give up.
bool SetupFrameRange() {
    EncoderSettingsRecord& e = EncoderSettings;
    FrameRateConversion = FrameRateConversionState{};
    static const int numerators[] = {0, 24000, 24, 25, 30000, 30};
    static const int denominators[] = {1, 1001, 1, 1, 1001, 1};
    const bool avi = e.inputType == 2;
    const bool hasVideo = avi && AviHasVideoStream();
    int S = 0, E = 0;
    if (hasVideo) {
        S = AviGetVideoStartFrame();
        E = AviGetVideoEndFrame();
    }
    bool converted = false;
    if (hasVideo && e.keepOriginalDuration) {
        const int rate = AviGetVideoRate(), scale = AviGetVideoScale();
        const int code = e.frameRateCode;
        const int num = code >= 1 && code <= 5 ? numerators[code] : 0;
        const int den = code >= 1 && code <= 5 ? denominators[code] : 0;
        if (rate < 1 || scale < 1 || num < 1 || den < 1 || E <= S) {
            ShowWarningMessage("Illegal frame rate codes. \n Cannot convert frame rate ");
        } else {
            const double r = (static_cast<double>(scale) * num) / (static_cast<double>(rate) * den);
            // Every frame number converted must stay a frame number.
            const double furthest =
                std::max({std::abs(double(e.framesToEncode)), double(E), double(S) + double(e.firstFrame)});
            if (!(furthest * r + 1.0 < double(INT_MAX))) {
                ShowWarningMessage(platform::Format(
                    "The frame rate of the input file %s,\n%.6g frames per second (%d/%d), cannot be converted to "
                    "the frame rate of the output.",
                    e.inputFileName.c_str(), double(rate) / scale, rate, scale));
                CloseAvi();
                return false;
            }
            int n = e.framesToEncode;
            if (n == 1) n = E - (S + e.firstFrame);
            Sequence.OutputFrameCount = static_cast<int>(n * r + 0.4);
            Sequence.FirstOutputFrame = static_cast<int>((S + e.firstFrame) * r + 0.4);
            const int lowest = static_cast<int>(S * r + 0.1), highest = static_cast<int>(E * r + 0.1);
            Sequence.FirstOutputFrame = std::max(Sequence.FirstOutputFrame, lowest);
            if (Sequence.FirstOutputFrame + Sequence.OutputFrameCount > highest)
                Sequence.OutputFrameCount = highest - Sequence.FirstOutputFrame;
            FrameRateConversion.enabled = 1;
            FrameRateConversion.outputToInputRatio = 1.0 / r;
            FrameRateConversion.aviFirstFrame = S;
            FrameRateConversion.aviEndFrame = E;
            converted = true;
            if (Sequence.InterlacedCoding && (r < 0.99 || r > 1.01)) {
                ShowWarningMessage(
                    "Frame rate conversion is not permitted when encoding\ninterlaced picture format. You must match "
                    "frame rate\nof the input and output files.\n");
                CloseAvi();
                return false;
            }
        }
    }
    if (!converted) {
        Sequence.OutputFrameCount = e.framesToEncode;
        Sequence.FirstOutputFrame = e.firstFrame;
        if (hasVideo) {
            Sequence.FirstOutputFrame = std::max(e.firstFrame + S, S);
            if (Sequence.OutputFrameCount == 1) Sequence.OutputFrameCount = E - Sequence.FirstOutputFrame;
            Sequence.OutputFrameCount = std::min(Sequence.OutputFrameCount, E - Sequence.FirstOutputFrame);
        }
    }
    // Range checks belong to AVI input: raw pictures have no frame count to check against.
    if (hasVideo) {
        if (e.firstFrame > E - S - 1) {
            ShowWarningMessage(platform::Format(
                " Error: \n The first frame number is greater than the \n number of frames in the input file %s.\n \n "
                "Valid first frame number must be from %d to %ld.\n Please correct first frame number. ",
                e.inputFileName.c_str(), S, static_cast<long>(E - S - 1)));
            CloseAvi();
            return false;
        }
        if (BatchMode < 2 && e.framesToEncode != 1 && e.firstFrame + e.framesToEncode > E - S) {
            ShowWarningMessage(platform::Format(
                " Error: \n The last frame (first frame + number of frames to encode) \n is greater than the number of "
                "frames in the input file %s.\n \n There are a maximum of %ld frames.",
                e.inputFileName.c_str(), static_cast<long>(E - S)));
            CloseAvi();
            return false;
        }
    }
    if (Sequence.OutputFrameCount < 1) {
        ShowWarningMessage(platform::Format(
            " Error: \n The last frame (first frame + number of frames to encode) \n is greater than the number of "
            "frames in the input file %s.\n \n There are a maximum of %ld frames.",
            e.inputFileName.c_str(), static_cast<long>(std::max(E - S, 0))));
        CloseAvi();
        return false;
    }
    return true;
}

void BuildTables() {
    for (int i = -255; i <= 255; ++i) {
        SquareStorage[i + 255] = i * i;
        AbsStorage[i + 255] = i < 0 ? -i : i;
    }
}

void FreeEncoderBuffers() {
    FreeInputFrameCache();
    for (uint8_t*& p : FramePlaneBlocks) FreeBlock(p);
    FramePlanes* stores[] = {&Sequence.NextAnchorRecon,  &Sequence.PrevAnchorRecon,  &Sequence.BPictureRecon,
                             &Sequence.NextAnchorSource, &Sequence.PrevAnchorSource, &Sequence.BPictureSource,
                             &Sequence.PredictionFrame,  &Sequence.ReadAheadSource};
    for (FramePlanes* f : stores) *f = FramePlanes{};
    for (uint8_t*& p : DeinterlaceBlocks) FreeBlock(p);
    for (uint8_t*& p : DeinterlaceBuffers) p = nullptr;
    FreeBlock(InputState.FilterPlane);
    FreeAligned(Sequence.MacroblockInfoArray);
    Sequence.MacroblockInfoArray = nullptr;
    FreeAligned(Sequence.BlockStore);
    Sequence.BlockStore = nullptr;
    FreeAligned(PictureDriver.RepeatMacroblockInfo);
    PictureDriver.RepeatMacroblockInfo = nullptr;
    FreeAligned(PictureDriver.RepeatBlockStore);
    PictureDriver.RepeatBlockStore = nullptr;
    PictureDriver.RepeatStoresAllocated = 0;
}

}  // namespace

const int32_t* SquareTable = SquareStorage + 255;
const int32_t* AbsValueTable = AbsStorage + 255;

void ComputePretestFactors() {
    const EncoderSettingsRecord& e = EncoderSettings;
    const double pixels = static_cast<double>(Sequence.EncodeWidth) * Sequence.EncodeHeight;
    const double b = pixels > 0 ? e.bitRate / pixels : 10.0;
    int L = std::clamp(static_cast<int>(21.93 - 0.286 * b), 10, 20);
    switch (e.performanceMode) {
        case 1: L = std::min(L + 5, 22); break;
        case 2: L = std::min(L + 2, 22); break;
        case 4:
        case 5: L = 8; break;
        default: L = 10; break;
    }
    if (e.statisticalLevel >= 0 && e.statisticalLevel <= 40) L = e.statisticalLevel;
    PretestFactorB = std::max(L, 0);
    PretestFactorIP = std::max(L - 5, 0);
}

void TuneMotionEstimation() {
    EncoderSettingsRecord& e = EncoderSettings;
    const int H = std::max(std::max(e.pFrameMotionRange[0], e.bFrameMotionRange[0]), 8);
    const int V = std::max(std::max(e.pFrameMotionRange[1], e.bFrameMotionRange[1]), 8);
    const double A = 4.0 * H * V;
    switch (e.performanceMode) {
        case 1: e.meSearchLevel = 1, e.meSearchPoints = static_cast<int>(A * 0.025), e.meThreshold = 64; break;
        case 2: e.meSearchLevel = 2, e.meSearchPoints = static_cast<int>(A * 0.05), e.meThreshold = 25; break;
        case 4: e.meSearchLevel = 3, e.meSearchPoints = static_cast<int>(A * 0.25), e.meThreshold = 4; break;
        case 5: e.meSearchLevel = 4, e.meSearchPoints = static_cast<int>(A * 0.3), e.meThreshold = 0; break;
        default: e.meSearchLevel = 2, e.meSearchPoints = static_cast<int>(A * 0.2), e.meThreshold = 9; break;
    }
    e.meSearchPoints = std::max(e.meSearchPoints, 32);
    MotionState.MeExhaustive = e.meThreshold == 0 ? 1 : 0;
}

void SelectEngineKernels(bool simd, bool avx2) {
    fdct_init(simd, FdctKernelSet);
    idct_init(simd, IdctKernelSet, avx2);
    transform_init(simd, TransformKernelSet);
    quant_init(simd, QuantKernelSet);
    vlc_init(simd, VlcKernelSet);
    predict_init(simd, PredictKernelSet);
    ratecontrol_init(simd, RcKernels);
    input_init(simd, InputKernelSet);
    deinterlace_init(simd, DeinterlaceKernelSet);
    preview_init(simd, PreviewKernelSet);
}

namespace {

void SelectKernelsBySimdFlag() {
    const bool simd = MmxEnabled != 0;
    SelectEngineKernels(simd, Avx2KernelsChosen(simd));
}

}  // namespace

int InitEncoderTables() {
    EngineReport.QuietMode = 1;
    MmxEnabled = EncoderSettings.disableMmx == 1 ? 0 : 1;  // x86-64 always has the vector unit
    SelectKernelsBySimdFlag();
    EncoderSettings.matrixCoefficients = 5;
    RunState = 5;
    PreviewPictures.InputPreviewBuffer = PreviewPictures.OutputPreviewBuffer = nullptr;
    PreviewPictures.InputPreviewPixels = nullptr;
    for (uint8_t*& p : DeinterlaceBuffers) p = nullptr;
    EncoderSettings.inverseTelecine = 1;
    if (EngineJob.readProfile) EngineJob.readProfile("+");
    InitYuvToRgbTables();
    InitColorConversionTables();
    JobReadyMask = 0;
    return EngineJob.readProfile ? 0 : -1;
}

void FreeEncoderParameterBuffersPreviewOnly() {
    std::scoped_lock lock(PreviewPictures.InputPreviewLock, PreviewPictures.OutputPreviewLock);
    FreeAligned(PreviewPictures.OutputPreviewBuffer);
    PreviewPictures.OutputPreviewBuffer = nullptr;
    if (PreviewPictures.InputPreviewPixels == PreviewPictures.InputPreviewBuffer)
        PreviewPictures.InputPreviewPixels = nullptr;
    FreeAligned(PreviewPictures.InputPreviewBuffer);
    PreviewPictures.InputPreviewBuffer = nullptr;
    PreviewPictures.InputPreviewReady = PreviewPictures.OutputPreviewReady = 0;
}

int FreeEncoderParameterBuffers() {
    FreeEncoderParameterBuffersPreviewOnly();
    EncoderSettings.motionData.clear();
    return 0;
}

void SetupEncoderBuffers() {
    EncoderSettingsRecord& e = EncoderSettings;
    Sequence.MbWidth = (e.horizontalSize + 15) / 16;
    Sequence.MbHeight = (e.verticalSize + 15) / 16;
    Sequence.EncodeWidth = 16 * Sequence.MbWidth;
    Sequence.EncodeHeight = 16 * Sequence.MbHeight;
    Sequence.ChromaWidth = Sequence.EncodeWidth / 2;
    Sequence.ChromaHeight = Sequence.EncodeHeight / 2;
    ResetFieldAnalysis();
    ComputePretestFactors();

    if (AllocateInputFrameCache() < 0) return;

    BuildTables();

    // Frame stores: all luma planes, then all Cb, then all Cr.
    FramePlanes* stores[] = {&Sequence.NextAnchorRecon,  &Sequence.PrevAnchorRecon,  &Sequence.BPictureRecon,
                             &Sequence.NextAnchorSource, &Sequence.PrevAnchorSource, &Sequence.BPictureSource,
                             &Sequence.PredictionFrame,  &Sequence.ReadAheadSource};
    const size_t luma = static_cast<size_t>(Sequence.EncodeHeight + 1) * Sequence.EncodeWidth;
    const size_t chroma = static_cast<size_t>(Sequence.ChromaHeight + 1) * Sequence.ChromaWidth;
    for (int plane = 0; plane < 3; ++plane)
        for (int s = 0; s < 8; ++s) {
            uint8_t* p = AllocOrFail<uint8_t>(plane == 0 ? luma : chroma, "Cannot allocate memory\n");
            FramePlaneBlocks[plane * 8 + s] = p;
            (plane == 0 ? stores[s]->y : plane == 1 ? stores[s]->cb : stores[s]->cr) = p;
        }

    InputState.InputFilterOn = (e.lowPassFilter || e.medianFilter) && !Sequence.InterlacedCoding ? 1 : 0;
    if (InputState.InputFilterOn)
        InputState.FilterPlane =
            AllocOrFail<uint8_t>(static_cast<size_t>(Sequence.EncodeHeight) * Sequence.EncodeWidth + 32,
                                 "Cannot allocate memory for filter array\n");
    if (!e.mpeg1 && Sequence.InterlacedCoding) e.deinterlace = 0;
    InputState.SmartDeinterlace =
        ((e.inverseTelecine || (e.smartDeinterlaceMode & 4)) && e.deinterlace && (e.smartDeinterlaceMode & 1)) ? 1 : 0;
    if (e.inputType == 2 && AviHasVideoStream()) {
        const int rate = AviGetVideoRate(), scale = AviGetVideoScale();
        if (rate > 0 && scale > 0) {
            const double fps = static_cast<double>(rate) / scale;
            if (fps < 29.0 || fps > 30.01) InputState.SmartDeinterlace = 0;
        }
    }
    const size_t deinterlaceBytes = static_cast<size_t>(Sequence.EncodeWidth + 4) * Sequence.EncodeHeight * 3 + 32;
    int deinterlaceCount = 0;
    if (e.deinterlace && InputState.SmartDeinterlace) deinterlaceCount = 4;
    else if (e.deinterlace && (e.smartDeinterlaceMode & 32)) deinterlaceCount = 1;
    for (int d = 0; d < deinterlaceCount; ++d) {
        DeinterlaceBlocks[d] = AllocOrFail<uint8_t>(deinterlaceBytes, "Cannot allocate memory\n");
        DeinterlaceBuffers[d] = DeinterlaceBlocks[d];
    }

    const size_t previewBytes = static_cast<size_t>(Sequence.EncodeHeight) * Sequence.EncodeWidth * 3 + 32;
    if (e.showOutput && !PreviewPictures.OutputPreviewBuffer)
        PreviewPictures.OutputPreviewBuffer = AllocOrFail<uint8_t>(previewBytes, "Cannot allocate memory\n");
    if (e.showInput && !PreviewPictures.InputPreviewBuffer) {
        PreviewPictures.InputPreviewBuffer = AllocOrFail<uint8_t>(previewBytes, "Cannot allocate memory\n");
        PreviewPictures.InputPreviewPixels = PreviewPictures.InputPreviewBuffer;
    }

    const size_t macroblocks = static_cast<size_t>(Sequence.MbWidth) * Sequence.MbHeight;
    Sequence.MacroblockInfoArray =
        AllocOrFail<MacroblockInfo>(macroblocks * sizeof(MacroblockInfo), "Cannot allocate memory\n");
    for (size_t k = 0; Sequence.MacroblockInfoArray && k < macroblocks; ++k)
        new (&Sequence.MacroblockInfoArray[k]) MacroblockInfo();
    Sequence.BlockStore = AllocOrFail<int16_t>(macroblocks * BlockCount * 128, "Cannot allocate memory\n");
    PictureDriver.RepeatStoresAllocated = 0;
    if (FrameRateConversion.enabled && FrameRateConversion.outputToInputRatio < 1.0) {
        PictureDriver.RepeatBlockStore =
            AllocOrFail<int16_t>(macroblocks * BlockCount * 128, "Cannot allocate memory\n");
        PictureDriver.RepeatMacroblockInfo =
            AllocOrFail<MacroblockInfo>(macroblocks * sizeof(MacroblockInfo), "Cannot allocate memory\n");
        PictureDriver.RepeatStoresAllocated = 1;
    }

    if (e.statisticsFileName.empty() || e.statisticsFileName[0] == '-' || e.qualityStatisticsMode != 2) {
        EngineReport.StatisticsFile = stdout;
    } else {
        EngineReport.StatisticsFile = std::fopen(e.statisticsFileName.c_str(), "w");
        if (!EngineReport.StatisticsFile) {
            EngineReport.StatisticsFile = nullptr;
            ReportFatalError(platform::Format("Couldn't create statistics output file %s", e.statisticsFileName.c_str()));
        }
    }
    if (e.writeVbvStatistics) {
        EngineReport.VbvStatsEnabled = 1;
        EngineReport.VbvStatsFile = std::fopen(e.vbvStatisticsFileName.c_str(), "w");
        if (!EngineReport.VbvStatsFile) {
            ReportFatalError(
                platform::Format("Couldn't create VBV statistics output file %s", e.vbvStatisticsFileName.c_str()));
            return;  // reached only outside an armed step
        }
        std::fprintf(EngineReport.VbvStatsFile, "VBV STAT FILE FORMAT VERSION 1\n");
        const std::string& stream = VideoStreamName.empty() ? VideoOutputPath : VideoStreamName;
        std::fprintf(EngineReport.VbvStatsFile, "encoding video file %s\n", stream.c_str());
    } else {
        EngineReport.VbvStatsEnabled = 0;
    }
}

int SetupVideoEncoder() {
    EncoderSettingsRecord& e = EncoderSettings;
    SaveSettingsForRun();
    EncoderSetupState = -3;
    MotionState.MotionEstimationTimeMs = 0;
    MotionState.MotionTableTimeMs = 0;
    EngineReport.CompressionTimeMs = 0;
    EngineReport.QualityPictureCount = 1;
    EngineReport.AverageQuality = 0.0f;
    EngineReport.MinimumQuality = 100.0f;
    CurrentPicture.PrevAnchorDisplay = CurrentPicture.NextAnchorDisplay = -1;
    CurrentPicture.PrevAnchorInputFrame = CurrentPicture.NextAnchorInputFrame = PictureDriver.LastBInputFrame = -1;
    InputState.LastReadInputFrame = InputState.LastShownInputFrame = -1;
    Sequence.EncodedFrameCount = 0;
    CurrentPicture.SaveForRepeat = 0;

    if (ProfileLoaded != 1) {
        ShowWarningMessage(
            " Error:\n All encoding parameters not defined,\n please load new setting file\n or check options and try "
            "again. ");
        return 0;
    }
    if (!EngineJob.readProfile) {
        ShowWarningMessage("No profile reader is installed: the settings cannot be checked.");
        return 0;
    }
    EngineJob.readProfile("-");
    if (ParameterError) return 0;
    if (!e.mpeg1 && CheckMpeg2FormatConsistency() != 0) return 0;
    if (CheckVbrSettings() != 0) return 0;
    if (BatchMode >= 1 && e.applicationType == kApplicationDvd && e.createVob) {
        FILE* log = std::fopen(BatchLogFileName.c_str(), "a");
        if (log) {
            std::fprintf(log, "%s\n",
                         "This profile specifies a DVD volume as the output\nformat.\n\nThis program will not create "
                         "DVD volumes in batch\nmode because only one DVD volume structure can\nbe created in the "
                         "specified output directory. ");
            std::fclose(log);
        }
        return 0;
    }
    if (e.applicationType != kApplicationNone) {
        ComplianceWarningCount = 0;
        if (CheckVideoFormatCompliance() != 0) return 0;
        if (e.encodeAudio) {
            if (CheckAudioCompliance() != 0) return 0;
            if (e.mpeg1 && CheckMuxSectorSize() != 0) return 0;
        }
        if (ReportComplianceSummary() < 0) return 0;
    }
    if (ProfileLoaded != 1) {
        ShowWarningMessage(" Error:\n Parameters not correct, please\n check profile settings in menu. ");
        return 0;
    }
    SelectKernelsBySimdFlag();
    ReleasePreviewBuffers();
    PreviewPictures.PreviewPictureWidth = e.horizontalSize;
    PreviewPictures.PreviewPictureHeight = e.verticalSize;
    // A matrix file that cannot be read is not replaced by the built-in one behind the user's back.
    if (LoadQuantMatrices() != 1) return 0;
    InitQuantizerTables();

    if (e.inputType == 2 && !EngineJob.openAvi) {
        ShowWarningMessage("No AVI input is installed: the input file cannot be opened.");
        return 0;
    }
    if (e.inputType == 2 && !EngineJob.openAvi(e.inputFileName.c_str())) {
        CloseAvi();
        return 0;
    }
    if (!SetupFrameRange()) return 0;
    Sequence.EncodingFrameCount = Sequence.OutputFrameCount;
    EngineReport.EncodingStartTime = GetElapsedMilliseconds();

    VideoStreamFile = std::fopen(VideoOutputPath.c_str(), "wb");
    if (!VideoStreamFile) {
        const int error = errno;
        std::string text = platform::Format("Program can't create output file %s  ", VideoOutputPath.c_str());
        text.pop_back();
        CheckPathDrive(text, VideoOutputPath, error);
        ShowWarningMessage(text);
        EncoderSetupState = -2;
        return -1;
    }
    // The stream leaves in large writes: each write is a system call.
    std::setvbuf(VideoStreamFile, VideoStreamBuffer, _IOFBF, sizeof VideoStreamBuffer);
    InitBitWriter();
    FreeEncoderBuffers();

    try {
        EncoderJumpArm arm;
        SetupEncoderBuffers();
    } catch (const EncoderJump&) {
        EncoderSetupState = -1;
        return -1;
    }

    TuneMotionEstimation();
    NotifyProgressWindow();
    ResetInputState();

    int tableBytes = 0;
    if (!InitMotionEstimation(Sequence.EncodeWidth, Sequence.EncodeHeight, e.performanceMode, MmxEnabled,
                              e.pFrameMotionRange[0], e.pFrameMotionRange[1], e.bFrameMotionRange[0],
                              e.bFrameMotionRange[1], &tableBytes, 4, 0)) {
        ShowWarningMessage("Failed to initialize ME system, illegal parameters ");
        EncoderSetupState = -1;
        return -1;
    }
    MotionState.prizn = static_cast<uint8_t*>(AllocAligned(static_cast<size_t>(tableBytes)));
    if (!MotionState.prizn) {
        ShowWarningMessage("Cannot allocate prizn memory\n");
        EncoderSetupState = -1;
        return -1;
    }
    MotionState.priz = static_cast<uint8_t*>(AllocAligned(static_cast<size_t>(tableBytes)));
    if (!MotionState.priz) {
        ShowWarningMessage("Cannot allocate priz memory\n");
        EncoderSetupState = -1;
        return -1;
    }
    if (StartWorkerThreads() < 2) {
        ShowWarningMessage("Cannot create at least one execution thread\n");
        EncoderSetupState = -1;
        return -1;
    }
    PreviewLocksCreated = 1;
    EncoderSetupState = 1;
    return 1;
}

int ShutdownVideoEncoder() {
    EncoderSettingsRecord& e = EncoderSettings;
    RestoreSettingsAfterRun();
    if (EncoderSetupState != 0 && EncoderSetupState != -3) {
        if (EncoderSetupState != -2) {
            RestoreMotionTableBuffers();
            if (e.showInput && PreviewPictures.InputPreviewPixels && PreviewPictures.InputPreviewBuffer &&
                PreviewPictures.InputPreviewPixels != PreviewPictures.InputPreviewBuffer) {
                std::memcpy(PreviewPictures.InputPreviewBuffer, PreviewPictures.InputPreviewPixels,
                            static_cast<size_t>((3 * e.horizontalSize + 3) / 4) * 4 * e.verticalSize);
                PreviewPictures.InputPreviewPixels = PreviewPictures.InputPreviewBuffer;
            }
            StopWorkerThreads();
            PreviewLocksCreated = 0;
            CloseAvi();
            FreeAligned(MotionState.prizn);
            MotionState.prizn = nullptr;
            FreeAligned(MotionState.priz);
            MotionState.priz = nullptr;
            FreeEncoderBuffers();
        }
        if (VideoStreamFile) {
            FinishBitWriter();
            if (std::fclose(VideoStreamFile) != 0) {
                RunState = 3;
                EncodeAbortFlag = 1;
            }
            VideoStreamFile = nullptr;
        }
        if (EngineReport.StatisticsFile && EngineReport.StatisticsFile != stdout)
            std::fclose(EngineReport.StatisticsFile);
        if (EngineReport.StatisticsFile == stdout) std::fflush(stdout);
        EngineReport.StatisticsFile = nullptr;
        if (e.writeVbvStatistics && EngineReport.VbvStatsFile) {
            std::fprintf(EngineReport.VbvStatsFile, "VBV STAT FILE END\n");
            std::fclose(EngineReport.VbvStatsFile);
        }
        EngineReport.VbvStatsFile = nullptr;
        EngineReport.VbvStatsEnabled = 0;
        if (VideoPassState == 1) CheckOutputFileAfterEncoding();
        if (EncoderSetupState > 0 && EngineReport.EngineTimingReport) {
            const double c = EngineReport.CompressionTimeMs / 1000.0, m = MotionState.MotionEstimationTimeMs / 1000.0,
                         t = EngineReport.TotalEncodingTimeMs / 1000.0;
            const double cs = c > 0.01 ? Sequence.OutputFrameCount / c : 0,
                         ms = m > 0.01 ? Sequence.OutputFrameCount / m : 0;
            if (BatchMode < 2) {
                platform::ShowMessageBox(
                    platform::Format("Time of MPEG compression =     \t%8.2f sec \n Average speed of compression = "
                                     "\t%8.2f f/sec \n Time of motion estimation =         \t%8.2f sec \n Average "
                                     "speed of motion est. =   \t%8.2f f/sec \n Total encoding time     =   \t%9.2f sec",
                                     c, cs, m, ms, t),
                    "Compression time", platform::MbButtons::Ok, platform::MbIcon::Information, MessageOwnerWindow);
            } else {
                WriteBatchLogMessage(platform::Format(
                    "Time of MPEG compression =      \t%9.2f sec \nAverage speed of compression =  \t%9.2f f/sec \nTime "
                    "of motion estimation =     \t%9.2f sec \nAverage speed of motion est. =  \t%9.2f f/sec \nTotal "
                    "encoding time     =       \t%9.2f sec",
                    c, cs, m, ms, t));
            }
        }
    }
    EncoderSetupState = 0;
    e.deinterlace = Saved.deinterlace;
    return 1;
}

int BeginVideoEncoding() {
    SequenceStarted = 0;
    SequenceFinished = 0;
    VideoPassState = 0;
    if (SetupVideoEncoder() != 1) {
        InvalidatePreviewWindows();
        return -1;
    }
    try {
        EncoderJumpArm arm;
        if (StartSequenceEncoding() < 0) ShowWarningMessage(LoadResString(64052));
        else SequenceStarted = 1;
    } catch (const EncoderJump&) {
    }
    InvalidatePreviewWindows();
    return SequenceStarted ? 0 : -2;
}

int EncodeNextPicture() {
    if (!SequenceStarted) return -2;
    int result = -1;
    try {
        EncoderJumpArm arm;
        PumpMessagesDuringMotionSearch();
        result = EncodePicture() >= 0 ? 0 : -1;
    } catch (const EncoderJump&) {
        result = -1;
    }
    return result;
}

int EndVideoEncoding() {
    if (SequenceStarted) {
        SequenceStarted = 0;
        try {
            EncoderJumpArm arm;
            if (FinishSequenceEncoding() < 0) ShowWarningMessage(LoadResString(64053));
            else SequenceFinished = 1;
        } catch (const EncoderJump&) {
        }
    }
    SequenceStarted = 0;
    VideoPassState = 1;
    VideoEngineStage = 1;
    ShutdownVideoEncoder();
    // A stream that could not be written whole is a failed pass, also when
    // only its last bytes or its close failed.
    return SequenceFinished && !EncodeAbortFlag ? 0 : -1;
}
