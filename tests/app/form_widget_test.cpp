// The main settings form driven through its controls, offscreen: choosing an
// ffmpeg-made AVI, the stream formats and their names, the Video-CD preset,
// the checks' messages, the store into the settings and a profile, and the
// advanced settings sheet opened from the form.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <vector>

#include "app/AppSettings.h"
#include "app/CAdvancedSettingsSheet.h"
#include "app/CMainSettingsForm.h"
#include "job/JobDriver.h"
#include "job/Profile.h"
#include "platform/Ini.h"
#include "platform/MessageBox.h"
#include "platform/ResStrings.h"
#include "settings/EncoderSettings.h"
#include "settings/Report.h"
#include "tests/support/QtTestSupport.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using testsupport::RunCommand;

namespace {

using qttest::App;

class FormTest : public ::testing::Test {
protected:
    void SetUp() override {
        App();
        if (!testsupport::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
        ReadProfile("+");
        fs::create_directories(dir_ / "out");
        ASSERT_TRUE(SetMainMpegOutputDirectory((dir_ / "out").string() + "/"));
        SetFormFileDialogHook([this](QWidget*, FormFileDialogRequest* r) {
            lastDialog_ = *r;
            if (chosen_.empty()) return false;
            r->name = chosen_;
            return true;
        });
        form_ = std::make_unique<CMainSettingsForm>();
        form_->LoadDefaultProfile();
    }
    void TearDown() override {
        form_.reset();
        SetFormFileDialogHook({});
    }

    template <class T>
    T* Get(const char* id) {
        return qttest::Control<T>(form_.get(), id);
    }
    std::string Text(const char* id) { return Get<QLineEdit>(id)->text().toStdString(); }
    void Type(const char* id, const std::string& text) { Get<QLineEdit>(id)->setText(QString::fromStdString(text)); }
    void Click(const char* id) { Get<QAbstractButton>(id)->click(); }

    // An AVI of 352 x 288 at 25 frames/s, 10 frames, with stereo sound unless `silent`.
    std::string MakeAvi(const std::string& name, bool silent = false, const char* size = "352x288", int channels = 2) {
        const std::string file = (dir_ / name).string();
        const std::string sound = silent ? "" : " -f lavfi -i sine=frequency=440:sample_rate=44100 -c:a pcm_s16le -ac " +
                                                    std::to_string(channels);
        EXPECT_EQ(RunCommand(std::string("ffmpeg -v error -y -f lavfi -i testsrc2=size=") + size + ":rate=25" + sound +
                             " -t 0.4 -c:v mjpeg '" + file + "'"),
                  0);
        return file;
    }
    void Choose(const std::string& file) {
        chosen_ = file;
        Click("1002");
        chosen_.clear();
    }
    std::string Out(const std::string& name) { return (dir_ / "out" / name).string(); }

    testsupport::TempDir dir_;
    platform::ScriptedMessageBoxes boxes_;
    std::unique_ptr<CMainSettingsForm> form_;
    std::string chosen_;
    FormFileDialogRequest lastDialog_;
};

TEST_F(FormTest, ChoosingAnAviFillsTheFormAndNamesEachOutputKind) {
    ASSERT_TRUE(platform::IniWriteString(kSettingsSection, "MPEG2 extension", ".vob", ProgramIniFileName()));
    const std::string avi = MakeAvi("take.avi");
    Click("1011");
    Choose(avi);
    EXPECT_EQ(lastDialog_.title, "Input AVI File Name");
    EXPECT_EQ(Text("1001"), avi);
    EXPECT_EQ(Text("1003"), "352");
    EXPECT_EQ(Text("1007"), "288");
    EXPECT_EQ(Text("1004"), "10");
    EXPECT_EQ(Text("1005"), Out("take.mpg"));
    EXPECT_TRUE(Get<QCheckBox>("1062")->isChecked());
    EXPECT_TRUE(Get<QCheckBox>("1148")->isEnabled());
    EXPECT_EQ(form_->Values().coding.tempVideoFileName, Out("take_.m1v"));
    EXPECT_EQ(form_->Values().coding.tempAudioFileName, Out("take_.mp2"));
    EXPECT_TRUE(boxes_.Texts().empty());

    // Video-CD: the preset takes the PAL system from the 288 lines.
    Get<QComboBox>("1013")->setCurrentIndex(0);
    Click("1148");
    EXPECT_EQ(Get<QComboBox>("1013")->currentText().toStdString(), "25");
    EXPECT_EQ(Text("1005"), Out("take.mpg"));
    Click("1148");

    // MPEG-2 takes the program file's extension; SVCD and DVD exclude each other.
    Click("1012");
    EXPECT_EQ(Text("1005"), Out("take.vob"));
    EXPECT_EQ(form_->Values().coding.tempVideoFileName, Out("take_.m2v"));
    EXPECT_FALSE(Get<QCheckBox>("1148")->isEnabled());
    Click("1169");
    ASSERT_EQ(form_->ApplyToParameters(), 1);
    EXPECT_EQ(EncoderSettings.applicationType, kApplicationSvcd);
    EXPECT_EQ(EncoderSettings.outputFileName, Out("take.vob"));
    Click("1168");
    EXPECT_FALSE(Get<QCheckBox>("1169")->isChecked());
    ASSERT_EQ(form_->ApplyToParameters(), 1);
    EXPECT_EQ(EncoderSettings.applicationType, kApplicationDvd);
    // Back to MPEG-1 clears both.
    Click("1011");
    EXPECT_FALSE(Get<QCheckBox>("1168")->isChecked());
    EXPECT_FALSE(Get<QCheckBox>("1168")->isEnabled());

    // Without sound: elementary stream extensions, and no audio to encode.
    const std::string mute = MakeAvi("mute.avi", true, "320x240");
    Choose(mute);
    EXPECT_EQ(Text("1003"), "320");
    EXPECT_EQ(Text("1007"), "240");
    EXPECT_EQ(Text("1005"), Out("mute.m1v"));
    EXPECT_FALSE(Get<QCheckBox>("1062")->isChecked());
    EXPECT_FALSE(Get<QCheckBox>("1062")->isEnabled());
    Click("1012");
    EXPECT_EQ(Text("1005"), Out("mute.m2v"));
    EXPECT_TRUE(boxes_.Texts().empty());

    // A name typed into the input edit is taken with Enter.
    Type("1001", avi);
    // What the edit signals on Enter (a synthetic key event would leave a keyboard device behind the application).
    emit Get<QLineEdit>("1001")->returnPressed();
    EXPECT_EQ(Text("1003"), "352");
    EXPECT_EQ(Text("1005"), Out("take.vob"));
    // The AVI information of a name typed but not taken: the form keeps the sound of the input it took.
    Type("1001", mute);
    AviInfoTexts info;
    ASSERT_EQ(CheckAviHasVideo(mute, &info), 1);
    Click("1006");
    EXPECT_EQ(lastDialog_.defaultExtension, "vob");

    // Tab walks the form as it reads: row by row, left to right.
    const std::vector<std::string> order{"1001", "1002", "1105", "1005", "1006", "1106", "1003",
                                         "1007", "1004", "1009", "1013", "1014", "1164", "1016",
                                         "1011", "1012", "1148", "1168", "1169", "1062"};
    std::vector<std::string> walked;
    QWidget* w = Get<QLineEdit>("1001");
    for (size_t step = 0; step < 100 && walked.size() < order.size(); ++step, w = w->nextInFocusChain())
        if (const std::string id = w->objectName().toStdString(); std::count(order.begin(), order.end(), id))
            walked.push_back(id);
    EXPECT_EQ(walked, order);
}

TEST_F(FormTest, InputsThatAreNoVideoAreRefused) {
    Click("1011");
    const int beeps = platform::BeepCount();
    const std::string sound = (dir_ / "sound.avi").string();
    ASSERT_EQ(RunCommand("ffmpeg -v error -y -f lavfi -i sine=sample_rate=44100 -t 0.2 -c:a pcm_s16le '" + sound + "'"),
              0);
    EXPECT_EQ(form_->SetInputFile(sound), 0);
    EXPECT_EQ(form_->SetInputFile((dir_ / "missing.avi").string()), 0);
    EXPECT_EQ(platform::BeepCount(), beeps);
    EXPECT_EQ(Text("1001"), "");

    boxes_.Clear();
    EXPECT_EQ(form_->SetInputFile((dir_ / "clip.mov").string()), 0);
    ASSERT_EQ(boxes_.Texts().size(), 1u);
    EXPECT_EQ(boxes_.Texts()[0],
              "Input file name does not have '.avi' extension.\n\nPlease select valid AVI file to import.");
}

TEST_F(FormTest, VideoCdPresetAppliesAndUntickingRestores) {
    Click("1011");
    Choose(MakeAvi("pal.avi"));
    Type("1003", "320");
    Type("1007", "200");
    Get<QComboBox>("1013")->setCurrentIndex(0);
    boxes_.Clear();
    Click("1148");
    ASSERT_EQ(boxes_.Texts().size(), 1u);
    EXPECT_EQ(boxes_.Texts()[0], kVcdSystemUnknownText);
    EXPECT_FALSE(Get<QCheckBox>("1148")->isChecked());
    EXPECT_EQ(Text("1003"), "320");

    Type("1003", "704");
    Type("1007", "576");
    Type("1014", "3000");
    const int packSize = EncoderSettings.muxPackSize, gop = EncoderSettings.gopSize;
    Click("1148");
    EXPECT_TRUE(Get<QCheckBox>("1148")->isChecked());
    EXPECT_EQ(Text("1003"), "352");
    EXPECT_EQ(Text("1007"), "288");
    EXPECT_EQ(Text("1014"), "1123");
    EXPECT_FALSE(Get<QLineEdit>("1014")->isEnabled());  // Video-CD has a fixed rate
    EXPECT_EQ(Get<QComboBox>("1013")->currentText().toStdString(), "25");
    ASSERT_EQ(form_->ApplyToParameters(), 1);
    EXPECT_EQ(EncoderSettings.applicationType, kApplicationVcd20);
    EXPECT_EQ(EncoderSettings.muxPackSize, 2324);
    EXPECT_EQ(EncoderSettings.gopSize, 15);
    EXPECT_EQ(EncoderSettings.horizontalSize, 352);
    EXPECT_EQ(EncoderSettings.frameRateCode, 3);
    EXPECT_EQ(EncoderSettings.bitRate, 1123 * 1024.0);

    Click("1148");
    EXPECT_EQ(Text("1003"), "704");
    EXPECT_EQ(Text("1007"), "576");
    EXPECT_EQ(Text("1014"), "3000");
    EXPECT_EQ(Get<QComboBox>("1013")->currentIndex(), 0);
    ASSERT_EQ(form_->ApplyToParameters(), 1);
    EXPECT_EQ(EncoderSettings.applicationType, kApplicationNone);
    EXPECT_EQ(EncoderSettings.streamType, kStreamTypeMpeg1);
    EXPECT_EQ(EncoderSettings.muxPackSize, packSize);
    EXPECT_EQ(EncoderSettings.gopSize, gop);

    // Switching the sound off takes the preset away.
    Click("1148");
    Click("1062");
    EXPECT_FALSE(Get<QCheckBox>("1148")->isChecked());
    EXPECT_FALSE(Get<QCheckBox>("1148")->isEnabled());
    EXPECT_EQ(Text("1003"), "704");
    EXPECT_EQ(Text("1005"), Out("pal.m1v"));
}

TEST_F(FormTest, ChecksShowTheirMessagesAndStoreNothing) {
    Click("1011");
    Choose(MakeAvi("in.avi"));
    const int width = EncoderSettings.horizontalSize;
    const auto refused = [&](const char* id, const std::string& text, const std::string& message) {
        const std::string before = Text(id);
        Type(id, text);
        boxes_.Clear();
        EXPECT_EQ(form_->ApplyToParameters(), 0) << id;
        EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{message}) << id;
        Type(id, before);
    };
    refused("1003", "15", "Horizontal size must be at least 16.\nPlease correct picture size.");
    refused("1007", "289", "Vertical size must be multiple of 2.\nPlease correct picture size.");
    refused("1004", "0", "Number of frames to encode must be at least 1.\nPlease correct number of frames.");
    refused("1014", "abc", "Some initial parameters are not valid. Please verify encoding\nparameters and try again.");
    refused("1001", "", "Input file name not specified.\nPlease specify valid input file name.");
    EXPECT_EQ(EncoderSettings.horizontalSize, width);

    // Nothing chosen yet: the stream kind comes first.
    form_.reset();
    ReadProfile("+");
    form_ = std::make_unique<CMainSettingsForm>();
    boxes_.Clear();
    EXPECT_EQ(form_->ApplyToParameters(), 0);
    EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{"MPEG stream type not specified.  Please check Mpeg-1 or Mpeg-2. "});
}

TEST_F(FormTest, StoredValuesReachTheSettingsAndAProfileReadsBackEqual) {
    Click("1012");
    Choose(MakeAvi("dvd.avi"));
    Click("1168");
    Type("1009", "3");
    Type("1004", "7");
    Type("1014", "2500");
    Get<QComboBox>("1013")->setCurrentIndex(2);
    Get<QComboBox>("1164")->setCurrentIndex(1);
    Type("1005", Out("film"));
    ASSERT_EQ(form_->ApplyToParameters(), 1);
    EXPECT_EQ(Text("1005"), Out("film.prg"));

    EncoderSettingsRecord& s = EncoderSettings;
    const auto stored = [&s] {
        return std::tuple(s.firstFrame, s.framesToEncode, s.bitRate, s.frameRateCode, s.interlaceMode, s.horizontalSize,
                          s.verticalSize, s.mpeg1, s.applicationType, s.encodeAudio, s.keepOriginalDuration,
                          s.inputType, s.inputFileName, s.outputFileName);
    };
    const auto before = stored();
    EXPECT_EQ(before, std::tuple(2, 7, 2500 * 1024.0, 3, 1, 352, 288, 0, kApplicationDvd, 1, 1, 2,
                                 (dir_ / "dvd.avi").string(), Out("film.prg")));
    const std::string profile = (dir_ / "dvd.prf").string();
    ASSERT_EQ(WriteProfile(profile.c_str()), 0);
    ReadProfile("+");
    ReadProfile(profile.c_str());
    ASSERT_EQ(ProfileLoaded, 1);
    EXPECT_EQ(stored(), before);

    // The form shows the profile it is refreshed from, the MPEG-2 rates above 30 as read and a first frame beyond its
    // range as the range takes it; a store writes what it shows.
    for (const auto& [code, rate, first, shown] :
         {std::tuple{3, "25", 2, "3"}, std::tuple{6, "50", 2147483647, "1000000"},
          std::tuple{7, "59.94", -2147483647 - 1, "1"}, std::tuple{8, "60", 41, "42"}}) {
        s.frameRateCode = code, s.firstFrame = first;
        form_->LoadDefaultProfile();
        std::string line = Get<QComboBox>("1013")->currentText().toStdString();
        for (const char* id : {"1009", "1004", "1014", "1005"}) line += " " + Text(id);
        if (Get<QRadioButton>("1012")->isChecked() && Get<QCheckBox>("1168")->isChecked()) line += " DVD";
        EXPECT_EQ(line + " " + std::to_string(Get<QComboBox>("1164")->currentIndex()),
                  std::string(rate) + " " + shown + " 7 2500 " + Out("film.prg") + " DVD 1");
        ASSERT_EQ(form_->ApplyToParameters(), 1);
        EXPECT_EQ(std::pair(s.frameRateCode, std::to_string(s.firstFrame + 1)), std::pair(code, std::string(shown)));
    }
}

}  // namespace

namespace {

TEST_F(FormTest, OutputLocationsAreCheckedInteractivelyAndInTheBatchLog) {
    Click("1011");
    Choose(MakeAvi("loc.avi"));
    const std::string missing = (dir_ / "none").string() + "/";
    Type("1005", missing + "x.mpg");
    boxes_.Clear();
    EXPECT_EQ(form_->CheckOutputFile(), 0);
    EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{"Error:\nOutput directory " + missing +
                                                       " does not exist.\nPlease set valid output file name."});
    // Start's store stops there; a name too long stays whole in its field and is refused.
    for (const std::string& output : {missing + "x.mpg", (dir_ / std::string(260, 'n')).string() + ".mpg"}) {
        Type("1005", output);
        boxes_.Clear();
        EXPECT_EQ(form_->ApplyToParameters(), 0);
        EXPECT_EQ(Text("1005") + boxes_.Texts().at(0).substr(0, 25),
                  output + (output.size() > 260 ? "Output file name too long" : "Error:\nOutput directory /"));
    }

    // The batch variant: the output goes to the job's folder, an existing one is overwritten with a warning.
    BatchLogFileName = (dir_ / "message.log").string();
    const std::string jobs = (dir_ / "jobs").string();
    fs::create_directories(jobs);
    testsupport::WriteFile(jobs + "/loc.mpg", "old");
    boxes_.Clear();
    ASSERT_EQ(form_->LoadInputFileForBatch((dir_ / "loc.avi").string(), jobs), 1);
    EXPECT_EQ(Text("1005"), jobs + "/loc.mpg");
    EXPECT_EQ(form_->Values().coding.tempAudioFileName, jobs + "/loc_.mp2");
    EXPECT_TRUE(boxes_.Texts().empty());
    const std::string log = testsupport::ReadFile(BatchLogFileName);
    EXPECT_NE(log.find("\nLoading input file " + (dir_ / "loc.avi").string() + " information \n"), std::string::npos);
    EXPECT_NE(log.find(" Warning:\n Output file " + jobs + "/loc.mpg already exists.\n Overwriting existing file! \n"),
              std::string::npos);
    EXPECT_EQ(testsupport::ReadFile(jobs + "/loc.mpg"), "old");

    EXPECT_EQ(form_->LoadInputFileForBatch((dir_ / "loc.yuv").string(), jobs), 0);
    EXPECT_NE(testsupport::ReadFile(BatchLogFileName)
                  .find("\nError: Input file " + (dir_ / "loc.yuv").string() + " does not have '.avi' extension."),
              std::string::npos);
    BatchLogFileName.clear();
}

}  // namespace

namespace {

// A file named on the command line at the first start: the default profile is read, then the file taken.
TEST_F(FormTest, PendingInputAtFirstStartTakesTheDefaultProfile) {
    const std::string avi = MakeAvi("start.avi");
    EncoderSettings.mpeg1 = 0;
    EncoderSettings.gopSize = 9;
    EncoderSettings.inputFileName = "/old/input.avi";
    ProfileDirectory = dir_.path().string() + "/";
    ASSERT_EQ(WriteProfile(DefaultProfileFileName().c_str()), 0);
    ReadProfile("+");
    PendingInputFile = avi;
    PendingInputFlag = 1;
    form_->LoadDefaultProfile();
    EXPECT_EQ(PendingInputFlag, 0);
    EXPECT_EQ(EncoderSettings.gopSize, 9);
    EXPECT_TRUE(Get<QRadioButton>("1012")->isChecked());
    EXPECT_EQ(Text("1001"), avi);
    EXPECT_EQ(Text("1005"), Out("start.prg"));
    ProfileDirectory.clear();
    PendingInputFile.clear();
}

}  // namespace

namespace {

// Runs `act` on the advanced settings sheet once it is open; a sheet that is
// not there fails the test and whatever modal window is open is closed.
void InSheet(std::function<void(CAdvancedSettingsSheet&)> act) {
    QTimer::singleShot(0, [act] {
        QWidget* modal = QApplication::activeModalWidget();
        auto* sheet = dynamic_cast<CAdvancedSettingsSheet*>(modal);
        if (!sheet) {
            ADD_FAILURE() << "the advanced settings sheet did not open";
            if (modal) modal->close();
            return;
        }
        act(*sheet);
    });
}

// A temporary audio file named on the Files page and P 7, B 2 on the Sequence
// page, then the button `button` ("1" OK, "2" Cancel).
void EditSheet(CAdvancedSettingsSheet& sheet, const std::string& tempAudio, const char* button) {
    EXPECT_NE(sheet.Page(AdvancedPage::Audio), nullptr);
    EXPECT_EQ(sheet.Page(AdvancedPage::System), nullptr);  // MPEG-1 only
    EXPECT_EQ(sheet.Context().applicationType, kApplicationDvd);  // the DVD box
    auto show = [&sheet](AdvancedPage kind) {
        for (int i = 0; i < sheet.PageCount(); ++i)
            if (sheet.PageAt(i)->Kind() == kind) {
                EXPECT_TRUE(sheet.SetActivePage(i));
            }
        return sheet.Page(kind);
    };
    qttest::Control<QLineEdit>(show(AdvancedPage::Files), 1065)->setText(QString::fromStdString(tempAudio));
    CAdvancedPage* sequence = show(AdvancedPage::Sequence);
    qttest::Control<QLineEdit>(sequence, 1039)->setText("7");
    qttest::Control<QLineEdit>(sequence, 1040)->setText("2");
    qttest::Control<QPushButton>(&sheet, button)->click();
}

TEST_F(FormTest, AdvancedEditsTheSettingsOnOkAndNothingOnCancel) {
    Choose(MakeAvi("adv.avi"));
    Click("1012");
    Click("1168");
    ASSERT_EQ(form_->ApplyToParameters(), 1);
    int marked = 0;
    QObject::connect(form_.get(), &CMainSettingsForm::documentModified, [&marked] { ++marked; });
    auto saved = [this](const char* name) {
        EXPECT_EQ(WriteProfile((dir_ / name).c_str()), 0);
        return testsupport::ReadFile(dir_ / name);
    };
    const std::string before = saved("before.prf");
    const std::string missing = (dir_ / "none" / "a.mp2").string();
    boxes_.Clear();

    InSheet([&](CAdvancedSettingsSheet& sheet) { EditSheet(sheet, missing, "2"); });
    Click("1016");
    EXPECT_EQ(marked, 0);
    EXPECT_EQ(saved("cancelled.prf"), before);
    EXPECT_TRUE(boxes_.Texts().empty());

    InSheet([&](CAdvancedSettingsSheet& sheet) { EditSheet(sheet, missing, "1"); });
    Click("1016");
    EXPECT_EQ(marked, 1);
    EXPECT_EQ(EncoderSettings.gopSize, 24);
    EXPECT_EQ(EncoderSettings.ipDistance, 3);
    EXPECT_EQ(EncoderSettings.tempAudioFileName, missing);
    EXPECT_NE(saved("accepted.prf"), before);
    // The new temporary name is checked at once.
    EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{"Error:\nThe directory of temporary audio file " + missing +
                                                       " does not exist.\nPlease set valid temporary file names."});
}

}  // namespace

// Leaving MPEG-1 takes the Video-CD preset of a loaded profile away, as
// unticking it does; ticked again, it takes the profile's sound.
TEST_F(FormTest, Mpeg2AfterAVideoCdProfileLeavesThePreset) {
    Click("1011");
    Choose(MakeAvi("pal.avi"));
    Type("1014", "3000");
    Click("1148");
    ASSERT_EQ(form_->ApplyToParameters(), 1);
    const std::string profile = (dir_ / "vcd.prf").string();
    ASSERT_EQ(WriteProfile(profile.c_str()), 0);
    ReadProfile(profile.c_str());
    form_->LoadDefaultProfile();
    EXPECT_FALSE(Get<QLineEdit>("1014")->isEnabled());
    Click("1012");
    EXPECT_TRUE(Get<QLineEdit>("1014")->isEnabled());
    EXPECT_EQ(form_->Values().coding.applicationType, kApplicationNone);
    EXPECT_FALSE(Get<QCheckBox>("1148")->isChecked());

    // A profile of a mono input, loaded after a stereo one was taken: the
    // preset keeps the profile's mono sound, not the last probed file's.
    Click("1011");
    Choose(MakeAvi("mono.avi", false, "352x288", 1));
    ASSERT_EQ(form_->ApplyToParameters(), 1);
    ASSERT_EQ(EncoderSettings.audioMode, 0);
    const std::string mono = (dir_ / "mono.prf").string();
    ASSERT_EQ(WriteProfile(mono.c_str()), 0);
    Choose((dir_ / "pal.avi").string());
    ReadProfile(mono.c_str());
    form_->LoadDefaultProfile();
    Click("1148");
    ASSERT_TRUE(Get<QCheckBox>("1148")->isChecked());
    EXPECT_EQ(form_->Values().coding.audioMode, 0);
}

// After an interlaced MPEG-2 job, an AVI of another height is taken: the form
// takes the file's own size, so nothing is resized.
TEST_F(FormTest, AnotherHeightAfterAnInterlacedJobIsTaken) {
    Click("1012");
    Choose(MakeAvi("pal.avi"));
    Get<QComboBox>("1164")->setCurrentIndex(1);
    ASSERT_EQ(form_->ApplyToParameters(), 1);
    ReadProfile("-");  // derived as for the job: interlaced fields
    ASSERT_EQ(EncoderSettings.progressiveSequence, 0);
    Get<QComboBox>("1164")->setCurrentIndex(0);
    boxes_.Clear();
    Choose(MakeAvi("ntsc.avi", false, "352x240"));
    EXPECT_EQ(Text("1001"), (dir_ / "ntsc.avi").string());
    EXPECT_EQ(Text("1007"), "240");
    EXPECT_TRUE(boxes_.Texts().empty()) << testing::PrintToString(boxes_.Texts());

    // A quiet batch takes it too; a file that is no AVI gets its reason in the log.
    BatchLogFileName = (dir_ / "message.log").string();
    BatchMode = 2;
    ReadProfile("-");
    EXPECT_EQ(form_->LoadInputFileForBatch((dir_ / "pal.avi").string(), dir_.path().string()), 1);
    testsupport::WriteFile(dir_ / "bad.avi", "RIFF not really");
    EXPECT_EQ(form_->LoadInputFileForBatch((dir_ / "bad.avi").string(), dir_.path().string()), 0);
    BatchMode = 0;
    const std::string log = testsupport::ReadFile(BatchLogFileName);
    const size_t reason = log.find(" message:\nCannot open input AVI file\n" + (dir_ / "bad.avi").string() +
                                   "\n\nThis is not an AVI file.");
    EXPECT_NE(reason, std::string::npos) << log;
    EXPECT_LT(reason, log.find("Invalid input AVI file format."));
    BatchLogFileName.clear();
}
