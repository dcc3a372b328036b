// The summary of a profile file that the profile lists show, read without
// touching the settings.
#include <climits>
#include <string>
#include <vector>

#include "job/Profile.h"
#include "job/ProfileFields.h"
#include "platform/Format.h"
#include "settings/EncoderSettings.h"
#include "settings/ProfileFormat.h"
#include "settings/Report.h"

using namespace profileformat;

void ReadProfileHeader(const char* name, std::string* description, int* mpeg1, int* width, int* height,
                       int* frameRate, int* /*unused1*/, int* /*unused2*/, int* videoBitRate, int* audioBitRate,
                       int* audioMode, int* muxBitRate) {
    ProfileHeaderError = 0;
    FILE* file = name ? std::fopen(name, "r") : nullptr;
    if (!file) {
        ProfileHeaderError = 1;
        return;
    }
    FileCloser closer{file};
    platform::CLocaleScope cLocale;
    LineReader lines(file);
    ValueReader in(lines);
    auto fail = [&](const char* message) {
        ErrorMessageBuffer = platform::Format(message, name);
        ProfileHeaderError = 1;
    };

    in.Line();
    HeaderKind header = ClassifyHeader(in.Text());
    if (header == HeaderKind::Old) return fail(kMsgOldHeader);
    if (header == HeaderKind::Illegal) return fail(kMsgBadHeader);

    // The main block, by value number (1-based); missing lines stay empty.
    const int valueCount = header == HeaderKind::V11 ? 49 : 48;
    std::vector<std::string> values(static_cast<size_t>(valueCount) + 1);
    for (int i = 1; i <= valueCount; ++i) {
        in.Line();
        values[static_cast<size_t>(i)] = in.Text();
    }
    using R = EncoderSettingsRecord;
    auto text = [&values](auto member) -> const std::string& {
        return values[static_cast<size_t>(ProfileLineOf(member) - kMainFirstLine + 1)];
    };
    auto intValue = [&text](int R::*member, int& out) { return ParseInt(text(member).c_str(), out); };
    int v = 0;
    if (intValue(&R::horizontalSize, v) && width) *width = v;
    if (intValue(&R::verticalSize, v) && height) *height = v;
    if (intValue(&R::mpeg1, v) && mpeg1) *mpeg1 = v;
    if (intValue(&R::frameRateCode, v) && v >= 1 && v <= 8 && frameRate) *frameRate = kWholeFrameRate[v - 1];
    double rate = 0.0;
    if (ParseDouble(text(&R::bitRate).c_str(), rate) && videoBitRate)
        *videoBitRate = rate >= INT_MAX ? INT_MAX : rate <= INT_MIN ? INT_MIN : static_cast<int>(rate);
    if (intValue(&R::audioMode, v) && v >= 0 && v <= 3) {
        if (audioMode) *audioMode = v;
        if (intValue(&R::audioBitRate, v) && v > 0 && v % 8 == 0 && audioBitRate) *audioBitRate = v;
    }
    if (intValue(&R::encodeAudio, v) && v == 0 && audioBitRate) *audioBitRate = 0;
    if (intValue(&R::reservedV11, v) && v == 0 && videoBitRate) *videoBitRate = 0;
    if (lines.Failed()) return fail(kMsgReadError);

    in.Line();
    if (!StartsWith(in.Text(), kMainEnd)) return fail(kMsgBadMainEnd);

    // MPEG2_EXT: nothing of it is summarised.
    if (lines.AtEnd()) return;
    in.Line();
    if (StartsWith(in.Text(), kMpeg2Ext.begin)) {
        in.Skip(2);
        in.Line();
        if (!StartsWith(in.Text(), kMpeg2Ext.end)) return fail(kMsgBadMpeg2End);
    }

    if (lines.AtEnd()) return;
    in.Line();
    if (StartsWith(in.Text(), kV2Ext.begin)) {
        in.Skip(2);
        if (in.Int(v) && muxBitRate) *muxBitRate = v >= 1 && v <= 1023 ? 0 : v;
        in.Skip(1);
        if (in.Line() && description) *description = StoredText(in.Text());
        in.Skip(2);
        in.Line();
        if (!StartsWith(in.Text(), kV2Ext.end)) return fail(kMsgBadV2EndSummary);
    }
    if (lines.Failed()) return fail(kMsgReadError);

    if (lines.AtEnd()) return;
    in.Line();
    if (StartsWith(in.Text(), kV201Ext.begin)) {
        // Whichever value groups the versions select, the count covers every
        // line after it; the three values and the versions are not summarised.
        in.Skip(5);
        in.Skip(NonNegative(in.IntOr(0)));
        in.Line();
        if (!StartsWith(in.Text(), kV201Ext.end)) return fail(kMsgBadV201End);
    }

    if (lines.AtEnd()) return;
    in.Line();
    if (!StartsWith(in.Text(), kV3Ext.begin)) return;
    if (in.Int(v) && v == 2 && videoBitRate) *videoBitRate = -1;
    in.Skip(11);
    in.Line();
    if (!StartsWith(in.Text(), kV3Ext.end)) return fail(kMsgBadV3End);
}
