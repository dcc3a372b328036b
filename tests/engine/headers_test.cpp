// Stream headers: exact bytes and fields of every header, the time code, the
// slice-row extension, the SVCD user data, and a decoder reading a tiny
// stream built from them.
#include <gtest/gtest.h>

#include <cstdio>

#include "engine/EngineState.h"
#include "engine/Headers.h"
#include "engine/RateControl.h"
#include "engine/Vlc.h"
#include "settings/EncoderSettings.h"
#include "tests/engine/StreamCapture.h"
#include "tests/support/TestSupport.h"

namespace {

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string s;
    char buf[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", bytes[i]);
        s += buf;
    }
    return s;
}

std::string Binary(int value, int bits) {
    std::string s;
    for (int i = bits - 1; i >= 0; --i) s += (value >> i) & 1 ? '1' : '0';
    return s;
}

// The bits of a header after its 32-bit start code.
std::string FieldsOf(void (*write)()) {
    StreamCapture capture;
    write();
    return capture.FinishBits().substr(32);
}

class HeadersTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = EncoderSettings;
        savedMmx_ = MmxEnabled;
        EncoderSettings = EncoderSettingsRecord{};
        MmxEnabled = 0;
    }
    void TearDown() override {
        EncoderSettings = saved_;
        MmxEnabled = savedMmx_;
    }
    static void Pal720x576Mpeg2() {
        auto& s = EncoderSettings;
        s.mpeg1 = 0;
        s.horizontalSize = 720;
        s.verticalSize = 576;
        s.mpeg2AspectRatio = 2;
        s.frameRateCode = 3;
        s.bitRate = 6000000;
        s.vbvBufferSize = 112;
        s.constrainedParametersFlag = 0;
        s.mpegProfile = 4;
        s.mpegLevel = 8;
        s.progressiveSequence = 1;
    }
    EncoderSettingsRecord saved_;
    int savedMmx_ = 1;
};

TEST_F(HeadersTest, SequenceHeadersOfTheTwoExamples) {
    Pal720x576Mpeg2();
    {
        StreamCapture capture;
        PutSequenceHeader();
        EXPECT_EQ(Hex(capture.Finish()), "00 00 01 B3 2D 02 40 23 0E A6 23 80");
    }
    auto& s = EncoderSettings;
    s.mpeg1 = 1;
    s.horizontalSize = 352;
    s.verticalSize = 288;
    s.mpeg1AspectRatio = 1;
    s.mpeg2AspectRatio = 3;  // not used by MPEG-1
    s.bitRate = 1150000;
    s.vbvBufferSize = 20;
    s.constrainedParametersFlag = 1;
    StreamCapture capture;
    PutSequenceHeader();
    EXPECT_EQ(Hex(capture.Finish()), "00 00 01 B3 16 01 20 13 02 CE E0 A4");
}

TEST_F(HeadersTest, BitRateFieldsForConstantAndVariableRates) {
    auto rateField = [] { return FieldsOf(PutSequenceHeader).substr(32, 18); };
    auto& s = EncoderSettings;
    s.mpeg1 = 1;
    s.bitRate = 1000001;
    EXPECT_EQ(rateField(), Binary(2501, 18));
    s.rateControl = kRateVariable;
    EXPECT_EQ(rateField(), std::string(18, '1'));

    // MPEG-2 variable rate: the maximum rate, split over header and extension.
    s.mpeg1 = 0;
    s.bitRate = 120000000;  // 300000 units
    EXPECT_EQ(rateField(), Binary(300000 & 0x3FFFF, 18));
    EXPECT_EQ(FieldsOf(PutSequenceExtension).substr(4 + 8 + 1 + 2 + 2 + 2, 12), Binary(300000 >> 18, 12));
}

TEST_F(HeadersTest, SequenceExtensionAndDisplayExtension) {
    Pal720x576Mpeg2();
    auto& s = EncoderSettings;
    s.vbvBufferSize = 1500;  // 10 bits in the header, the rest in the extension
    s.horizontalSize = 4100;
    EXPECT_EQ(FieldsOf(PutSequenceExtension), "0001"
                                              "01001000"
                                              "1"
                                              "01"
                                              "01"
                                              "00"
                                              "000000000000"
                                              "1"
                                              "00000001"
                                              "0"
                                              "00"
                                              "00000");
    s.progressiveSequence = 0;
    EXPECT_EQ(FieldsOf(PutSequenceExtension)[12], '0');

    s.horizontalSize = 720;
    s.videoFormat = 1;
    s.colorPrimaries = 5;
    s.transferCharacteristics = 6;
    s.matrixCoefficients = 7;
    EXPECT_EQ(FieldsOf(PutSequenceDisplayExtension),
              "0010" "001" "1" "00000101" "00000110" "00000111" + Binary(720, 14) + "1" + Binary(576, 14));
}

TEST_F(HeadersTest, QuantiserMatricesGoOutInZigZagOrderWhicheverTransformsRun) {
    static const int kIntra[64] = {8,  16, 19, 22, 26, 27, 29, 34, 16, 16, 22, 24, 27, 29, 34, 37,
                                   19, 22, 26, 27, 29, 34, 34, 38, 22, 22, 26, 27, 29, 34, 37, 40,
                                   22, 26, 27, 29, 32, 35, 40, 48, 26, 27, 29, 32, 35, 40, 48, 58,
                                   26, 27, 29, 34, 38, 46, 56, 69, 27, 29, 35, 38, 46, 56, 69, 83};
    static const int kIntraZigZag[64] = {8,  16, 16, 19, 16, 19, 22, 22, 22, 22, 22, 22, 26, 24, 26, 27,
                                         27, 27, 26, 26, 26, 26, 27, 27, 27, 29, 29, 29, 34, 34, 34, 29,
                                         29, 29, 27, 27, 29, 29, 32, 32, 34, 34, 37, 38, 37, 35, 35, 34,
                                         35, 38, 38, 40, 40, 40, 48, 48, 46, 46, 56, 56, 58, 69, 69, 83};
    std::string expected;
    for (int v : kIntraZigZag) expected += Binary(v, 8);
    auto& s = EncoderSettings;
    s.loadIntraMatrix = 1;
    s.loadNonIntraMatrix = 1;
    for (int mmx = 0; mmx < 2; ++mmx) {
        MmxEnabled = mmx;
        for (int p = 0; p < 64; ++p) {
            s.intraQuantMatrix[p] = kIntra[p];
            s.nonIntraQuantMatrix[p] = kIntra[p] + 1;
        }
        const std::string fields = FieldsOf(PutSequenceHeader);
        ASSERT_EQ(fields.size(), 61u + 1 + 1 + 512 + 1 + 512);
        EXPECT_EQ(fields.substr(61, 2), "01");  // constrained 0, load_intra 1
        EXPECT_EQ(fields.substr(63, 512), expected) << mmx;
        EXPECT_EQ(fields.substr(575, 1), "1");
        EXPECT_EQ(fields.substr(576, 8), Binary(9, 8));
    }
}

TEST_F(HeadersTest, GroupTimeCodesCountWholeSecondsWithoutDropFrames) {
    auto timeCode = [](int first, int closed) {
        StreamCapture capture;
        PutGopHeader(first, closed);
        return capture.FinishBits().substr(32);
    };
    auto fields = [](int h, int m, int s, int p, int closed) {
        return "0" + Binary(h, 5) + Binary(m, 6) + "1" + Binary(s, 6) + Binary(p, 6) + (closed ? "1" : "0") + "0";
    };
    auto& st = EncoderSettings;
    st.frameRateCode = 4;  // 30000/1001 counts 30 pictures a second
    st.frameRate = 30000.0 / 1001.0;
    EXPECT_EQ(timeCode(1799, 1), fields(0, 0, 59, 29, 1));
    EXPECT_EQ(timeCode(1800, 0), fields(0, 1, 0, 0, 0));
    st.timeCodeStartFrame = 30 * 3600;
    EXPECT_EQ(timeCode(0, 0), fields(1, 0, 0, 0, 0));
    st.timeCodeStartFrame = 0;
    st.frameRateCode = 1;
    EXPECT_EQ(timeCode(24 * 61 + 5, 0), fields(0, 1, 1, 5, 0));
    st.frameRateCode = 3;
    EXPECT_EQ(timeCode(25 * 3600 * 25 + 25 * 62, 0), fields(1, 1, 2, 0, 0));  // hours wrap at 24
    st.frameRateCode = 7;
    EXPECT_EQ(timeCode(60 * 3599 + 59, 1), fields(0, 59, 59, 59, 1));
}

TEST_F(HeadersTest, PictureHeadersCarryTheFCodesWhereTheStreamKindWantsThem) {
    auto& s = EncoderSettings;
    CurrentPicture.TemporalReference = 5;
    RateControlState.VbvDelay = 0x1234;
    CurrentPicture.ForwardHorFCode = 3;
    CurrentPicture.ForwardVertFCode = 2;
    CurrentPicture.BackwardHorFCode = 4;
    CurrentPicture.BackwardVertFCode = 1;
    const std::string common = Binary(5, 10);
    s.mpeg1 = 1;
    CurrentPicture.PictureCodingType = I_PICTURE;
    EXPECT_EQ(FieldsOf(PutPictureHeader), common + "001" + Binary(0x1234, 16) + "0");
    CurrentPicture.PictureCodingType = P_PICTURE;
    EXPECT_EQ(FieldsOf(PutPictureHeader), common + "010" + Binary(0x1234, 16) + "0011" + "0");
    CurrentPicture.PictureCodingType = B_PICTURE;
    EXPECT_EQ(FieldsOf(PutPictureHeader), common + "011" + Binary(0x1234, 16) + "0011" "0100" "0");
    s.mpeg1 = 0;
    EXPECT_EQ(FieldsOf(PutPictureHeader), common + "011" + Binary(0x1234, 16) + "0111" "0111" "0");

    s.intraDcPrecision = 2;
    s.intraVlcFormat[2] = 1;
    s.progressiveSequence = 1;
    s.topFieldFirst = 1;  // not written for a progressive sequence
    EXPECT_EQ(FieldsOf(PutPictureCodingExtension), "1000" "0011" "0010" "0100" "0001" "10" "11"
                                                   "0" "1" "0" "0" "1" "0" "0" "1" "1" "0");
    s.progressiveSequence = 0;
    s.progressiveFrame = 0;
    CurrentPicture.PictureCodingType = I_PICTURE;
    s.intraVlcFormat[0] = 0;
    EXPECT_EQ(FieldsOf(PutPictureCodingExtension).substr(20), "10" "11" "1" "0" "0" "0" "0" "0" "0" "0" "0" "0");
    CurrentPicture.ForwardHorFCode = CurrentPicture.ForwardVertFCode = CurrentPicture.BackwardHorFCode =
        CurrentPicture.BackwardVertFCode = 15;
    CurrentPicture.TemporalReference = 0;
    RateControlState.VbvDelay = 0;
}

TEST_F(HeadersTest, SliceStartCodesAboveTwentyEightHundredLinesUseTheRowExtension) {
    auto slice = [](int row, int quant) {
        StreamCapture capture;
        PutBits(3, 0x7);  // a slice always starts on a byte
        PutSliceHeader(row, quant);
        return Hex(capture.Finish());
    };
    auto& s = EncoderSettings;
    s.mpeg1 = 0;
    s.verticalSize = 2800;
    EXPECT_EQ(slice(130, 10), "E0 00 00 01 83 28");  // quantiser code 5, extra bit 0
    s.verticalSize = 2801;
    EXPECT_EQ(slice(130, 10), "E0 00 00 01 03 25 00");  // extension 001, then 00101 0
    EXPECT_EQ(slice(127, 62), "E0 00 00 01 80 1F 00");  // extension 000, then 11111 0
    s.mpeg1 = 1;
    EXPECT_EQ(slice(0, 2), "E0 00 00 01 01 08");
}

TEST_F(HeadersTest, UserDataAndTheSvcdPlaceholder) {
    auto& s = EncoderSettings;
    {
        StreamCapture capture;
        PutUserData(nullptr, 3);
        const uint8_t one = 1;
        PutUserData(&one, 0);
        s.applicationType = kApplicationSvcd;
        CurrentPicture.PictureCodingType = P_PICTURE;
        PutPictureUserData();
        s.applicationType = kApplicationDvd;
        CurrentPicture.PictureCodingType = I_PICTURE;
        PutPictureUserData();
        EXPECT_TRUE(capture.Finish().empty());
    }
    s.applicationType = kApplicationSvcd;
    StreamCapture capture;
    PutBits(1, 1);
    PutPictureUserData();
    PutSequenceEnd();
    EXPECT_EQ(Hex(capture.Finish()),
              "80 00 00 01 B2 01 01 01 01 01 01 01 01 01 01 01 01 01 01 00 00 01 B7");
}

// A grey intra picture built from these headers decodes cleanly: the headers,
// slices and codes parse as a standard decoder expects.
TEST_F(HeadersTest, ADecoderReadsATinyStreamOfTheseHeaders) {
    if (!testsupport::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    testsupport::TempDir dir;
    for (int mpeg1 = 0; mpeg1 < 2; ++mpeg1) {
        auto& s = EncoderSettings;
        s = EncoderSettingsRecord{};
        s.mpeg1 = mpeg1;
        s.horizontalSize = 64;
        s.verticalSize = 48;
        s.frameRateCode = 3;
        s.mpeg1AspectRatio = 1;
        s.mpeg2AspectRatio = 2;
        s.bitRate = 1000000;
        s.vbvBufferSize = 20;
        s.mpegProfile = 4;
        s.mpegLevel = 8;
        s.intraDcPrecision = 0;
        s.progressiveSequence = 1;
        s.intraVlcFormat[0] = mpeg1 ? 0 : 1;
        s.videoFormat = 1;
        s.applicationType = kApplicationSvcd;
        const auto path = dir / (mpeg1 ? "grey.m1v" : "grey.m2v");
        FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        VideoStreamFile = f;
        InitBitWriter();
        PutSequenceHeader();
        if (!mpeg1) {
            PutSequenceExtension();
            PutSequenceDisplayExtension();
        }
        PutGopHeader(0, 1);
        CurrentPicture.PictureCodingType = I_PICTURE;
        CurrentPicture.TemporalReference = 0;
        RateControlState.VbvDelay = 0xFFFF;
        PutPictureHeader();
        if (!mpeg1) PutPictureCodingExtension();
        PutPictureUserData();
        for (int row = 0; row < 3; ++row) {
            if (!mpeg1 || row == 0) PutSliceHeader(row, 8);
            for (int col = 0; col < 4; ++col) {
                PutAddressIncrement(1);
                PutMacroblockType(I_PICTURE, MB_INTRA);
                // The DC predictors start at mid-grey, so every difference is 0.
                for (int b = 0; b < 6; ++b) {
                    if (b < 4) PutDCLuminance(0);
                    else PutDCChrominance(0);
                    if (mpeg1 || !s.intraVlcFormat[0]) PutBits(2, 0b10);
                    else PutBits(4, 0b0110);
                }
            }
        }
        PutSequenceEnd();
        FinishBitWriter();
        VideoStreamFile = nullptr;
        ASSERT_EQ(std::fclose(f), 0);

        const auto yuv = dir / "out.yuv";
        std::string log;
        const int status = testsupport::RunCommand("ffmpeg -nostdin -v error -y -i '" + path.string() +
                                                       "' -f rawvideo -pix_fmt yuv420p '" + yuv.string() + "' 2>&1",
                                                   &log);
        EXPECT_EQ(status, 0) << log;
        EXPECT_EQ(log, "") << mpeg1;
        const std::string pixels = testsupport::ReadFile(yuv);
        ASSERT_EQ(pixels.size(), 64u * 48u * 3 / 2) << mpeg1;
        EXPECT_EQ(pixels, std::string(pixels.size(), '\x80'));

        std::string probe;
        testsupport::RunCommand("ffprobe -v error -show_entries stream=codec_name,width,height -of csv=p=0 '" +
                                    path.string() + "'",
                                &probe);
        EXPECT_EQ(probe.rfind(mpeg1 ? "mpeg1video,64,48" : "mpeg2video,64,48", 0), 0u) << probe;
    }
}

}  // namespace
