// The main form's arithmetic without a window: extension rules, typed output
// names, temporary names, the Video-CD preset and the checks' order and texts.
#include <gtest/gtest.h>

#include "app/AppSettings.h"
#include "app/FormLogic.h"
#include "app/FormPresets.h"
#include "job/Profile.h"
#include "platform/Ini.h"
#include "platform/MessageBox.h"
#include "platform/ResStrings.h"
#include "tests/support/TestSupport.h"

namespace {

std::string Replaced(const std::string& name, const std::string& extension, int* result = nullptr) {
    std::string out = "untouched";
    const int r = ReplaceFileExtension(name, extension, &out);
    if (result) *result = r;
    return out;
}

TEST(FormNamesTest, ExtensionRulesLookOnlyAtTheLastComponent) {
    EXPECT_EQ(Replaced("/home/u/v1.2/clip", ".mpg"), "/home/u/v1.2/clip.mpg");
    EXPECT_EQ(Replaced("my.clip.v1", ".mpg"), "my.clip.mpg");
    EXPECT_EQ(Replaced("/v/Take.AVI", ".m2v"), "/v/Take.m2v");
    EXPECT_EQ(Replaced("/v/a.b/.hidden", ".mpg"), "/v/a.b/.hidden.mpg");
    EXPECT_EQ(Replaced("out.mpg", "_.mp2"), "out_.mp2");
    int r = -1;
    EXPECT_EQ(Replaced("x", ".mpg", &r), "deftemp_err.tmp");
    EXPECT_EQ(r, 0);
    EXPECT_EQ(Replaced("clip", ".", &r), "deftemp_err.tmp");
    EXPECT_EQ(Replaced(std::string(255, 'a'), ".mpg", &r), "untouched");
    EXPECT_EQ(r, 0);
    EXPECT_FALSE(HasFileExtension("/home/u/v1.2/clip"));
    EXPECT_TRUE(HasFileExtension("my.clip.v1"));
}

TEST(FormNamesTest, TypedOutputNamesGetTheirStreamExtension) {
    testsupport::TempDir dir;
    EXPECT_EQ(NormaliseTypedOutputName("m1video", kStreamMpeg1, true), "m1video.mpg");
    EXPECT_EQ(NormaliseTypedOutputName("clipm1v", kStreamMpeg1, false), "clip.m1v");
    EXPECT_EQ(NormaliseTypedOutputName("/a//b/clip", kStreamMpeg1, true), "/a/b/clip.mpg");
    EXPECT_EQ(NormaliseTypedOutputName("/a/v1.2/clipm2v", kStreamMpeg2, false), "/a/v1.2/clip.m2v");
    EXPECT_EQ(NormaliseTypedOutputName("keep.mpg", kStreamMpeg2, true), "keep.mpg");
    EXPECT_EQ(NormaliseTypedOutputName("clipprg", kStreamMpeg2, true), "clip.prg");
    // The MPEG-2 extension comes from the program file.
    ASSERT_TRUE(platform::IniWriteString(kSettingsSection, "MPEG2 extension", "vob", ProgramIniFileName()));
    EXPECT_EQ(MainOutputExtension(kStreamMpeg2, true), ".vob");
    EXPECT_EQ(NormaliseTypedOutputName("clipvob", kStreamMpeg2, true), "clip.vob");
    EXPECT_EQ(ProposeOutputName("/in/a.b/take.avi", "/out/", kStreamMpeg2, true), "/out/take.vob");
    EXPECT_EQ(ProposeOutputName("/in/a.b/take.avi", "", kStreamMpeg1, false), "/in/a.b/take.m1v");

    std::string name = "/o/film.mpg";
    EXPECT_TRUE(DeriveOutputName(&name, kStreamMpeg2, false));
    EXPECT_EQ(name, "/o/film.m2v");
    EXPECT_FALSE(DeriveOutputName(&name, kStreamNone, false));
    EXPECT_EQ(name, "/o/film.m2v");
}

TEST(FormNamesTest, TemporaryNamesOnlyForAnInputWithAudio) {
    FormCoding s;
    s.tempVideoFileName = "v";
    DeriveTemporaryNames("/o/take.prg", kStreamMpeg2, false, &s);
    EXPECT_EQ(s.tempVideoFileName, "v");
    DeriveTemporaryNames("/o/take.prg", kStreamMpeg2, true, &s);
    EXPECT_EQ(s.tempVideoFileName, "/o/take_.m2v");
    EXPECT_EQ(s.tempAudioFileName, "/o/take_.mp2");
    DeriveTemporaryNames("/o/take.mpg", kStreamMpeg1, true, &s);
    EXPECT_EQ(s.tempVideoFileName, "/o/take_.m1v");
}

TEST(VcdPresetTest, SystemFromHeightOrRateAndSnapshotRestores) {
    FormValues f;
    f.width = 320;
    f.height = 200;
    f.frameRateIndex = 0;  // 23.976
    EXPECT_FALSE(VcdSystemKnown(f.height, f.frameRateIndex));
    const FormValues before = f;
    EXPECT_FALSE(ApplyVcdPreset(&f, 2));
    EXPECT_EQ(f.width, before.width);
    EXPECT_EQ(f.coding.applicationType, kApplicationNone);

    // 200 lines at 30 frames/s: NTSC.
    f.frameRateIndex = kRateIndex30;
    ASSERT_TRUE(ApplyVcdPreset(&f, 2));
    EXPECT_EQ(f.height, 240);
    EXPECT_EQ(f.frameRateIndex, kRateIndex2997);
    EXPECT_EQ(f.coding.mpeg1AspectRatio, 12);

    f = FormValues{};
    f.width = 720;
    f.height = 576;
    f.frameRateIndex = 0;
    f.bitRateKbit = 4000;
    FormCoding& s = f.coding;
    s.rateControl = kRateVariable;
    const VcdSnapshot snap = TakeVcdSnapshot(f);
    ASSERT_TRUE(ApplyVcdPreset(&f, 1));
    EXPECT_EQ(f.width, 352);
    EXPECT_EQ(f.height, 288);
    EXPECT_EQ(f.frameRateIndex, kRateIndex25);
    EXPECT_EQ(f.bitRateKbit, 1123);
    EXPECT_EQ(s.streamType, kStreamTypeVideoCd);
    EXPECT_EQ(s.applicationType, kApplicationVcd20);
    EXPECT_EQ(s.mpeg1AspectRatio, 8);
    EXPECT_EQ(s.muxPackSize, 2324);
    EXPECT_EQ(s.rateControl, kRateConstant);
    EXPECT_EQ(s.audioMode, 0);  // mono input stays mono
    EXPECT_EQ(s.audioBitRateIndex, 6);
    EXPECT_EQ(s.ipDistance, 3);
    EXPECT_EQ(s.gopSize, 15);

    RestoreVcdSnapshot(snap, &f);
    EXPECT_EQ(f.width, 720);
    EXPECT_EQ(f.height, 576);
    EXPECT_EQ(f.frameRateIndex, 0);
    EXPECT_EQ(f.bitRateKbit, 4000);
    EXPECT_EQ(s.rateControl, kRateVariable);
    EXPECT_EQ(s.muxPackSize, 2048);
    EXPECT_EQ(s.gopSize, 12);
    EXPECT_EQ(s.applicationType, kApplicationNone);

    // Every store writes all the form holds, whatever the settings held: the
    // SVCD of an earlier store does not outlive the MPEG-1 shown now, nor a
    // value the settings got elsewhere the form's own.
    EncoderSettingsRecord e;
    FormValues shown = FormValuesFromSettings(e);
    TakenInput input;
    input.hasAudio = true;
    shown.streamKind = kStreamMpeg2;
    shown.svcd = 1;
    StoreFormValues(&shown, input, &e);
    EXPECT_EQ(e.applicationType, kApplicationSvcd);
    EXPECT_EQ(e.inputHasAudio, 1);
    shown.streamKind = kStreamMpeg1;
    shown.svcd = 0;
    ChooseMpeg1(&shown);
    shown.coding.gopSize = 15;
    e.audioMode = shown.coding.audioMode + 1;
    StoreFormValues(&shown, input, &e);
    EXPECT_EQ(e.applicationType, kApplicationNone);
    EXPECT_EQ(e.mpeg1, 1);
    EXPECT_EQ(e.gopSize, 15);
    EXPECT_EQ(e.audioMode, shown.coding.audioMode);
}

FormValues ValidForm(const testsupport::TempDir& dir) {
    FormValues f;
    f.streamKind = kStreamMpeg1;
    f.width = 352;
    f.height = 288;
    f.inputName = (dir / "in.avi").string();
    f.outputName = (dir / "out.mpg").string();
    return f;
}

TEST(FormValidationTest, ChecksInOrderWithTheirTexts) {
    testsupport::TempDir dir;
    testsupport::WriteFile(dir / "in.avi", "RIFF");
    platform::ScriptedMessageBoxes boxes;
    EncoderSettingsRecord s;
    int browse = 0;
    const auto check = [&](const FormValues& f, bool ok = true, bool defaults = false) {
        boxes.Clear();
        return ValidateFormValues(f, ok, defaults, &s, [&] { ++browse; });
    };
    const auto only = [&] { return boxes.Texts().size() == 1 ? boxes.Texts()[0] : std::string("?"); };

    FormValues f = ValidForm(dir);
    EXPECT_EQ(check(f), 1);
    EXPECT_TRUE(boxes.Texts().empty());
    EXPECT_EQ(s.inputType, 2);

    f.streamKind = kStreamNone;
    EXPECT_EQ(check(f), 0);
    EXPECT_EQ(only(), "MPEG stream type not specified.  Please check Mpeg-1 or Mpeg-2. ");
    f = ValidForm(dir);
    f.width = 15;  // too small comes before odd
    EXPECT_EQ(check(f), 0);
    EXPECT_EQ(only(), "Horizontal size must be at least 16.\nPlease correct picture size.");
    f.width = 17;
    EXPECT_EQ(check(f), 0);
    EXPECT_EQ(only(), "Horizontal size must be multiple of 2.\nPlease correct picture size.");
    f = ValidForm(dir);
    f.frames = 0;
    EXPECT_EQ(check(f), 0);
    EXPECT_EQ(only(), "Number of frames to encode must be at least 1.\nPlease correct number of frames.");
    f = ValidForm(dir);
    f.outputName = "o";
    EXPECT_EQ(check(f), 0);
    EXPECT_EQ(only(), "Output file name not specified.\nPlease specify valid output file name.");

    // Saving defaults keeps no file names: empty ones pass.
    f = ValidForm(dir);
    f.inputName.clear();
    f.outputName.clear();
    EXPECT_EQ(check(f, true, true), 1);

    // An input that is not an AVI file: Yes asks for another one.
    f = ValidForm(dir);
    f.inputName = (dir / "in.yuv").string();
    boxes.Answer(platform::MbAnswer::Yes);
    EXPECT_EQ(check(f), 0);
    EXPECT_EQ(only(), "Input file name does not have '.avi' extension.\n\nDo you want to select another input file?");
    EXPECT_EQ(browse, 1);
    boxes.Answer(platform::MbAnswer::No);
    EXPECT_EQ(check(f), 1);

    f = ValidForm(dir);
    f.inputName = (dir / "missing.avi").string();
    EXPECT_EQ(check(f), 0);
    EXPECT_EQ(only(), "Input AVI file cannot be accessed.\nPlease specify valid input file name and location.");
    EXPECT_EQ(browse, 2);

    // An edit without a number in its range, after every other check.
    EXPECT_EQ(check(ValidForm(dir), false), 0);
    EXPECT_EQ(only(), "Some initial parameters are not valid. Please verify encoding\nparameters and try again.");
    EXPECT_EQ(boxes.Shown()[0].icon, platform::MbIcon::Stop);
}

TEST(FormValidationTest, EditsParseAsWholeNumbersInRange) {
    int v = -1;
    EXPECT_TRUE(ParseFormInteger(" 352 ", 0, 10000, &v));
    EXPECT_EQ(v, 352);
    EXPECT_FALSE(ParseFormInteger("12x", 0, 10000, &v));
    EXPECT_FALSE(ParseFormInteger("", 0, 10000, &v));
    EXPECT_EQ(v, 0);
    EXPECT_FALSE(ParseFormInteger("0", 1, 1000000, &v));
    EXPECT_EQ(v, 0);
    EXPECT_FALSE(ParseFormInteger("99999999999", 0, 102400, &v));
    TakenInput taken;  // a typed input name is probed unless it is the one taken
    taken.Take("a.avi");
    EXPECT_FALSE(TypedInputNeedsProbe("a.avi", taken) || TypedInputNeedsProbe("x", taken));
    EXPECT_TRUE(TypedInputNeedsProbe("b.avi", taken));
    taken.Forget();  // a failed open: the same name is probed again
    EXPECT_TRUE(TypedInputNeedsProbe("a.avi", taken));
}

TEST(FormLocationTest, MissingFolderUnwritableFileAndCreatableName) {
    testsupport::TempDir dir;
    EXPECT_EQ(CheckFileLocation((dir / "none/out.mpg").string()).fault, LocationFault::FolderMissing);
    const std::string fresh = (dir / "out.mpg").string();
    const LocationCheck ok = CheckFileLocation(fresh);
    EXPECT_EQ(ok.fault, LocationFault::None);
    EXPECT_FALSE(ok.existed);
    EXPECT_FALSE(std::filesystem::exists(fresh));  // the probe file is gone again
    testsupport::WriteFile(fresh, "keep");
    EXPECT_TRUE(CheckFileLocation(fresh).existed);
    EXPECT_EQ(testsupport::ReadFile(fresh), "keep");
}

}  // namespace
