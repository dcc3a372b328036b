// Disc-format compliance questions for Video-CD 1.1 and 2.0, CD-i, DVD and
// SVCD: the exact texts, Yes going on and No stopping, the batch log, the
// counter and the summary under suppressed warnings.
#include <gtest/gtest.h>

#include "job/Finalise.h"
#include "settings/Validate.h"
#include "tests/job/ValidateFixtures.h"

using namespace validatetest;

namespace {

struct QuestionCase {
    const char* name;
    EncoderSettingsRecord settings;
    Mutation change;
    std::vector<std::string> details;  // the questions expected, in order
};

const char* Heading(int type) {
    switch (type) {
        case 1: return "Parameters are not compatible with\nVideoCD 1.1 specification. \n\n";
        case 2: return "Parameters are not compatible with\nVideoCD 2.0 specification. \n\n";
        case 3: return "Parameters are not compatible \nwith CD-i specification. \n";
        case 16: return "Parameters are not compatible with DVD specification.\n\n";
        case 17: return "Parameters are not compatible with SVCD\nspecification. \n\n";
    }
    return "";
}

void Prepare(const QuestionCase& c) {
    EncoderSettings = c.settings;
    FinaliseSettings(true);
    ASSERT_EQ(ParameterError, 0) << "the representative settings must be valid";
    c.change(EncoderSettings);
}

// Answered Yes every question is asked in order and the check goes on;
// answered No the first question stops it.
void ExpectQuestions(int (*check)(), const QuestionCase& c) {
    SCOPED_TRACE(c.name);
    {
        CheckScope scope;
        Prepare(c);
        for (size_t i = 0; i < c.details.size(); ++i) scope.boxes.Answer(platform::MbAnswer::Yes);
        ComplianceWarningCount = 0;
        EXPECT_EQ(check(), 0);
        const auto& shown = scope.boxes.Shown();
        ASSERT_EQ(shown.size(), c.details.size());
        for (size_t i = 0; i < shown.size(); ++i) {
            EXPECT_EQ(shown[i].text, Heading(c.settings.applicationType) + c.details[i] +
                                         "\nDo you wish to continue anyway ?");
            EXPECT_EQ(shown[i].caption, "Tessmar Warning");
            EXPECT_EQ(shown[i].buttons, platform::MbButtons::YesNo);
        }
        EXPECT_EQ(ComplianceWarningCount, static_cast<int>(c.details.size()));
    }
    if (c.details.empty()) return;
    CheckScope scope;
    Prepare(c);
    scope.boxes.Answer(platform::MbAnswer::No);
    EXPECT_EQ(check(), -1);
    EXPECT_EQ(scope.boxes.Shown().size(), 1u);
}

auto Keep() {
    return Mutation([](EncoderSettingsRecord&) {});
}

template <typename F>
Mutation Set(F f) {
    return Mutation(f);
}

const std::string kVcdSize = "Frame size must be 352x240 or\n352x288.\n";
const std::string kVcdNtscRate = "For NTSC system, vertical picture size\nmust be 240 and frame rate must be\n29.97.\n";
const std::string kVcdPalRate = "For PAL system vertical picture size \nmust be 288 and frame rate must be 25.";
const std::string kVcdNtscAspect = "For NTSC system, pixel aspect \nratio must be 12.";
const std::string kVcdPalAspect = "For PAL system, pixel aspect \nratio must be 8.";

TEST(ValidateCompliance, VideoCdAndCdiVideo) {
    const QuestionCase cases[] = {
        {"VCD 1.1 NTSC", VcdSettings(kApplicationVcd11), Keep(), {}},
        {"VCD 2.0 NTSC", VcdSettings(kApplicationVcd20), Keep(), {}},
        {"CD-i NTSC", VcdSettings(kApplicationCdi), Keep(), {}},
        {"VCD 2.0 PAL", VcdPalSettings(kApplicationVcd20), Keep(), {}},
        {"size", VcdSettings(kApplicationVcd20),
         Set([](EncoderSettingsRecord& s) { s.horizontalSize = 320; }), {kVcdSize}},
        {"NTSC rate", VcdSettings(kApplicationVcd11),
         Set([](EncoderSettingsRecord& s) { s.frameRateCode = 5; }), {kVcdNtscRate}},
        {"PAL rate", VcdPalSettings(kApplicationCdi),
         Set([](EncoderSettingsRecord& s) { s.frameRateCode = 2; }), {kVcdPalRate}},
        {"NTSC aspect", VcdSettings(kApplicationVcd20), Set([](EncoderSettingsRecord& s) { s.mpeg1AspectRatio = 8; }),
         {kVcdNtscAspect}},
        {"PAL aspect", VcdPalSettings(kApplicationVcd20),
         Set([](EncoderSettingsRecord& s) { s.mpeg1AspectRatio = 12; }),
         {kVcdPalAspect}},
        {"several, in order", VcdSettings(kApplicationVcd11),
         Set([](EncoderSettingsRecord& s) { s.horizontalSize = 320, s.verticalSize = 288; }),
         {kVcdSize, kVcdPalRate, kVcdPalAspect}},
        {"MPEG-2", VcdSettings(kApplicationVcd20), Set([](EncoderSettingsRecord& s) { s.mpeg1 = 0; }),
         {"Must be MPEG-1 video stream."}},
        {"unconstrained", VcdSettings(kApplicationCdi),
         Set([](EncoderSettingsRecord& s) { s.constrainedParameters = 0; }),
         {"MPEG stream must be MPEG-1\nConstrained System Stream.\n"}},
        {"VCD rate at the bound", VcdSettings(kApplicationVcd20),
         Set([](EncoderSettingsRecord& s) { s.bitRate = 1149952.0; }), {}},
        {"VCD rate", VcdSettings(kApplicationVcd20), Set([](EncoderSettingsRecord& s) { s.bitRate = 1150000.0; }),
         {"Video stream data rate must be \nless than or equal to 1123 kbits/sec.\n"}},
        {"VCD 1.1 group", VcdSettings(kApplicationVcd11), Set([](EncoderSettingsRecord& s) { s.gopSize = 12; }),
         {"Frame sequence may be incorrect.\nNumber of P frames in group should be 4."}},
        {"CD-i rate at the bound", VcdSettings(kApplicationCdi),
         Set([](EncoderSettingsRecord& s) { s.bitRate = 1178765.0; }), {}},
        {"CD-i rate", VcdSettings(kApplicationCdi), Set([](EncoderSettingsRecord& s) { s.bitRate = 1178766.0; }),
         {"Video stream data rate must be \nless than or equal to 1144 kbits/sec."}},
        {"CD-i has no group rule", VcdSettings(kApplicationCdi),
         Set([](EncoderSettingsRecord& s) { s.gopSize = 12; }), {}},
    };
    for (const QuestionCase& c : cases) ExpectQuestions(CheckVideoFormatCompliance, c);
}

const std::string kMainOnly = "Only Main Profile & Main Level is permitted.\n";
const std::string kDvdNtscRate =
    "For NTSC system, vertical size must be 480 or 240 \nand frame rate must be 29.97 frames/sec.\n";
const std::string kDvdPalRate =
    "For PAL, system vertical size must be 576 or 288 and\nframe rate must be 25 frames/sec.\n";
const std::string kDvdAspect =
    "Pixel aspect ratio must be 3:4 or 16:9. 3:4 permitted\nfor all picture formats, 9:16 permitted for all "
    "formats\nexcept the formats with horizontal size 352.\n";
const std::string kNtscSource = "If frame rate equals 29.97 frames/sec,\nsource video format NTSC must be selected.\n";
const std::string kPalSource = "If frame rate equals 25 frames/sec., source video\nformat PAL must be selected.\n";

TEST(ValidateCompliance, DvdVideo) {
    const std::string mpeg1Dvd =
        "You have selected MPEG-1 standard for DVD.\nMPEG-1 can be used for DVD, \nbut MPEG-2 is more appropriate.";
    const QuestionCase cases[] = {
        {"NTSC", DvdSettings(), Keep(), {}},
        {"PAL", DvdPalSettings(), Keep(), {}},
        {"NTSC 352x240", DvdSettings(), Set([](EncoderSettingsRecord& s) { s.horizontalSize = 352, s.verticalSize = 240; }),
         {}},
        {"16:9", DvdSettings(), Set([](EncoderSettingsRecord& s) { s.mpeg2AspectRatio = 3; }), {}},
        {"profile", DvdSettings(), Set([](EncoderSettingsRecord& s) { s.mpegProfile = 1; }), {kMainOnly}},
        {"level", DvdPalSettings(), Set([](EncoderSettingsRecord& s) { s.mpegLevel = 4; }), {kMainOnly}},
        {"progressive", DvdSettings(), Set([](EncoderSettingsRecord& s) { s.interlaceMode = 0; }),
         {"Interlaced video format is recommended for DVD.\nYou have selected progressive video format.\n"}},
        {"30 frames/s", DvdSettings(), Set([](EncoderSettingsRecord& s) { s.frameRateCode = 5; }),
         {"Frame rate must be 29.97 for NTSC system or 25 for\nPAL system. No other frame rate is permitted\nfor "
          "DVD.\n",
          kDvdNtscRate}},
        {"size", DvdSettings(), Set([](EncoderSettingsRecord& s) { s.horizontalSize = 640; }),
         {"Unsupported picture size for DVD.  For NTSC system\npermitted picture sizes are 720x480, 704x480, "
          "352x480,\n352x240 for PAL system permitted picture sizes are \n720x576, 704x576, 352x576, 352x288.\n"}},
        {"PAL size at 29.97", DvdPalSettings(), Set([](EncoderSettingsRecord& s) { s.frameRateCode = 4; }),
         {kDvdPalRate, kNtscSource}},
        {"NTSC size at 25", DvdSettings(), Set([](EncoderSettingsRecord& s) { s.frameRateCode = 3; }),
         {kDvdNtscRate, kPalSource}},
        {"square samples", DvdSettings(), Set([](EncoderSettingsRecord& s) { s.mpeg2AspectRatio = 1; }), {kDvdAspect}},
        {"16:9 at 352", DvdPalSettings(),
         Set([](EncoderSettingsRecord& s) { s.horizontalSize = 352, s.mpeg2AspectRatio = 3; }), {kDvdAspect}},
        {"rate at the bound", DvdSettings(), Set([](EncoderSettingsRecord& s) { s.bitRate = 9800000.0; }), {}},
        {"rate", DvdSettings(), Set([](EncoderSettingsRecord& s) { s.bitRate = 9800001.0; }),
         {"Video stream data rate must be less than or equal\nto 9800000 bits/sec.  (9570 kBits/sec.)\n"}},
        {"NTSC group of 18", DvdSettings(), Set([](EncoderSettingsRecord& s) { s.gopSize = 18; }), {}},
        {"NTSC group", DvdSettings(), Set([](EncoderSettingsRecord& s) { s.gopSize = 19; }),
         {"Too many frames in group. According to the DVD\nspecification, the maximum number of frames in\ngroup "
          "for NTSC system is 18.  You must reduce\nthe number of P or B frames in sequence.\n"}},
        {"PAL group of 15", DvdPalSettings(), Set([](EncoderSettingsRecord& s) { s.gopSize = 15; }), {}},
        {"PAL group", DvdPalSettings(), Set([](EncoderSettingsRecord& s) { s.gopSize = 16; }),
         {"Too many frames in group. According to the DVD\nspecification, the maximum number of frames in\ngroup "
          "for PAL system is 15.  You must reduce\nthe number of P or B frames in sequence.\n"}},
        {"NTSC source", DvdSettings(), Set([](EncoderSettingsRecord& s) { s.videoFormat = 1; }), {kNtscSource}},
        {"PAL source", DvdPalSettings(), Set([](EncoderSettingsRecord& s) { s.videoFormat = 3; }), {kPalSource}},
        {"MPEG-1", DvdMpeg1Settings(), Keep(), {mpeg1Dvd}},
        {"MPEG-1 size", DvdMpeg1Settings(), Set([](EncoderSettingsRecord& s) { s.horizontalSize = 320; }),
         {mpeg1Dvd, "In case of MPEG-1 DVD frame size must be 352 x 240 or 352 x 288 "}},
        {"MPEG-1 NTSC", DvdMpeg1Settings(), Set([](EncoderSettingsRecord& s) { s.frameRateCode = 5; }),
         {mpeg1Dvd,
          "In case of MPEG-1 DVD for NTSC system, vertical picture\nsize must be 240 and frame rate must be 29.97."}},
        {"MPEG-1 PAL", DvdMpeg1Settings(), Set([](EncoderSettingsRecord& s) { s.verticalSize = 288; }),
         {mpeg1Dvd,
          "In case of MPEG-1 DVD for PAL system, vertical picture\nsize must be 288 and frame rate must be 25."}},
    };
    for (const QuestionCase& c : cases) ExpectQuestions(CheckVideoFormatCompliance, c);
}

TEST(ValidateCompliance, SvcdVideo) {
    const std::string svcdRate =
        "SVCD standard requires that for NTSC system,\nvertical size must be 480 and frame rate\nmust be 29.97 "
        "frames/sec.\n\nFor PAL system, vertical size must be 576 and\nframe rate must be 25 frames/sec.\n";
    const QuestionCase cases[] = {
        {"NTSC", SvcdSettings(), Keep(), {}},
        {"PAL", SvcdPalSettings(), Keep(), {}},
        {"profile", SvcdSettings(), Set([](EncoderSettingsRecord& s) { s.mpegProfile = 5; }), {kMainOnly}},
        {"progressive", SvcdPalSettings(), Set([](EncoderSettingsRecord& s) { s.interlaceMode = 0; }),
         {"Interlaced video format is required for SVCD.\nYou have selected progressive video format.\n"}},
        {"24 frames/s", SvcdSettings(), Set([](EncoderSettingsRecord& s) { s.frameRateCode = 2; }),
         {"Frame rate must be 29.97 for NTSC system\nor 25 for PAL system. No other frame rate\nis permitted for "
          "SVCD.\n",
          svcdRate}},
        {"size", SvcdSettings(), Set([](EncoderSettingsRecord& s) { s.horizontalSize = 720; }),
         {"SVCD standard requires that horizontal picture \nsize must be equal to 480 and vertical size "
          "equal\nto 480 for NTSC or 576 for PAL.\n"}},
        {"PAL size at 29.97", SvcdPalSettings(), Set([](EncoderSettingsRecord& s) { s.frameRateCode = 4; }),
         {svcdRate, kNtscSource}},
        {"aspect", SvcdSettings(), Set([](EncoderSettingsRecord& s) { s.mpeg2AspectRatio = 4; }),
         {"For SVCD, pixel aspect ratio must be 3:4 or 9:16./n"}},
        {"16:9", SvcdSettings(), Set([](EncoderSettingsRecord& s) { s.mpeg2AspectRatio = 3; }), {}},
        {"rate", SvcdSettings(), Set([](EncoderSettingsRecord& s) { s.bitRate = 2600001.0; }),
         {"For SVCD, video stream data rate must\nbe less than or equal to 2600000 bits/sec.\n(2539 kBits/sec.)\n"}},
        {"NTSC group", SvcdSettings(), Set([](EncoderSettingsRecord& s) { s.gopSize = 24; }),
         {"Too many frames in group. According to the\nSVCD specification, the maximum number of\nframes in group "
          "for NTSC system is 18.  You\nmust reduce the number of P or B frames\nin sequence.\n"}},
        {"PAL group", SvcdPalSettings(), Set([](EncoderSettingsRecord& s) { s.gopSize = 18; }),
         {"Too many frames in group. According to the\nSVCD specification, the maximum number of\nframes in group "
          "for PAL system is 15.  You\nmust reduce the number of P or B frames\nin sequence.\n"}},
        {"source", SvcdPalSettings(), Set([](EncoderSettingsRecord& s) { s.videoFormat = 2; }), {kPalSource}},
        {"MPEG-1", [] { EncoderSettingsRecord s = VcdSettings(kApplicationSvcd); return s; }(), Keep(),
         {"You have selected MPEG-1 standard for SVCD.  The\nSVCD standard requires MPEG-2 format.\nOutput file will "
          "not conform SVCD specification.\n"}},
    };
    for (const QuestionCase& c : cases) ExpectQuestions(CheckVideoFormatCompliance, c);
}

TEST(ValidateCompliance, OtherApplicationTypesAskNothing) {
    for (int type : {kApplicationNone, 4, 15, 18}) {
        EncoderSettingsRecord s = VcdSettings(kApplicationVcd20);
        s.applicationType = type;
        s.horizontalSize = 320;
        s.muxPackSize = 2048;
        s.audioSampleRate = 32000;
        const QuestionCase c = {"other type", s, Keep(), {}};
        ExpectQuestions(CheckVideoFormatCompliance, c);
        ExpectQuestions(CheckAudioCompliance, c);
        ExpectQuestions(CheckMuxSectorSize, c);
    }
}

TEST(ValidateCompliance, Audio) {
    const std::string total =
        "Bit rate of video stream + bit rate of \naudio stream is greater than maximum \npermitted total bit rate of "
        "1411200 bits/sec.\n";
    const std::string vcdRate =
        "Audio sample rate must be 44100Hz,\n22050Hz or 11025Hz. Sample rate 48kHz\nis not permitted for VCD. This "
        "program\ncan not resample input audio data.\n";
    const QuestionCase cases[] = {
        {"VCD 1.1", VcdSettings(kApplicationVcd11), Keep(), {}},
        {"VCD 1.1 mono", VcdSettings(kApplicationVcd11), Set([](EncoderSettingsRecord& s) { s.audioMode = 0; }),
         {"Audio stream must be 224 kbit/sec stereo."}},
        // 256 kbit/s breaks both the audio rule and the total of 1340640 bit/s.
        {"VCD 1.1 256 kbit/s", VcdSettings(kApplicationVcd11),
         Set([](EncoderSettingsRecord& s) { s.audioBitRateIndex = 7; }),
         {"Audio stream must be 224 kbit/sec stereo.", total}},
        {"VCD 1.1 total at the bound", VcdSettings(kApplicationVcd11),
         Set([](EncoderSettingsRecord& s) { s.bitRate = 1111264.0; }),
         {}},
        {"VCD 1.1 total", VcdSettings(kApplicationVcd11),
         Set([](EncoderSettingsRecord& s) { s.bitRate = 1111265.0; }), {total}},
        {"VCD 2.0 joint stereo", VcdSettings(kApplicationVcd20),
         Set([](EncoderSettingsRecord& s) { s.audioMode = 3; }), {}},
        {"VCD 2.0 mono", VcdSettings(kApplicationVcd20), Set([](EncoderSettingsRecord& s) { s.audioMode = 0; }),
         {"VideoCD specification requires one of\nthe following audio formats: Stereo,\nDual Channel, or Joint "
          "Stereo, bit rate\nmust be 224 KBits/sec. \n\nMono audio format is not permitted for\nVCD.  This program "
          "does not convert\nmono audio to stereo.\n"}},
        {"VCD 2.0 total at the bound", VcdSettings(kApplicationVcd20),
         Set([](EncoderSettingsRecord& s) { s.bitRate = 1181824.0; }),
         {}},
        {"VCD 2.0 total", VcdSettings(kApplicationVcd20),
         Set([](EncoderSettingsRecord& s) { s.bitRate = 1181825.0; }), {total}},
        {"CD-i mono", VcdSettings(kApplicationCdi), Set([](EncoderSettingsRecord& s) { s.audioMode = 0; }), {}},
        {"CD-i total", VcdSettings(kApplicationCdi),
         Set([](EncoderSettingsRecord& s) { s.bitRate = 1111265.0; }), {total}},
        {"VCD 48 kHz", VcdSettings(kApplicationVcd20),
         Set([](EncoderSettingsRecord& s) { s.audioSampleRate = 48000; }), {vcdRate}},
        {"CD-i 22.05 kHz", VcdSettings(kApplicationCdi),
         Set([](EncoderSettingsRecord& s) { s.audioSampleRate = 22050; }), {}},
        {"VCD 1.1 11.025 kHz", VcdSettings(kApplicationVcd11),
         Set([](EncoderSettingsRecord& s) { s.audioSampleRate = 11025; }), {}},
        {"DVD", DvdSettings(), Keep(), {}},
        {"DVD 44.1 kHz", DvdSettings(), Set([](EncoderSettingsRecord& s) { s.audioSampleRate = 44100; }),
         {"DVD audio format requires 48 kHz audio sampling rate.\nAudio sampling rate in the input file is not "
          "valid.  This\nprogram cannot convert audio sampling rate.\n"}},
        {"SVCD", SvcdSettings(), Keep(), {}},
        {"SVCD 48 kHz", SvcdSettings(), Set([](EncoderSettingsRecord& s) { s.audioSampleRate = 48000; }),
         {"SVCD audio format requires 44.1kHz audio\nsampling rate. Audio sampling rate in the\ninput file will not "
          "be converted to that\nfrequency. Output file will remain at 48kHz\nsample rate.\n"}},
    };
    for (const QuestionCase& c : cases) ExpectQuestions(CheckAudioCompliance, c);
}

TEST(ValidateCompliance, AudioRateFollowsModeAndIndex) {
    CheckScope scope;
    EncoderSettings = VcdSettings(kApplicationVcd20);
    EncoderSettings.audioBitRate = 32;
    EXPECT_EQ(CheckAudioCompliance(), 0);
    EXPECT_EQ(EncoderSettings.audioBitRate, 224);
}

TEST(ValidateCompliance, MuxSectorSize) {
    const std::string sector = "Sector size in the multiplexed system \nstream must be 2324 bytes.";
    const QuestionCase cases[] = {
        {"VCD 1.1", VcdSettings(kApplicationVcd11), Keep(), {}},
        {"VCD 2.0 2048", VcdSettings(kApplicationVcd20),
         Set([](EncoderSettingsRecord& s) { s.muxPackSize = 2048; }), {sector}},
        {"CD-i 2048", VcdSettings(kApplicationCdi),
         Set([](EncoderSettingsRecord& s) { s.muxPackSize = 2048; }), {sector}},
        {"DVD 2048", DvdMpeg1Settings(), Keep(), {}},
    };
    for (const QuestionCase& c : cases) ExpectQuestions(CheckMuxSectorSize, c);
}

// Three problems: frame size, PAL rate and PAL aspect of a 320 x 288 picture at 29.97.
EncoderSettingsRecord ThreeProblemVcd(int type) {
    EncoderSettingsRecord s = VcdSettings(type);
    s.horizontalSize = 320;
    s.verticalSize = 288;
    return s;
}

std::string SummaryText(const char* disc, bool suppressed, bool interactive) {
    std::string text = std::string("Program has detected that encoding parameters \ndo not conform to ") + disc +
                       " specification. The output\nfile will not be valid for " + disc + ".\n";
    if (suppressed)
        text += "\nIf you want to read more information about errors, \nplease uncheck option 'Suppress Warning "
                "Messages'\nand try encoding again.\n";
    if (interactive) text += "\nPress YES if you wish to continue or press NO \nto stop encoding.";
    return text;
}

TEST(ValidateCompliance, BatchModeLogsEveryQuestionAndTheSummary) {
    CheckScope scope;
    scope.UseBatchLog();
    EncoderSettings = ThreeProblemVcd(2);
    EXPECT_EQ(CheckVideoFormatCompliance(), 0);
    EXPECT_EQ(ComplianceWarningCount, 3);
    EXPECT_EQ(ReportComplianceSummary(), 0);
    EXPECT_TRUE(scope.boxes.Shown().empty());
    const std::string entry = "Batch File /videos/holiday.avi Constrained message:\n" + std::string(Heading(2));
    EXPECT_EQ(scope.BatchLog(), entry + kVcdSize + "\n" + entry + kVcdPalRate + "\n" + entry + kVcdPalAspect + "\n" +
                                    "WARNING:\n" + SummaryText("VCD", false, false));
}

TEST(ValidateCompliance, SuppressedWarningsCountAndAskOnce) {
    struct Case {
        int type;
        const char* disc;  // null: no summary for this type
    };
    const Case cases[] = {{2, "VCD"}, {1, nullptr}, {3, nullptr}, {16, "DVD"}, {17, "SVCD"}};
    for (const Case& c : cases) {
        for (auto answer : {platform::MbAnswer::Yes, platform::MbAnswer::No}) {
            SCOPED_TRACE(c.type);
            CheckScope scope;
            EncoderSettings = ThreeProblemVcd(c.type);
            if (c.type == 16) EncoderSettings = DvdSettings(), EncoderSettings.horizontalSize = 640;
            if (c.type == 17) EncoderSettings = SvcdSettings(), EncoderSettings.horizontalSize = 640;
            EncoderSettings.suppressWarnings = 1;
            EXPECT_EQ(CheckVideoFormatCompliance(), 0);
            EXPECT_GT(ComplianceWarningCount, 0);
            EXPECT_TRUE(scope.boxes.Shown().empty());
            scope.boxes.Answer(answer);
            const int result = ReportComplianceSummary();
            if (!c.disc) {
                EXPECT_EQ(result, 0);
                EXPECT_TRUE(scope.boxes.Shown().empty());
                continue;
            }
            EXPECT_EQ(result, answer == platform::MbAnswer::Yes ? 0 : -1);
            ASSERT_EQ(scope.boxes.Shown().size(), 1u);
            EXPECT_EQ(scope.boxes.Shown()[0].text, SummaryText(c.disc, true, true));
            EXPECT_EQ(scope.boxes.Shown()[0].caption, "Tessmar");
            EXPECT_EQ(scope.boxes.Shown()[0].buttons, platform::MbButtons::YesNo);
            EXPECT_EQ(scope.boxes.Shown()[0].icon, platform::MbIcon::Warning);
        }
    }
}

TEST(ValidateCompliance, SummaryAfterAskedQuestionsOrWithoutProblems) {
    CheckScope scope;
    // The user already answered each question: the summary asks nothing more.
    EncoderSettings = ThreeProblemVcd(2);
    EXPECT_EQ(CheckVideoFormatCompliance(), 0);
    EXPECT_EQ(scope.boxes.Shown().size(), 3u);
    EXPECT_EQ(ReportComplianceSummary(), 0);
    EXPECT_EQ(scope.boxes.Shown().size(), 3u);

    // A clean check resets the count left by the previous job.
    EncoderSettings = VcdSettings(kApplicationVcd20);
    EncoderSettings.suppressWarnings = 1;
    EXPECT_EQ(CheckVideoFormatCompliance(), 0);
    EXPECT_EQ(ComplianceWarningCount, 0);
    EXPECT_EQ(ReportComplianceSummary(), 0);
    EXPECT_EQ(scope.boxes.Shown().size(), 3u);

    // Suppressed in a batch: the log gets the summary with the hint.
    scope.UseBatchLog();
    EncoderSettings = ThreeProblemVcd(2);
    EncoderSettings.suppressWarnings = 1;
    EXPECT_EQ(CheckVideoFormatCompliance(), 0);
    EXPECT_EQ(ReportComplianceSummary(), 0);
    EXPECT_EQ(scope.BatchLog(), "WARNING:\n" + SummaryText("VCD", true, false));
}

TEST(ValidateCompliance, DetailsBeyondWhatAQuestionTakes) {
    CheckScope scope;
    EncoderSettings = VcdSettings(kApplicationVcd20);
    const std::string longest(299, 'x'), tooLong(300, 'x');
    EXPECT_EQ(AskContinueAfterComplianceWarning(longest), 1);
    EXPECT_EQ(AskContinueAfterComplianceWarning(tooLong), 1);
    EXPECT_EQ(AskContinueAfterMpegWarning(std::string(1000, 'y')), 1);
    EXPECT_EQ(AskContinueAfterMpegWarning(""), 1);
    const std::string question = "\nDo you wish to continue anyway ?";
    EXPECT_EQ(scope.boxes.Texts(), (std::vector<std::string>{Heading(2) + longest + question, Heading(2) + question}));
    EXPECT_EQ(ComplianceWarningCount, 2);
}

}  // namespace
