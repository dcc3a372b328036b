// The table of profile lines and the checks the reader applies to single values.
#include "job/ProfileFields.h"

#include "job/AviSource.h"

namespace profileformat {

namespace {

using R = EncoderSettingsRecord;
using F = ProfileField;
using D = FieldDefault;

constexpr F Marker(int line, const char* text) {
    F f{"", line, FieldKind::Marker, D::None};
    f.text = text;
    return f;
}
constexpr F Text(const char* name, int line, std::string R::*m, bool fileName = true) {
    F f{name, line, fileName ? FieldKind::FileName : FieldKind::Text, D::Record};
    f.textField = m;
    return f;
}
constexpr F Int(const char* name, int line, int R::*m, void (*fix)(R&, bool) = nullptr) {
    F f{name, line, FieldKind::Int, D::Record};
    f.intField = m;
    f.fix = fix;
    return f;
}
constexpr F Real(const char* name, int line, double R::*m, void (*fix)(R&, bool) = nullptr) {
    F f{name, line, FieldKind::Real, D::Record};
    f.realField = m;
    f.fix = fix;
    return f;
}
constexpr F Pair(const char* name, int line, int (R::*m)[2]) {
    F f{name, line, FieldKind::IntPair, D::Record};
    f.pairField = m;
    return f;
}
constexpr F Number(const char* name, int line, FieldKind kind, int value) {
    F f{name, line, kind, D::None};
    f.constant = value;
    return f;
}
constexpr F Display(F f, int* display) {
    f.byDefault = D::Display;
    f.display = display;
    return f;
}
constexpr F OfBitRate(F f, double factor) {
    f.byDefault = D::OfBitRate;
    f.factor = factor;
    return f;
}
constexpr F With(F f, D byDefault) {
    f.byDefault = byDefault;
    return f;
}
constexpr F Read(F f, FieldRead read, void (*fix)(R&, bool) = nullptr) {
    f.read = read;
    if (fix) f.fix = fix;
    return f;
}
constexpr F CustomRead(F f, void (*custom)(ValueReader&, R&)) {
    f.read = FieldRead::Custom;
    f.custom = custom;
    return f;
}
constexpr F InGroup(F f, int group, int sinceMinor) {
    f.group = group;
    f.sinceMinor = sinceMinor;
    return f;
}

// ---------------------------------------------------------------------------
// What the reader does beyond storing a value.

// The stream type follows the MPEG-1 flag until the version-2.01 section says otherwise.
void StreamTypeFromMpeg1(R& s, bool read) {
    if (read) s.streamType = s.mpeg1 > 0 ? kStreamTypeMpeg1 : kStreamTypeMpeg2;
}
// The preview flags belong to the user's display, not to the profile.
void AutoResizeOn(R& s, bool) { s.autoResizeWindow = 1; }

// Bit rate and index only make sense with the mode they were chosen for.
void ReadAudioChoice(ValueReader& in, R& s) {
    int mode = -1, rate = 0, index = -1;
    bool modeValid = in.Int(mode) && mode >= 0 && mode <= 3;
    bool rateRead = in.Int(rate);
    bool indexRead = in.Int(index);
    if (modeValid) {
        s.audioMode = mode;
        if (rateRead && rate > 0 && rate % 8 == 0) s.audioBitRate = rate;
        if (indexRead && index >= 0 && index <= 9) s.audioBitRateIndex = index;
    }
}

void ReservedV2a(R& s, bool) {
    if (s.reservedV2a < 0 || s.reservedV2a > 64) s.reservedV2a = 0;
}
void ReservedV2b(R& s, bool) {
    if (s.reservedV2b != 0 && s.reservedV2b != 1) s.reservedV2b = 0;
}
void MuxBitRate(R& s, bool) {
    if (s.muxBitRate < 1024) s.muxBitRate = 0;
}
void ApplicationType(R& s, bool) {
    if (s.applicationType < 0 || s.applicationType > 64) s.applicationType = 0;
}
void InverseTelecine(R& s, bool read) {
    if (read && s.inverseTelecine != 0) s.inverseTelecine = 1;
}
void Deinterlace(R& s, bool) {
    if (s.deinterlace != 1) s.deinterlace = 0;
}
void Mpeg1Aspect(R& s, bool) {
    if (s.mpeg1AspectRatio < 1) s.mpeg1AspectRatio = 1;
}
void MedianFilter(R& s, bool) {
    if (s.medianFilter != 1) s.medianFilter = 0;
}
void MedianStrength(R& s, bool) {
    if (s.medianFilterStrength > 100) s.medianFilterStrength = 100;
}
// The median filter needs the low-pass filter.
void LowPassFilter(R& s, bool) {
    if (s.lowPassFilter != 1) s.lowPassFilter = 0;
    if (s.medianFilter == 1) s.lowPassFilter = 1;
}
void LowPassStrength(R& s, bool) {
    if (s.lowPassFilterStrength > 100) s.lowPassFilterStrength = 100;
}
void StreamType(R& s, bool) {
    if (s.streamType > kStreamTypeVideoCd) s.streamType = kStreamTypeMpeg1;
}
void Mpeg2MuxConstantRate(R& s, bool) {
    if (s.mpeg2MuxConstantRate < 0 || s.mpeg2MuxConstantRate > 1) s.mpeg2MuxConstantRate = 0;
}
void RateControl(R& s, bool) {
    if (s.rateControl < kRateConstant || s.rateControl > kRateVariable) s.rateControl = kRateConstant;
}
void VbrMode(R& s, bool) {
    if (s.vbrMode < kVbrAverage || s.vbrMode > kVbrQuantWithinAverage) s.vbrMode = kVbrAverage;
}
void AverageBitRate(R& s, bool) {
    if (s.averageBitRate < 10.0) s.averageBitRate = 10.0;
}
void ConstantQuant(R& s, bool) {
    if (s.constantQuantScale < 1 || s.constantQuantScale > 31) s.constantQuantScale = 4;
}
void MaxBitRate(R& s, bool) {
    if (s.maxBitRate < 1.0) s.maxBitRate = s.bitRate;
}
void AverageUpper(R& s, bool) {
    if (s.averageBitRateUpper < 1.0) s.averageBitRateUpper = 0.8 * s.bitRate;
}
void AverageLower(R& s, bool) {
    if (s.averageBitRateLower < 1.0) s.averageBitRateLower = 0.2 * s.bitRate;
}
// A group length of 0..9999; anything else keeps the value.
template <int R::*member>
void ReadGroupLength(ValueReader& in, R& s) {
    int v = -1;
    if (in.Int(v) && v >= 0 && v <= 9999) s.*member = v;
}
void TopBorder(R& s, bool) {
    if (s.topBorderLines < 0 || s.topBorderLines > 32) s.topBorderLines = 0;
}
void BottomBorder(R& s, bool) {
    if (s.bottomBorderLines < 0 || s.bottomBorderLines > 32) s.bottomBorderLines = 0;
}

constexpr F kFields[] = {
    Marker(1, kMainHeaderLine),
    // Main block: value n on line n + 1.
    Text("inputFileName", 2, &R::inputFileName),
    Text("outputFileName", 3, &R::outputFileName),
    Text("statisticsFileName", 4, &R::statisticsFileName),
    Int("inputType", 5, &R::inputType),
    Int("horizontalSize", 6, &R::horizontalSize),
    Int("verticalSize", 7, &R::verticalSize),
    Int("framesToEncode", 8, &R::framesToEncode),
    Int("firstFrame", 9, &R::firstFrame),
    Int("gopSize", 10, &R::gopSize),
    Int("ipDistance", 11, &R::ipDistance),
    Int("mpeg1", 12, &R::mpeg1, StreamTypeFromMpeg1),
    Int("frameRateCode", 13, &R::frameRateCode),
    Int("keepOriginalDuration", 14, &R::keepOriginalDuration),
    Real("bitRate", 15, &R::bitRate),
    Int("vbvBufferSize", 16, &R::vbvBufferSize),
    Int("mpegProfile", 17, &R::mpegProfile),
    Int("mpegLevel", 18, &R::mpegLevel),
    Int("colorPrimaries", 19, &R::colorPrimaries),
    Int("transferCharacteristics", 20, &R::transferCharacteristics),
    Int("matrixCoefficients", 21, &R::matrixCoefficients),
    Int("intraDcPrecision", 22, &R::intraDcPrecision),
    Pair("pFrameMotionRange", 23, &R::pFrameMotionRange),
    Pair("bFrameMotionRange", 24, &R::bFrameMotionRange),
    Int("meSearchPoints", 25, &R::meSearchPoints),
    Int("meThreshold", 26, &R::meThreshold),
    Int("meSearchLevel", 27, &R::meSearchLevel),
    Read(Display(Int("showInput", 28, &R::showInput), &DefaultShowInput), FieldRead::Skip),
    Read(Display(Int("showOutput", 29, &R::showOutput), &DefaultShowOutput), FieldRead::Skip),
    Read(Display(Int("autoResizeWindow", 30, &R::autoResizeWindow), &DefaultAutoWindowSize), FieldRead::Skip),
    Read(Display(Int("stretchPreview", 31, &R::stretchPreview), &DefaultStretchPreview), FieldRead::Skip,
         AutoResizeOn),
    With(Int("qualityStatisticsMode", 32, &R::qualityStatisticsMode), D::Kept),
    Int("performanceMode", 33, &R::performanceMode),
    CustomRead(Int("audioMode", 34, &R::audioMode), ReadAudioChoice),
    Read(With(Int("audioBitRate", 35, &R::audioBitRate), D::OfAudioIndex), FieldRead::ByCustom),
    Read(Int("audioBitRateIndex", 36, &R::audioBitRateIndex), FieldRead::ByCustom),
    Int("inputHasAudio", 37, &R::inputHasAudio),
    Int("encodeAudio", 38, &R::encodeAudio),
    Int("reservedV11", 39, &R::reservedV11),
    Text("tempVideoFileName", 40, &R::tempVideoFileName),
    Text("tempAudioFileName", 41, &R::tempAudioFileName),
    Int("deleteTempVideo", 42, &R::deleteTempVideo),
    Int("deleteTempAudio", 43, &R::deleteTempAudio),
    Int("muxPackSize", 44, &R::muxPackSize),
    Int("muxPacketsPerPack", 45, &R::muxPacketsPerPack),
    Int("muxAudioBufferKb", 46, &R::muxAudioBufferKb),
    Int("muxVideoBufferKb", 47, &R::muxVideoBufferKb),
    Int("muxConstantRate", 48, &R::muxConstantRate),
    Int("constrainedParameters", 49, &R::constrainedParameters),
    Read(Int("skipBFramesMode", 50, &R::skipBFramesMode), FieldRead::V11Only),
    Marker(51, kMainEndLine),

    Marker(52, kMpeg2Ext.begin),
    Int("mpeg2AspectRatio", 53, &R::mpeg2AspectRatio),
    Int("videoFormat", 54, &R::videoFormat),
    Marker(55, kMpeg2Ext.end),

    Marker(56, kV2Ext.begin),
    Int("reservedV2a", 57, &R::reservedV2a, ReservedV2a),
    Int("reservedV2b", 58, &R::reservedV2b, ReservedV2b),
    Int("muxBitRate", 59, &R::muxBitRate, MuxBitRate),
    Int("applicationType", 60, &R::applicationType, ApplicationType),
    Text("profileDescription", 61, &R::profileDescription, false),
    Number("aviRate", 62, FieldKind::AviRate, 30),
    Number("aviScale", 63, FieldKind::AviScale, 1),
    Marker(64, kV2Ext.end),

    Marker(65, kV201Ext.begin),
    Int("inverseTelecine", 66, &R::inverseTelecine, InverseTelecine),
    Int("deinterlace", 67, &R::deinterlace, Deinterlace),
    Int("mpeg1AspectRatio", 68, &R::mpeg1AspectRatio, Mpeg1Aspect),
    Number("major", 69, FieldKind::Major, kV201Major),
    Number("minor", 70, FieldKind::Minor, kV201Minor),
    Number("count", 71, FieldKind::Count, kV201Count),
    InGroup(Int("medianFilter", 72, &R::medianFilter, MedianFilter), 1, 2),
    InGroup(Int("medianFilterStrength", 73, &R::medianFilterStrength, MedianStrength), 1, 2),
    InGroup(Int("lowPassFilter", 74, &R::lowPassFilter, LowPassFilter), 1, 2),
    InGroup(Int("lowPassFilterStrength", 75, &R::lowPassFilterStrength, LowPassStrength), 1, 2),
    InGroup(Int("streamType", 76, &R::streamType, StreamType), 2, 5),
    InGroup(Int("mpeg2MuxConstantRate", 77, &R::mpeg2MuxConstantRate, Mpeg2MuxConstantRate), 2, 5),
    Marker(78, kV201Ext.end),

    Marker(79, kV3Ext.begin),
    Int("rateControl", 80, &R::rateControl, RateControl),
    Int("vbrMode", 81, &R::vbrMode, VbrMode),
    OfBitRate(Real("averageBitRate", 82, &R::averageBitRate, AverageBitRate), 0.9),
    Int("constantQuantScale", 83, &R::constantQuantScale, ConstantQuant),
    OfBitRate(Real("maxBitRate", 84, &R::maxBitRate, MaxBitRate), 1.0),
    OfBitRate(Real("averageBitRateUpper", 85, &R::averageBitRateUpper, AverageUpper), 0.8),
    OfBitRate(Real("averageBitRateLower", 86, &R::averageBitRateLower, AverageLower), 0.2),
    CustomRead(Int("closedGopOption", 87, &R::closedGopOption), ReadGroupLength<&R::closedGopOption>),
    CustomRead(Int("sequenceHeaderOption", 88, &R::sequenceHeaderOption), ReadGroupLength<&R::sequenceHeaderOption>),
    Int("topBorderLines", 89, &R::topBorderLines, TopBorder),
    Int("bottomBorderLines", 90, &R::bottomBorderLines, BottomBorder),
    Number("fixed", 91, FieldKind::Constant, -1),
    Marker(92, kV3Ext.end),

    Marker(93, kV311Ext.begin),
    Number("version", 94, FieldKind::Minor, kV311Version),
    Number("count", 95, FieldKind::Count, kV311Count),
    InGroup(Int("interlaceMode", 96, &R::interlaceMode), 1, 1),
    InGroup(Int("sequenceDisplayExtension", 97, &R::sequenceDisplayExtension), 1, 1),
    InGroup(Int("audioSampleRate", 98, &R::audioSampleRate), 2, 2),
    Marker(99, kV311Ext.end),
};

// The line column is the line a written profile puts the field on.
constexpr bool LinesInOrder() {
    int n = 0;
    for (const F& f : kFields)
        if (f.line != ++n) return false;
    return true;
}
static_assert(LinesInOrder(), "every profile line in order, once");

}  // namespace

std::span<const ProfileField> ProfileFields() { return kFields; }

int ProfileLineOf(int EncoderSettingsRecord::*member) {
    for (const F& f : kFields)
        if (f.intField == member) return f.line;
    return 0;
}

int ProfileLineOf(double EncoderSettingsRecord::*member) {
    for (const F& f : kFields)
        if (f.realField == member) return f.line;
    return 0;
}

}  // namespace profileformat
