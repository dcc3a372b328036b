// The one process-wide set of encoding parameters, read by every subsystem.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

// One motion-data record per distance from the anchor picture (1..M).
struct MotionDataRecord {
    int forwardHorFCode = 0, forwardVertFCode = 0;
    int sxf = 0, syf = 0;  // forward search widths
    int backwardHorFCode = 0, backwardVertFCode = 0;
    int sxb = 0, syb = 0;  // backward search widths
};

// Named values of the record's fields.
// applicationType: the disc format the output is meant for.
constexpr int kApplicationNone = 0, kApplicationVcd11 = 1, kApplicationVcd20 = 2, kApplicationCdi = 3,
              kApplicationDvd = 16, kApplicationSvcd = 17;
// streamType.
constexpr int kStreamTypeMpeg1 = 1, kStreamTypeMpeg2 = 2, kStreamTypeVideoCd = 3;
// rateControl.
constexpr int kRateConstant = 1, kRateVariable = 2;
// vbrMode, with variable rate control.
constexpr int kVbrAverage = 1;             // keep the average bit rate
constexpr int kVbrAverageNoVbv = 2;        // the average bit rate without VBV control
constexpr int kVbrConstantQuantNoVbv = 3;  // constant quantiser without VBV control
constexpr int kVbrConstantQuant = 4;       // constant quantiser
constexpr int kVbrQuantWithinAverage = 5;  // quantiser kept between limits of the average bit rate

struct EncoderSettingsRecord {
    // Main block of a profile, in file order.
    std::string inputFileName;
    std::string outputFileName;
    std::string statisticsFileName = "-";
    int inputType = 0;  // 0 raw "%s.Y/.U/.V", 1 raw "%s.yuv", 2 AVI
    int horizontalSize = 352;
    int verticalSize = 240;
    int framesToEncode = 1;
    int firstFrame = 0;
    int gopSize = 12;
    int ipDistance = 3;
    int mpeg1 = 1;
    int frameRateCode = 4;
    int keepOriginalDuration = 1;
    double bitRate = 1638400.0;
    int vbvBufferSize = 112;
    int mpegProfile = 4;
    int mpegLevel = 8;
    int colorPrimaries = 5;
    int transferCharacteristics = 5;
    int matrixCoefficients = 5;
    int intraDcPrecision = 2;
    int pFrameMotionRange[2] = {32, 32};  // horizontal, vertical
    int bFrameMotionRange[2] = {16, 16};
    int meSearchPoints = 256;
    int meThreshold = 8;
    int meSearchLevel = 2;
    // The four preview flags are never taken from a file: they follow the
    // program's display defaults (DefaultShowInput and its kin below).
    int showInput = 0;
    int showOutput = 1;
    int autoResizeWindow = 1;
    int stretchPreview = 1;
    int qualityStatisticsMode = 1;  // kept by the built-in defaults: the settings file sets it
    int performanceMode = 3;
    int audioMode = 1;
    int audioBitRate = 128;
    int audioBitRateIndex = 3;
    int inputHasAudio = 0;
    int encodeAudio = 1;
    int reservedV11 = 1;
    std::string tempVideoFileName;
    std::string tempAudioFileName;
    int deleteTempVideo = 1;
    int deleteTempAudio = 1;
    int muxPackSize = 2048;
    int muxPacketsPerPack = 1;
    int muxAudioBufferKb = 4;
    int muxVideoBufferKb = 46;
    int muxConstantRate = 0;
    int constrainedParameters = 1;
    int skipBFramesMode = 0;

    // MPEG2_EXT
    int mpeg2AspectRatio = 2;
    int videoFormat = 2;

    // ZRNV2_EXT
    int reservedV2a = 0;
    int reservedV2b = 0;
    int muxBitRate = 0;
    int applicationType = 0;  // kApplication...
    std::string profileDescription;
    // Values 6 and 7 (the open AVI input's rate and scale) are written, never read back.

    // ZRNV2.01_EXT
    int inverseTelecine = 0;
    int deinterlace = 0;
    int mpeg1AspectRatio = 1;
    int medianFilter = 0;
    int medianFilterStrength = 30;
    int lowPassFilter = 0;
    int lowPassFilterStrength = 30;
    int streamType = kStreamTypeMpeg1;
    int mpeg2MuxConstantRate = 0;

    // ZRNV3_EXT
    int rateControl = kRateConstant;
    int vbrMode = kVbrAverage;
    double averageBitRate = 0.9 * 1638400.0;
    int constantQuantScale = 4;
    double maxBitRate = 1638400.0;
    double averageBitRateUpper = 0.8 * 1638400.0;
    double averageBitRateLower = 0.2 * 1638400.0;
    int closedGopOption = 0;
    int sequenceHeaderOption = 0;
    int topBorderLines = 0;
    int bottomBorderLines = 0;

    // ZRN311EXT
    int interlaceMode = 0;
    int sequenceDisplayExtension = 0;
    int audioSampleRate = 44100;

    // Not stored in profiles: derived by the finalisation, or set by the
    // command line, the settings files and the engine.
    int progressiveSequence = 1;
    int progressiveFrame = 1;
    int topFieldFirst = 0;
    int interlacedCoding = 0;
    int constrainedParametersFlag = 0;
    double frameRate = 30000.0 / 1001.0;
    int frameRateNumerator = 30000;  // exact frame rate as a fraction
    int frameRateDenominator = 1001;
    int intraVlcFormat[3] = {0, 0, 0};      // I, P, B
    int framePredFrameDct[3] = {1, 1, 1};   // I, P, B
    std::vector<MotionDataRecord> motionData;
    int workingWidth = 352;
    int workingHeight = 240;
    std::string intraMatrixFileName = "-";
    std::string nonIntraMatrixFileName = "-";
    std::array<int, 64> intraQuantMatrix{};
    std::array<int, 64> nonIntraQuantMatrix{};
    int loadIntraMatrix = 0;
    int loadNonIntraMatrix = 0;
    int timeCodeStartFrame = 0;
    int disableAdaptiveQuant = 0;
    int statisticalLevel = -1;  // "statistical=": pre-test level 0..40, -1 none
    int vbrDistribution = 8;
    int omitSequenceEndCode = 0;
    std::string vbvStatisticsFileName = "vbvstat.txt";
    int writeVbvStatistics = 0;
    short blackLevel = 16;  // luma of black in the studio range
    int noBFrameSkipping = 0;
    int createVob = 0;
    int disableMmx = 0;
    int suppressWarnings = 0;
    int useNewMux = 0;
    int noCheckSpace = 0;
    int vbvProtectionMode = 0;
    int smartDeinterlaceMode = 0;
};

extern EncoderSettingsRecord EncoderSettings;

// Longest text (file name or description) a profile keeps.
constexpr size_t kProfileTextLimit = 255;

// Display defaults from the program's settings file, copied into the preview
// flags whenever the built-in defaults are loaded.
extern int DefaultShowInput;       // initially 0
extern int DefaultShowOutput;      // initially 1
extern int DefaultAutoWindowSize;  // initially 1
extern int DefaultStretchPreview;  // initially 1

// Fills the two quantiser matrices from the files the settings name, or the
// built-in ones for the name "-". 1 when both are loaded; 0 after a warning, in
// which case the matrix that failed holds its built-in values.
int LoadQuantMatrices();

// 1 when the SIMD kernels are used (the user can switch them off).
extern int MmxEnabled;

// Status flags kept beside the settings.
extern int ProfileLoaded;        // 1 when the last profile read ran to its end
extern int ParameterError;       // 1 when the last profile read reported a parameter error
extern int CustomProfileLoaded;  // 1 once a profile other than the defaults was read or one was written
extern int ProfileHeaderError;   // 1 when the last profile summary read failed
