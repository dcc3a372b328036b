// Header writers of the video elementary stream.
#include "engine/Headers.h"

#include <cmath>

#include "engine/BitWriter.h"
#include "engine/EngineState.h"
#include "engine/PictureCoder.h"
#include "engine/RateControl.h"
#include "settings/EncoderSettings.h"

namespace {

constexpr uint32_t kPictureStartCode = 0x100;
constexpr uint32_t kSliceStartCode = 0x101;
constexpr uint32_t kUserDataStartCode = 0x1B2;
constexpr uint32_t kSequenceHeaderCode = 0x1B3;
constexpr uint32_t kExtensionStartCode = 0x1B5;
constexpr uint32_t kSequenceEndCode = 0x1B7;
constexpr uint32_t kGroupStartCode = 0x1B8;


void StartCode(uint32_t code) {
    AlignBits();
    PutBits(32, code);
}

void PutFlag(int value) { PutBits(1, value ? 1 : 0); }

// The bit rate in units of 400 bit/s, rounded up.
uint32_t BitRateUnits() {
    const double rate = EncoderSettings.bitRate;
    return rate > 0 ? static_cast<uint32_t>(std::ceil(rate / 400.0)) : 0;
}

// The matrices are held in natural order whichever transforms run; the
// stream carries them in zig-zag order.
void PutMatrix(const std::array<int, 64>& matrix) {
    for (int i = 0; i < 64; ++i) PutBits(8, static_cast<uint32_t>(matrix[ZigzagScanTable[i]]));
}

int ProgressiveFlag() {
    return EncoderSettings.progressiveSequence ? 1 : EncoderSettings.progressiveFrame;
}

// Pictures per second as the time code counts them (24, 24, 25, 30, 30, 50, 60, 60).
int TimeCodeRate() {
    static constexpr int kRates[9] = {0, 24, 24, 25, 30, 30, 50, 60, 60};
    const int code = EncoderSettings.frameRateCode;
    int rate = code >= 1 && code <= 8 ? kRates[code] : static_cast<int>(EncoderSettings.frameRate + 0.5);
    return rate > 0 ? rate : 1;
}

}  // namespace

void PutSequenceHeader() {
    const auto& s = EncoderSettings;
    StartCode(kSequenceHeaderCode);
    PutBits(12, static_cast<uint32_t>(s.horizontalSize));
    PutBits(12, static_cast<uint32_t>(s.verticalSize));
    PutBits(4, static_cast<uint32_t>(s.mpeg1 ? s.mpeg1AspectRatio : s.mpeg2AspectRatio));
    PutBits(4, static_cast<uint32_t>(s.frameRateCode));
    PutBits(18, s.mpeg1 && s.rateControl == 2 ? 0x3FFFFu : BitRateUnits());
    PutBits(1, 1);
    PutBits(10, static_cast<uint32_t>(s.vbvBufferSize));
    PutFlag(s.constrainedParametersFlag);
    PutFlag(s.loadIntraMatrix);
    if (s.loadIntraMatrix) PutMatrix(s.intraQuantMatrix);
    PutFlag(s.loadNonIntraMatrix);
    if (s.loadNonIntraMatrix) PutMatrix(s.nonIntraQuantMatrix);
}

void PutSequenceExtension() {
    const auto& s = EncoderSettings;
    StartCode(kExtensionStartCode);
    PutBits(4, 1);
    PutBits(8, static_cast<uint32_t>(s.mpegProfile * 16 + s.mpegLevel));
    PutFlag(s.mpeg1 ? 1 : s.progressiveSequence);
    PutBits(2, 1);  // 4:2:0
    PutBits(2, static_cast<uint32_t>(s.horizontalSize >> 12));
    PutBits(2, static_cast<uint32_t>(s.verticalSize >> 12));
    PutBits(12, BitRateUnits() >> 18);
    PutBits(1, 1);
    PutBits(8, static_cast<uint32_t>(s.vbvBufferSize >> 10));
    PutBits(1, 0);  // low_delay
    PutBits(2, 0);  // frame_rate_extension_n
    PutBits(5, 0);  // frame_rate_extension_d
}

void PutSequenceDisplayExtension() {
    const auto& s = EncoderSettings;
    StartCode(kExtensionStartCode);
    PutBits(4, 2);
    PutBits(3, static_cast<uint32_t>(s.videoFormat));
    PutBits(1, 1);  // colour_description
    PutBits(8, static_cast<uint32_t>(s.colorPrimaries));
    PutBits(8, static_cast<uint32_t>(s.transferCharacteristics));
    PutBits(8, static_cast<uint32_t>(s.matrixCoefficients));
    PutBits(14, static_cast<uint32_t>(s.horizontalSize));
    PutBits(1, 1);
    PutBits(14, static_cast<uint32_t>(s.verticalSize));
}

void PutGopHeader(int firstPicture, int closed) {
    const int rate = TimeCodeRate();
    int n = firstPicture + EncoderSettings.timeCodeStartFrame;
    if (n < 0) n = 0;
    const int pictures = n % rate;
    const int s = (n - pictures) / rate;
    const int seconds = s % 60;
    const int minutes = (s / 60) % 60;
    const int hours = (s / 3600) % 24;

    StartCode(kGroupStartCode);
    PutBits(1, 0);  // drop_frame_flag
    PutBits(5, static_cast<uint32_t>(hours));
    PutBits(6, static_cast<uint32_t>(minutes));
    PutBits(1, 1);
    PutBits(6, static_cast<uint32_t>(seconds));
    PutBits(6, static_cast<uint32_t>(pictures));
    PutFlag(closed);
    PutBits(1, 0);  // broken_link
}

void PutPictureHeader() {
    const bool mpeg1 = EncoderSettings.mpeg1 != 0;
    StartCode(kPictureStartCode);
    PutBits(10, static_cast<uint32_t>(CurrentPicture.TemporalReference));
    PutBits(3, static_cast<uint32_t>(CurrentPicture.PictureCodingType));
    PutBits(16, static_cast<uint32_t>(RateControlState.VbvDelay));
    if (CurrentPicture.PictureCodingType == P_PICTURE || CurrentPicture.PictureCodingType == B_PICTURE) {
        PutBits(1, 0);  // full_pel_forward_vector
        PutBits(3, mpeg1 ? static_cast<uint32_t>(CurrentPicture.ForwardHorFCode) : 7u);
    }
    if (CurrentPicture.PictureCodingType == B_PICTURE) {
        PutBits(1, 0);  // full_pel_backward_vector
        PutBits(3, mpeg1 ? static_cast<uint32_t>(CurrentPicture.BackwardHorFCode) : 7u);
    }
    PutBits(1, 0);  // extra_bit_picture
}

void PutPictureCodingExtension() {
    const auto& s = EncoderSettings;
    const int type = CurrentPicture.PictureCodingType;
    StartCode(kExtensionStartCode);
    PutBits(4, 8);
    PutBits(4, static_cast<uint32_t>(CurrentPicture.ForwardHorFCode));
    PutBits(4, static_cast<uint32_t>(CurrentPicture.ForwardVertFCode));
    PutBits(4, static_cast<uint32_t>(CurrentPicture.BackwardHorFCode));
    PutBits(4, static_cast<uint32_t>(CurrentPicture.BackwardVertFCode));
    PutBits(2, static_cast<uint32_t>(s.intraDcPrecision));
    PutBits(2, 3);  // frame picture
    PutFlag(s.progressiveSequence ? 0 : s.topFieldFirst);
    PutFlag(ProgressiveFlag());  // frame_pred_frame_dct
    PutBits(1, 0);  // concealment_motion_vectors
    PutBits(1, 0);  // q_scale_type: linear only
    PutFlag(type >= I_PICTURE && type <= B_PICTURE ? s.intraVlcFormat[type - I_PICTURE] : 0);
    PutBits(1, 0);  // alternate_scan
    PutBits(1, 0);  // repeat_first_field
    PutFlag(ProgressiveFlag());  // chroma_420_type
    PutFlag(ProgressiveFlag());  // progressive_frame
    PutBits(1, 0);  // composite_display_flag
}

void PutUserData(const uint8_t* data, int count) {
    if (!data || count < 1) return;
    StartCode(kUserDataStartCode);
    for (int i = 0; i < count; ++i) PutBits(8, data[i]);
    AlignBits();
}

void PutSliceHeader(int macroblockRow, int quantScale) {
    AlignBits();
    if (EncoderSettings.mpeg1 || EncoderSettings.verticalSize < 2801) {
        PutBits(32, kSliceStartCode + static_cast<uint32_t>(macroblockRow));
    } else {
        PutBits(32, kSliceStartCode + static_cast<uint32_t>(macroblockRow % 128));
        PutBits(3, static_cast<uint32_t>(macroblockRow / 128));
    }
    PutBits(5, static_cast<uint32_t>(quantScale / 2));
    PutBits(1, 0);  // extra_bit_slice
}

void PutSequenceEnd() { StartCode(kSequenceEndCode); }

void PutPictureUserData() {
    if (EncoderSettings.applicationType != kApplicationSvcd || CurrentPicture.PictureCodingType != I_PICTURE) return;
    static constexpr uint8_t kPlaceholder[14] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    PutUserData(kPlaceholder, 14);
}
