// Profile files: the default profile byte for byte, round trips, older
// headers and section layouts, clamps, refusals, summaries and matrices.
#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include "engine/EngineState.h"
#include "job/AviSource.h"
#include "job/Profile.h"
#include "platform/MessageBox.h"
#include "settings/AudioRates.h"
#include "settings/EncoderSettings.h"
#include "settings/Report.h"
#include "settings/RunState.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::ReadFile;
using testsupport::WriteFile;

constexpr char kCaption[] = " Tessmar ";

[[maybe_unused]] const bool kDataFound =
    testsupport::RequireSourceFiles({"tests/job/data/default.prf", "tests/job/data/distinct.prf"});

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::string JoinLines(const std::vector<std::string>& lines, const char* eol = "\n") {
    std::string text;
    for (const std::string& l : lines) text += l + eol;
    return text;
}

std::string GoldenDefault() { return ReadFile(testsupport::SourceDir() / "tests/job/data/default.prf"); }

std::string DistinctText() { return ReadFile(testsupport::SourceDir() / "tests/job/data/distinct.prf"); }

// Settings unlike the built-in ones in every stored field, within the ranges
// the reader and the checks accept.
void LoadDistinctSettings() {
    ReadProfile((testsupport::SourceDir() / "tests/job/data/distinct.prf").c_str());
    ASSERT_EQ(ProfileLoaded, 1);
}

class ProfileTest : public ::testing::Test {
protected:
    void SetUp() override {
        BatchMode = 0;
        DefaultShowInput = 0;
        DefaultShowOutput = 1;
        DefaultAutoWindowSize = 1;
        DefaultStretchPreview = 1;
        EncoderSettings.qualityStatisticsMode = 1;
        ReadProfile("+");
        boxes.Clear();
    }
    void TearDown() override { std::setlocale(LC_ALL, "C"); }

    std::string PathOf(const std::string& name) { return (dir / name).string(); }

    // Writes `text` as a profile and reads it.
    void ReadText(const std::string& text, const std::string& name = "test.prf") {
        WriteFile(dir / name, text);
        ReadProfile(PathOf(name).c_str());
    }

    // The lines of the default profile, to be changed by a test.
    static std::vector<std::string> DefaultLines() { return SplitLines(GoldenDefault()); }

    testsupport::TempDir dir;
    platform::ScriptedMessageBoxes boxes;
};

// The built-in settings as the checks leave them: the values they derive for
// these settings, so that the comparison holds with or without the checks.
void SetDerivedDefaults() {
    EncoderSettings.vbvBufferSize = 20;
    EncoderSettings.colorPrimaries = 4;
    EncoderSettings.transferCharacteristics = 4;
    EncoderSettings.matrixCoefficients = 5;
    EncoderSettings.intraDcPrecision = 0;
}

TEST_F(ProfileTest, DefaultProfileMatchesGoldenFileInAnyLocale) {
    for (const char* locale : {"C", "de_DE.UTF-8"}) {
        SCOPED_TRACE(locale);
        if (!std::setlocale(LC_ALL, locale)) GTEST_SKIP() << locale << " is not installed";
        ReadProfile("+");
        ASSERT_EQ(ProfileLoaded, 1);
        EXPECT_EQ(CustomProfileLoaded, 0);
        SetDerivedDefaults();
        ASSERT_EQ(WriteProfile(PathOf("default.prf").c_str()), 0);
        EXPECT_EQ(ReadFile(dir / "default.prf"), GoldenDefault());
        EXPECT_EQ(CustomProfileLoaded, 1);
    }
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST_F(ProfileTest, BuiltInDefaultsKeepSwitchesAndFollowDisplayDefaults) {
    LoadDistinctSettings();
    EncoderSettings.disableMmx = 1;
    EncoderSettings.useNewMux = 1;
    EncoderSettings.qualityStatisticsMode = 0;
    DefaultShowInput = 1;
    DefaultShowOutput = 0;
    DefaultAutoWindowSize = 0;
    DefaultStretchPreview = 0;
    SelectedAudioMode = -1;
    ReadProfile("+");
    const EncoderSettingsRecord& s = EncoderSettings;
    EXPECT_EQ(s.disableMmx, 1);
    EXPECT_EQ(s.useNewMux, 1);
    EXPECT_EQ(s.qualityStatisticsMode, 0);
    EXPECT_EQ(s.showInput, 1);
    EXPECT_EQ(s.showOutput, 0);
    EXPECT_EQ(s.autoResizeWindow, 0);
    EXPECT_EQ(s.stretchPreview, 0);
    EXPECT_EQ(s.audioBitRate, 128);
    EXPECT_EQ(SelectedAudioMode, 1);
    EXPECT_EQ(SelectedAudioBitRate, 128);
    EXPECT_EQ(SelectedAudioBitRateIndex, 3);
    EXPECT_EQ(s.averageBitRate, 0.9 * 1638400.0);
    EXPECT_EQ(s.inputFileName, "");
    EXPECT_EQ(s.statisticsFileName, "-");
}

TEST_F(ProfileTest, EveryStoredFieldSurvivesReadAndWriteAlsoWithCrLf) {
    // The preview flags stay the user's; the window sizing becomes automatic.
    std::vector<std::string> expected = SplitLines(DistinctText());
    expected[27] = "0";
    expected[28] = "1";
    expected[29] = "1";
    expected[30] = "1";
    for (const char* eol : {"\n", "\r\n"}) {
        ReadProfile("+");
        EncoderSettings.autoResizeWindow = 0;
        ReadText(JoinLines(SplitLines(DistinctText()), eol), "distinct.prf");
        ASSERT_EQ(ProfileLoaded, 1);
        EXPECT_EQ(CustomProfileLoaded, 1);
        ASSERT_EQ(WriteProfile(PathOf("again.prf").c_str()), 0);
        EXPECT_EQ(ReadFile(dir / "again.prf"), JoinLines(expected)) << "line ends " << (eol[0] == '\r' ? "CRLF" : "LF");
    }
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST_F(ProfileTest, NumbersAreReadInTheCLocale) {
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    std::vector<std::string> lines = DefaultLines();
    lines[14] = "2500000.500000";
    ReadText(JoinLines(lines));
    EXPECT_EQ(EncoderSettings.bitRate, 2500000.5);
}

TEST_F(ProfileTest, LongLinesAreReadWholeAndTextsCut) {
    std::vector<std::string> lines = DefaultLines();
    lines[1] = std::string(1000, 'a') + "?rest";
    lines[2] = "/out/name?with.mpg";
    lines[60] = "desc?ription " + std::string(600, 'd');
    lines[3] = std::string("st\0ats\0", 7);
    lines[4] = std::string(100000, '7');
    lines[5] = "720";
    ReadText(JoinLines(lines));
    EXPECT_EQ(ProfileLoaded, 1);
    EXPECT_EQ(EncoderSettings.inputFileName, std::string(255, 'a'));
    EXPECT_EQ(EncoderSettings.outputFileName, "/out/name?with.mpg");
    EXPECT_EQ(EncoderSettings.statisticsFileName, "st");
    EXPECT_EQ(EncoderSettings.profileDescription, ("desc?ription " + std::string(600, 'd')).substr(0, 255));
    EXPECT_EQ(EncoderSettings.horizontalSize, 720);  // the line after the long one is still value 5
}

TEST_F(ProfileTest, Version10FileHasNoSkipModeAndBeeps) {
    std::vector<std::string> lines = DefaultLines();
    lines[0] = "MPEG_DATA_V10 ";
    lines.erase(lines.begin() + 49);  // value 49
    EncoderSettings.skipBFramesMode = 3;
    int beeps = platform::BeepCount();
    ReadText(JoinLines(lines));
    EXPECT_EQ(ProfileLoaded, 1);
    EXPECT_EQ(EncoderSettings.skipBFramesMode, 0);
    EXPECT_EQ(platform::BeepCount(), beeps + 1);
    EXPECT_EQ(EncoderSettings.mpeg2AspectRatio, 2);
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST_F(ProfileTest, RefusedHeadersKeepThePreviousLoadState) {
    const std::string path = PathOf("old.prf");
    struct Case {
        const char* header;
        std::string message;
    } cases[] = {
        {"MPEG_DATA ", "Incorrect version of Tessmar profile file header\n" + path +
                           "\nMPEG Encoder cannot read configuration files\ncreated by old version of the program."},
        {"MPEG_DATA_V12", "Incorrect version of Tessmar profile file header\n" + path +
                              "\nMPEG Encoder cannot read configuration files\ncreated by old version of the program."},
        {"MPEG_DAT", "Illegal header of Tessmar profile file \n" + path +
                         "\nFile may be corrupted or this is not a valid profile file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.header);
        std::vector<std::string> lines = DefaultLines();
        lines[0] = c.header;
        lines[5] = "999";
        boxes.Clear();
        ProfileLoaded = 1;
        ReadText(JoinLines(lines), "old.prf");
        EXPECT_EQ(ProfileLoaded, 1);
        EXPECT_EQ(EncoderSettings.horizontalSize, 352);
        ASSERT_EQ(boxes.Shown().size(), 1u);
        EXPECT_EQ(boxes.Shown()[0].text, c.message);
        EXPECT_EQ(boxes.Shown()[0].caption, kCaption);
    }
    boxes.Clear();
    ProfileLoaded = 0;
    ReadProfile(PathOf("missing.prf").c_str());
    EXPECT_EQ(ProfileLoaded, 0);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Failed to open profile file \n " + PathOf("missing.prf")});
}

// A file without the variable-rate section derives the average rate under the clamp a read value
// gets, so that writing and reading keep it; a rate below what the stream can code is refused.
TEST_F(ProfileTest, DerivedAverageRateIsClampedAndTinyRatesAreRefused) {
    std::vector<std::string> lines = DefaultLines();
    lines[14] = "1.000000";
    lines[78] = "ZRNV4_EXT";  // another line where the variable-rate section would start
    ReadText(JoinLines(lines));
    EXPECT_EQ(EncoderSettings.averageBitRate, 10.0);
    EXPECT_EQ(ProfileLoaded, 1);
    EXPECT_EQ(ParameterError, 1);
    EXPECT_EQ(boxes.Texts().size(), 1u);
}

// A profile that ends after any section (an older writer's, or a profile manager's copy) gives
// the same settings whether the built-in or a variable-rate DVD profile was loaded before it;
// so does one without MPEG2_EXT (cut 0), whose ZRNV2_EXT line at that place is dropped and
// whose next lines are then examined as the later markers.
TEST_F(ProfileTest, ProfileEndingEarlyReadsTheSameWhateverCameBefore) {
    for (size_t cut : {0u, 51u, 55u, 64u, 78u, 92u}) {
        SCOPED_TRACE(cut);
        std::vector<std::string> lines = DefaultLines();
        if (cut == 0)
            lines.erase(lines.begin() + 51, lines.begin() + 55);
        else
            lines.resize(cut);
        std::string written[2];
        for (int before = 0; before < 2; ++before) {
            if (before == 1) LoadDistinctSettings();
            ReadText(JoinLines(lines));
            const EncoderSettingsRecord& s = EncoderSettings;
            EXPECT_EQ(ProfileLoaded, 1);
            EXPECT_EQ(s.applicationType, kApplicationNone);
            EXPECT_EQ(s.rateControl, kRateConstant);
            EXPECT_EQ(s.averageBitRate, cut < 92 ? 0.5 * 1638400.0 : 0.9 * 1638400.0);
            EXPECT_EQ(s.streamType, kStreamTypeMpeg1);  // from the main block's MPEG-1 flag
            ASSERT_EQ(WriteProfile(PathOf("again.prf").c_str()), 0);
            written[before] = ReadFile(dir / "again.prf");
        }
        EXPECT_EQ(written[0], written[1]);
    }
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST_F(ProfileTest, ExtensibleSectionsFollowVersionAndCount) {
    LoadDistinctSettings();
    std::vector<std::string> lines = DefaultLines();
    // ZRNV2.01_EXT major 2, minor 1, count 6: neither group (their built-in values), six lines skipped.
    lines[68] = "2";
    lines[69] = "1";
    lines[70] = "6";
    // ZRN311EXT version 1, count 3: the interlace values, then one line skipped.
    lines[93] = "1";
    lines[95] = "1";
    lines[96] = "1";
    ReadText(JoinLines(lines));
    const EncoderSettingsRecord& s = EncoderSettings;
    EXPECT_EQ(ProfileLoaded, 1);
    EXPECT_EQ(s.medianFilterStrength, 30);
    EXPECT_EQ(s.lowPassFilter, 0);
    EXPECT_EQ(s.streamType, kStreamTypeMpeg1);
    EXPECT_EQ(s.mpeg2MuxConstantRate, 0);
    EXPECT_EQ(s.rateControl, kRateConstant);  // the next section is still found
    EXPECT_EQ(s.interlaceMode, 1);
    EXPECT_EQ(s.sequenceDisplayExtension, 1);
    EXPECT_EQ(s.audioSampleRate, 44100);

    // A later writer's extra values are skipped by the count.
    lines = DefaultLines();
    lines[70] = "8";
    lines.insert(lines.begin() + 77, {"77", "78"});
    lines[96] = "5";
    lines[97] = "1";
    lines.insert(lines.begin() + 100, {"9", "9"});
    ReadText(JoinLines(lines));
    EXPECT_EQ(ProfileLoaded, 1);
    EXPECT_EQ(s.streamType, kStreamTypeMpeg1);
    EXPECT_EQ(s.rateControl, kRateConstant);
    EXPECT_EQ(s.interlaceMode, 1);
    EXPECT_EQ(s.audioSampleRate, 44100);
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST_F(ProfileTest, ValuesAreClampedOnReading) {
    std::vector<std::string> lines = DefaultLines();
    lines[33] = "7";       // audio mode out of range: mode, rate and index not taken
    lines[34] = "384";
    lines[35] = "9";
    lines[56] = "65";      // reservedV2a
    lines[57] = "2";       // reservedV2b
    lines[58] = "1023";    // mux bit rate
    lines[59] = "-1";      // application type
    lines[65] = "5";       // inverse telecine
    lines[66] = "2";       // deinterlace
    lines[67] = "0";       // MPEG-1 aspect
    lines[71] = "1";       // median filter on ...
    lines[72] = "250";     // ... strength 250
    lines[73] = "0";       // low-pass off
    lines[74] = "101";
    lines[75] = "4";       // stream type
    lines[76] = "2";       // MPEG-2 mux constant rate
    lines[79] = "3";       // rate control
    lines[80] = "0";       // VBR mode
    lines[81] = "5.0";     // average bit rate
    lines[82] = "32";      // quantiser scale
    lines[83] = "0.5";     // maximum
    lines[84] = "0";       // upper
    lines[85] = "-3";      // lower
    lines[86] = "10000";   // closed GOP option
    lines[87] = "-1";      // sequence header option
    lines[88] = "33";
    lines[89] = "-1";
    ReadText(JoinLines(lines));
    const EncoderSettingsRecord& s = EncoderSettings;
    EXPECT_EQ(ProfileLoaded, 1);
    EXPECT_EQ(s.audioMode, 1);
    EXPECT_EQ(s.audioBitRate, 128);
    EXPECT_EQ(s.audioBitRateIndex, 3);
    EXPECT_EQ(s.reservedV2a, 0);
    EXPECT_EQ(s.reservedV2b, 0);
    EXPECT_EQ(s.muxBitRate, 0);
    EXPECT_EQ(s.applicationType, kApplicationNone);
    EXPECT_EQ(s.inverseTelecine, 1);
    EXPECT_EQ(s.deinterlace, 0);
    EXPECT_EQ(s.mpeg1AspectRatio, 1);
    EXPECT_EQ(s.medianFilter, 1);
    EXPECT_EQ(s.medianFilterStrength, 100);
    EXPECT_EQ(s.lowPassFilter, 1);
    EXPECT_EQ(s.lowPassFilterStrength, 100);
    EXPECT_EQ(s.streamType, kStreamTypeMpeg1);
    EXPECT_EQ(s.mpeg2MuxConstantRate, 0);
    EXPECT_EQ(s.rateControl, kRateConstant);
    EXPECT_EQ(s.vbrMode, kVbrAverage);
    EXPECT_EQ(s.averageBitRate, 10.0);
    EXPECT_EQ(s.constantQuantScale, 4);
    EXPECT_EQ(s.maxBitRate, s.bitRate);
    EXPECT_EQ(s.averageBitRateUpper, 0.8 * s.bitRate);
    EXPECT_EQ(s.averageBitRateLower, 0.2 * s.bitRate);
    EXPECT_EQ(s.closedGopOption, 0);
    EXPECT_EQ(s.sequenceHeaderOption, 0);
    EXPECT_EQ(s.topBorderLines, 0);
    EXPECT_EQ(s.bottomBorderLines, 0);
}

TEST_F(ProfileTest, UnparsableLinesLeaveFieldsAlone) {
    std::vector<std::string> lines = DefaultLines();
    lines[5] = "wide";
    lines[14] = "nan";
    lines[22] = "40 x";  // P range: only the horizontal value
    lines[23] = "";
    ReadText(JoinLines(lines));
    EXPECT_EQ(ProfileLoaded, 1);
    EXPECT_EQ(EncoderSettings.horizontalSize, 352);
    EXPECT_EQ(EncoderSettings.bitRate, 1638400.0);
    EXPECT_EQ(EncoderSettings.pFrameMotionRange[0], 40);
    EXPECT_EQ(EncoderSettings.pFrameMotionRange[1], 32);
    EXPECT_EQ(EncoderSettings.bFrameMotionRange[0], 16);
}

TEST_F(ProfileTest, AviChannelCountFollowsTheAudioSettings) {
    struct Case {
        const char* input;
        const char* hasAudio;
        const char* mode;
        int channels;
    } cases[] = {
        {"ab", "1", "0", 1}, {"ab", "1", "3", 2}, {"a", "1", "1", 0}, {"ab", "0", "1", 0}};
    for (const Case& c : cases) {
        std::vector<std::string> lines = DefaultLines();
        lines[1] = c.input;
        lines[36] = c.hasAudio;
        lines[33] = c.mode;
        AviRequestedChannels = 5;
        ReadText(JoinLines(lines));
        EXPECT_EQ(AviRequestedChannels, c.channels) << c.input << " " << c.hasAudio << " " << c.mode;
    }
    AviRequestedChannels = 5;
    ReadProfile("-");
    EXPECT_EQ(AviRequestedChannels, 0);
}

TEST_F(ProfileTest, BrokenSectionEndsAreReportedAndLeaveTheProfileUnloaded) {
    const std::string path = PathOf("broken.prf");
    auto text = [&](const char* what) {
        return std::string("Illegal end of ") + what + "\n " + path + "\n file may be corrupted or not completed";
    };
    struct Case {
        int line;  // 1-based line to damage
        std::string message;
    } cases[] = {
        {51, text(" profile parameters file ")},
        {55, text("parameters file MPEG-2 extantion")},
        {64, text("parameters file version 2 extension")},
        {78, text("parameters file version 2.01 extension")},
        {92, text("parameters file version 3 extantion")},
        {99, text("parameters file version 3 extantion")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        std::vector<std::string> lines = DefaultLines();
        lines[c.line - 1] = "BROKEN";
        lines[5] = "704";
        boxes.Clear();
        ReadText(JoinLines(lines), "broken.prf");
        EXPECT_EQ(ProfileLoaded, 0);
        EXPECT_EQ(EncoderSettings.horizontalSize, 704);  // values read so far stay
        EXPECT_EQ(boxes.Texts(), std::vector<std::string>{c.message});
    }
    // A main block cut short fails at its end marker too.
    std::vector<std::string> lines = DefaultLines();
    lines.resize(30);
    boxes.Clear();
    ReadText(JoinLines(lines), "broken.prf");
    EXPECT_EQ(ProfileLoaded, 0);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{cases[0].message});
}

TEST_F(ProfileTest, ErrorFlagIsClearedByEveryRead) {
    ParameterError = 1;
    ReadProfile("-");
    EXPECT_EQ(ParameterError, 0);
    EXPECT_EQ(ProfileLoaded, 1);
    ParameterError = 1;
    ReadProfile(PathOf("missing.prf").c_str());
    EXPECT_EQ(ParameterError, 0);
}

TEST_F(ProfileTest, DefaultNamedProfileDoesNotCountAsCustom) {
    for (const char* name : {"dir_default.$pr", "dir_DEFAULT.$PR"}) {
        ReadText(GoldenDefault(), name);
        EXPECT_EQ(CustomProfileLoaded, 0) << name;
    }
    ReadText(GoldenDefault(), "mine.prf");
    EXPECT_EQ(CustomProfileLoaded, 1);
    ReadText(GoldenDefault(), "dir_default.$pr");
    EXPECT_EQ(CustomProfileLoaded, 1);  // only the built-in defaults clear it
}

TEST_F(ProfileTest, WriteRefusesWhatAProfileCannotHold) {
    const std::string path = PathOf("refused.prf");
    WriteFile(path, "previous");
    struct Case {
        std::string EncoderSettingsRecord::*field;
        std::string value;
        std::string reason;
    } cases[] = {
        {&EncoderSettingsRecord::inputFileName, std::string(256, 'n'),
         "The input file name is longer than 255 characters."},
        {&EncoderSettingsRecord::tempAudioFileName, std::string(300, 'n'),
         "The temporary audio file name is longer than 255 characters."},
        {&EncoderSettingsRecord::outputFileName, "a\nb", "The output file name holds a line break."},
        {&EncoderSettingsRecord::profileDescription, "one\rtwo", "The profile description holds a line break."},
    };
    for (const Case& c : cases) {
        ReadProfile("+");
        EncoderSettings.*c.field = c.value;
        boxes.Clear();
        EXPECT_EQ(WriteProfile(path.c_str()), -1);
        EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Profile file not saved:\n" + path + "\n\n" + c.reason});
        EXPECT_EQ(ReadFile(path), "previous");
    }
    // 255 characters fit, and every character but a line break is read back as written.
    ReadProfile("+");
    EncoderSettings.inputFileName = std::string(255, 'n');
    EncoderSettings.outputFileName = "/out/what?.mpg";
    EncoderSettings.statisticsFileName = "/out/?*[a] b?.txt";
    EXPECT_EQ(WriteProfile(path.c_str()), 0);
    ReadProfile(path.c_str());
    EXPECT_EQ(EncoderSettings.inputFileName, std::string(255, 'n'));
    EXPECT_EQ(EncoderSettings.outputFileName, "/out/what?.mpg");
    EXPECT_EQ(EncoderSettings.statisticsFileName, "/out/?*[a] b?.txt");
}

TEST_F(ProfileTest, WriteFailuresAreReportedNeverSuccess) {
    EXPECT_EQ(WriteProfile("a"), -1);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{" File name too short. Cannot write profile file."});

    boxes.Clear();
    std::string noDir = PathOf("no/such/dir.prf");
    CustomProfileLoaded = 0;
    EXPECT_EQ(WriteProfile(noDir.c_str()), -1);
    EXPECT_EQ(CustomProfileLoaded, 0);
    EXPECT_EQ(boxes.Texts(),
              std::vector<std::string>{"Failed to create profile file: \n" + noDir +
                                       "\n\nPossible reason:\nFile is read-only or path to profiles is now invalid."});

    boxes.Clear();
    EXPECT_EQ(WriteProfile("/dev/full"), -1);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Error: failed to save parameters \nin file  File /dev/full "});

    boxes.Clear();
    EXPECT_EQ(WriteProfile(nullptr), -1);
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].text, " Zero file name ptr ");
}

TEST_F(ProfileTest, HeaderSummaryOfAProfile) {
    std::string description = "unchanged";
    int mpeg1 = -9, width = -9, height = -9, rate = -9, unused1 = -9, unused2 = -9, video = -9, audio = -9,
        mode = -9, mux = -9;
    auto read = [&](const std::string& path) {
        ReadProfileHeader(path.c_str(), &description, &mpeg1, &width, &height, &rate, &unused1, &unused2, &video,
                          &audio, &mode, &mux);
    };
    WriteFile(dir / "default.prf", GoldenDefault());
    read(PathOf("default.prf"));
    EXPECT_EQ(ProfileHeaderError, 0);
    EXPECT_EQ(description, "");
    EXPECT_EQ(mpeg1, 1);
    EXPECT_EQ(width, 352);
    EXPECT_EQ(height, 240);
    EXPECT_EQ(rate, 29);
    EXPECT_EQ(video, 1638400);
    EXPECT_EQ(audio, 128);
    EXPECT_EQ(mode, 1);
    EXPECT_EQ(mux, 0);

    read((testsupport::SourceDir() / "tests/job/data/distinct.prf").string());
    EXPECT_EQ(ProfileHeaderError, 0);
    EXPECT_EQ(description, "DVD, 16:9 -- fast");
    EXPECT_EQ(mpeg1, 0);
    EXPECT_EQ(width, 720);
    EXPECT_EQ(height, 576);
    EXPECT_EQ(rate, 25);
    EXPECT_EQ(unused1, -9);
    EXPECT_EQ(unused2, -9);
    EXPECT_EQ(video, -1);  // variable bit rate
    EXPECT_EQ(audio, 0);   // audio not encoded
    EXPECT_EQ(mode, 3);
    EXPECT_EQ(mux, 10080000);
    EXPECT_EQ(EncoderSettings.horizontalSize, 352);  // the settings are untouched
}

TEST_F(ProfileTest, HeaderSummaryRulesAndFailures) {
    std::vector<std::string> lines = DefaultLines();
    lines[12] = "1";          // 23.976 frames/s
    lines[14] = "1150000.9";  // truncated
    lines[37] = "0";          // no audio encoded
    lines[58] = "512";        // mux rate below 1024 reports 0
    lines[60] = "";
    WriteFile(dir / "h.prf", JoinLines(lines));
    std::string description = "x";
    int mpeg1 = -9, width = -9, height = -9, rate = -9, video = -9, audio = -9, mode = -9, mux = -9;
    auto read = [&](const std::string& name) {
        ReadProfileHeader(PathOf(name).c_str(), &description, &mpeg1, &width, &height, &rate, nullptr, nullptr,
                          &video, &audio, &mode, &mux);
    };
    read("h.prf");
    EXPECT_EQ(ProfileHeaderError, 0);
    EXPECT_EQ(rate, 23);
    EXPECT_EQ(video, 1150000);
    EXPECT_EQ(audio, 0);
    EXPECT_EQ(mode, 1);
    EXPECT_EQ(mux, 0);
    EXPECT_EQ(description, "");

    // Without the variable-bit-rate section the summary ends there, successfully;
    // a video flag of 0 reports no video.
    lines = DefaultLines();
    lines[38] = "0";
    lines.resize(78);
    WriteFile(dir / "h2.prf", JoinLines(lines));
    video = -9;
    read("h2.prf");
    EXPECT_EQ(ProfileHeaderError, 0);
    EXPECT_EQ(video, 0);

    // Failures go to the shared buffer, unshown.
    lines = DefaultLines();
    lines[63] = "BROKEN";
    WriteFile(dir / "h3.prf", JoinLines(lines));
    read("h3.prf");
    EXPECT_EQ(ProfileHeaderError, 1);
    EXPECT_EQ(ErrorMessageBuffer, "Illegal end of parameters file version 2 extantion\n " + PathOf("h3.prf") +
                                      "\n file may be corrupted or not completed");
    WriteFile(dir / "h4.prf", "MPEG_DATA\n");
    read("h4.prf");
    EXPECT_EQ(ProfileHeaderError, 1);
    EXPECT_EQ(ErrorMessageBuffer.substr(0, 49), "Incorrect version of Tessmar profile file header\n");
    ProfileHeaderError = 0;
    read("none.prf");
    EXPECT_EQ(ProfileHeaderError, 1);
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST_F(ProfileTest, QuantMatricesAreWholeOrBuiltIn) {
    EncoderSettingsRecord& s = EncoderSettings;
    s.intraMatrixFileName = "-";
    s.nonIntraMatrixFileName = "-";
    s.intraQuantMatrix.fill(0);
    EXPECT_EQ(LoadQuantMatrices(), 1);
    EXPECT_EQ(s.intraQuantMatrix[0], 8);
    EXPECT_EQ(s.intraQuantMatrix[1], 16);
    EXPECT_EQ(s.intraQuantMatrix[8], 16);
    EXPECT_EQ(s.intraQuantMatrix[63], 83);
    EXPECT_EQ(s.intraQuantMatrix[7 * 8 + 2], 35);
    for (int v : s.nonIntraQuantMatrix) EXPECT_EQ(v, 16);
    EXPECT_EQ(s.loadIntraMatrix, 0);

    std::string numbers;
    for (int i = 1; i <= 64; ++i) numbers += std::to_string(i * 3) + (i % 8 ? " " : "\r\n");
    WriteFile(dir / "q.txt", numbers);
    s.intraMatrixFileName = PathOf("q.txt");
    EXPECT_EQ(LoadQuantMatrices(), 1);
    EXPECT_EQ(s.loadIntraMatrix, 1);
    EXPECT_EQ(s.intraQuantMatrix[0], 3);
    EXPECT_EQ(s.intraQuantMatrix[63], 192);
    EXPECT_TRUE(boxes.Texts().empty());

    // Text after the 64th number is not looked at.
    WriteFile(dir / "q.txt", numbers + "trailing words");
    EXPECT_EQ(LoadQuantMatrices(), 1);

    // Anything short of 64 valid numbers leaves the whole built-in matrix in place.
    for (const std::string& bad : {std::string(""), std::string("5 6 7"), "0 " + numbers, "256 " + numbers,
                                   "12abc " + numbers}) {
        WriteFile(dir / "bad.txt", bad);
        s.nonIntraMatrixFileName = PathOf("bad.txt");
        boxes.Clear();
        EXPECT_EQ(LoadQuantMatrices(), 0);
        for (int v : s.nonIntraQuantMatrix) EXPECT_EQ(v, 16);
        EXPECT_EQ(s.loadNonIntraMatrix, 0);
        EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"invalid value in quant matrix"});
    }
    s.nonIntraMatrixFileName = PathOf("none.txt");
    boxes.Clear();
    EXPECT_EQ(LoadQuantMatrices(), 0);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Couldn't open quant matrix file " + PathOf("none.txt")});
    // Reading a profile goes back to the built-in matrices.
    ReadProfile("-");
    EXPECT_EQ(s.intraMatrixFileName, "-");
    EXPECT_EQ(s.nonIntraMatrixFileName, "-");
}

TEST(AudioRatesTest, TwoRowsOfTenWithAFallback) {
    EXPECT_EQ(AudioBitrateFromIndex(0, 0), 32);
    EXPECT_EQ(AudioBitrateFromIndex(0, 7), 128);
    EXPECT_EQ(AudioBitrateFromIndex(0, 9), 192);
    EXPECT_EQ(AudioBitrateFromIndex(1, 0), 64);
    EXPECT_EQ(AudioBitrateFromIndex(1, 3), 128);
    EXPECT_EQ(AudioBitrateFromIndex(3, 9), 384);
    EXPECT_EQ(AudioBitrateFromIndex(-1, 1), 48);
    EXPECT_EQ(AudioBitrateFromIndex(0, 10), 128);
    EXPECT_EQ(AudioBitrateFromIndex(2, 10), 128);
    EXPECT_EQ(AudioBitrateFromIndex(2, -1), 128);
}

}  // namespace
