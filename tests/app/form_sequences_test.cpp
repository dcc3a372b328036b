// Seeded random sequences of what users do in the main settings form of the
// running program (offscreen): the format buttons, the DVD and SVCD boxes,
// Video-CD on and off, PAL and NTSC inputs with and without sound taken by
// Browse, Enter or left in the edit, typed output names, the advanced sheet
// with OK and Cancel, Save and reopening the profile. After every store the
// settings, and after a reopen the profile, must say what the form shows.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <optional>
#include <random>

#include "app/AppSettings.h"
#include "app/CAdvancedSettingsSheet.h"
#include "app/CMainSettingsForm.h"
#include "app/CMpegDoc.h"
#include "app/CompletionDialogs.h"
#include "tests/app/frame_util.h"
#include "tests/support/QtTestSupport.h"

namespace fs = std::filesystem;

namespace {

constexpr unsigned kSequences = 300;

std::string Stem(const std::string& name) { return (fs::path(name).parent_path() / fs::path(name).stem()).string(); }

class FormSequenceTest : public qttest::ProgramTest {
protected:
    QLineEdit* Edit(const char* id) { return qttest::Control<QLineEdit>(MainSettingsForm, id); }
    QAbstractButton* Button(const char* id) { return qttest::Control<QAbstractButton>(MainSettingsForm, id); }
    std::string Text(const char* id) { return Edit(id)->text().toStdString(); }
    bool On(const char* id) { return Button(id)->isChecked(); }
    void Type(const char* id, const std::string& text) { Edit(id)->setText(QString::fromStdString(text)); }
    // What the form shows of what it stores, in one line.
    std::string Shown() {
        std::string line = Text("1001") + "|" + Text("1005");
        for (const char* id : {"1003", "1007", "1014"}) line += "|" + Text(id);
        line += "|" + std::to_string(qttest::Control<QComboBox>(MainSettingsForm, "1013")->currentIndex());
        for (const char* id : {"1011", "1012", "1168", "1169", "1148", "1062"}) line += On(id) ? "1" : "0";
        return line;
    }

    // The settings (just stored, or just read from the profile) against the form.
    void Check(const char* after) {
        SCOPED_TRACE(after);
        const EncoderSettingsRecord& s = EncoderSettings;
        const bool videoCd = On("1148");
        EXPECT_EQ(s.mpeg1, On("1011") ? 1 : 0);
        EXPECT_EQ(s.applicationType, On("1011")  ? (videoCd ? kApplicationVcd20 : kApplicationNone)
                                     : On("1168") ? kApplicationDvd
                                     : On("1169") ? kApplicationSvcd
                                                  : kApplicationNone);
        EXPECT_EQ(s.streamType == kStreamTypeVideoCd, videoCd);
        EXPECT_EQ(std::to_string(s.horizontalSize) + "x" + std::to_string(s.verticalSize),
                  Text("1003") + "x" + Text("1007"));
        EXPECT_EQ(s.frameRateCode, qttest::Control<QComboBox>(MainSettingsForm, "1013")->currentIndex() + 1);
        EXPECT_EQ(std::to_string(int(s.bitRate / 1024)), Text("1014"));
        EXPECT_EQ(s.inputFileName, Text("1001"));
        EXPECT_EQ(s.outputFileName, Text("1005"));
        EXPECT_EQ(s.encodeAudio, On("1062") ? 1 : 0);
        // Every clip is 352 wide, named by its lines; a Video-CD keeps them and takes their system.
        const int lines = Text("1001").find("ntsc") != std::string::npos ? 240 : 288;
        EXPECT_EQ(Text("1003") + "x" + Text("1007"), "352x" + std::to_string(lines));
        if (videoCd) {
            EXPECT_EQ(s.frameRateCode, lines == 288 ? 3 : 4);
            EXPECT_EQ(s.mpeg1AspectRatio, lines == 288 ? 8 : 12);
            EXPECT_EQ(Text("1014"), "1123");
        }
        // Sound is coded with the input's channels: one is mono, two are stereo.
        if (s.encodeAudio && Text("1001").find("_mute") == std::string::npos) {
            EXPECT_EQ(s.audioMode == 0, Text("1001").find("_mono") != std::string::npos) << "the audio mode";
        }
        if (typedOutput_) {
            EXPECT_EQ(Stem(Text("1005")), *typedOutput_) << "the typed output";
        }
        if (sheetGop_) {
            EXPECT_EQ(std::make_pair(s.ipDistance, s.gopSize), *sheetGop_) << "the sheet's M and N";
        }
    }

    bool Store() {
        if (MainSettingsForm->ApplyToParameters() != 1) return false;
        if (typedInput_) taken_ = *typedInput_;
        typedInput_.reset();
        Check("store");
        return true;
    }

    // The advanced sheet: P and B on the Sequence page, then OK (Cancel when
    // the sheet's checks keep it open) or Cancel; a store after OK.
    void Sheet(bool ok, int p, int b) {
        bool accepted = false;
        QTimer::singleShot(0, [&] {
            auto* sheet = dynamic_cast<CAdvancedSettingsSheet*>(QApplication::activeModalWidget());
            ASSERT_NE(sheet, nullptr);
            for (int i = 0; i < sheet->PageCount(); ++i)
                if (sheet->PageAt(i)->Kind() == AdvancedPage::Sequence) sheet->SetActivePage(i);
            CAdvancedPage* sequence = sheet->Page(AdvancedPage::Sequence);
            qttest::Control<QLineEdit>(sequence, 1039)->setText(QString::number(p));
            qttest::Control<QLineEdit>(sequence, 1040)->setText(QString::number(b));
            if (ok) qttest::Control<QPushButton>(sheet, "1")->click();
            accepted = ok && !sheet->isVisible();
            if (sheet->isVisible()) qttest::Control<QPushButton>(sheet, "2")->click();
        });
        Button("1016")->click();
        if (!accepted) return;
        // (A typed input the store takes may leave the Video-CD preset, whose snapshot comes back.)
        sheetGop_ = {b + 1, (p + 1) * (b + 1)};
        if (typedInput_) sheetGop_.reset();
        EXPECT_TRUE(Store()) << "no store after the sheet";
    }

    void Run(unsigned seed) {
        std::mt19937 random(seed);
        const auto pick = [&random](int n) { return int(random() % unsigned(n)); };
        const auto clip = [&] {
            return (dir_ / (std::string(pick(2) ? "pal" : "ntsc") +
                            std::vector<const char*>{".avi", "_mono.avi", "_mute.avi"}[pick(3)]))
                .string();
        };
        CMpegDoc& doc = *app_->Document();
        ASSERT_TRUE(doc.OnNewDocument());
        typedOutput_.reset();
        typedInput_.reset();
        sheetGop_.reset();
        Button(pick(2) ? "1011" : "1012")->click();
        chosen_ = taken_ = clip();
        Button("1002")->click();
        for (int step = 0, steps = 6 + pick(10); step < steps; ++step) {
            const int act = pick(14);
            const std::string name = clip();
            const bool videoCd = On("1148");
            acts_ += " " + std::to_string(act);
            if (act < 6) Button(std::vector<const char*>{"1011", "1012", "1168", "1169", "1148", "1062"}[act])->click();
            if (act == 6) {  // Browse
                chosen_ = taken_ = name;
                Button("1002")->click();
                typedInput_.reset();
                typedOutput_.reset();
            } else if (act == 7) {  // typed and Enter
                Type("1001", name);
                emit Edit("1001")->returnPressed();
                if (name != taken_) typedOutput_.reset();
                taken_ = name;
                typedInput_.reset();
            } else if (act == 8 && name != Text("1001")) {  // typed and left with Tab: the store takes it
                Type("1001", name);
                typedInput_.reset();
                if (name != taken_) {
                    typedInput_ = name;
                    typedOutput_.reset();
                }
            } else if (act == 9) {  // an output name typed and left with Tab
                const std::string typed = (dir_ / "out" / ("typed" + std::to_string(step))).string();
                Type("1005", typed + std::vector<const char*>{"", ".mpg", ".m2v", ".prg"}[pick(4)]);
                emit Edit("1005")->editingFinished();
                typedOutput_ = typed;
            } else if (act == 10 || act == 11) {
                Sheet(act == 10, 1 + pick(4), pick(3));
            } else if (act == 12) {
                Store();
            } else if (act == 13) {  // Save, and open the profile again
                if (doc.ProfilePath().empty()) frametest::AnswerDescriptionDialog({"sequence " + std::to_string(seed)});
                ASSERT_TRUE(doc.OnFileSave());
                if (typedInput_) taken_ = *typedInput_;
                typedInput_.reset();
                Check("save");
                const std::string shown = Shown();
                const int aspect = EncoderSettings.mpeg1AspectRatio;
                ASSERT_TRUE(doc.OnOpenDocument(doc.ProfilePath()));
                EXPECT_EQ(Shown(), shown) << "the reopened profile";
                EXPECT_EQ(EncoderSettings.mpeg1AspectRatio, aspect);
                Check("reopen");
            }
            // The preset switched on or off brings its own GOP.
            if (On("1148") != videoCd) sheetGop_.reset();
        }
        if (!doc.ProfilePath().empty()) fs::remove(doc.ProfilePath());
    }

    std::string chosen_, taken_, acts_;
    std::optional<std::string> typedInput_;   // typed, not taken yet
    std::optional<std::string> typedOutput_;  // typed after the input was typed or taken
    std::optional<std::pair<int, int>> sheetGop_;
};

TEST_F(FormSequenceTest, EveryStoreAndReopenedProfileSaysWhatTheFormShows) {
    if (!testsupport::HaveTool("ffmpeg")) GTEST_SKIP() << "no ffmpeg";
    // The clips, made once: PAL and NTSC, each in stereo, in mono and without sound.
    std::string outputs;
    for (const std::string clip : {"pal", "ntsc"})
        for (const std::string sound : {"", "_mono", "_mute"})
            outputs += " -map " + std::string(clip == "pal" ? "0" : "1") + ":v" +
                       (sound == "_mute" ? "" : sound == "_mono" ? " -map 2:a -ac 1" : " -map 2:a -ac 2") +
                       " -frames:v 6 -t 0.24 -c:v mjpeg -c:a pcm_s16le '" +
                       (dir_ / (clip + sound + ".avi")).string() + "'";
    ASSERT_EQ(testsupport::RunCommand("ffmpeg -v error -f lavfi -i testsrc2=size=352x288:rate=25 -f lavfi -i "
                                      "testsrc2=size=352x240:rate=30000/1001 -f lavfi -i sine=sample_rate=44100" +
                                      outputs),
              0);
    fs::create_directories(dir_ / "out");
    ASSERT_TRUE(SetMainMpegOutputDirectory((dir_ / "out").string() + "/"));
    SetFormFileDialogHook([this](QWidget*, FormFileDialogRequest* r) {
        r->name = chosen_;
        return true;
    });
    platform::ScriptedMessageBoxes boxes;
    ScriptedResultDialogs results;  // the AVI information of each input taken
    // Only failures are recorded as parts of the test's result.
    const auto failures = [] {
        return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
    };
    std::vector<unsigned> failed;
    for (unsigned seed = 1; seed <= kSequences && !HasFatalFailure(); ++seed) {
        const int before = failures();
        acts_.clear();
        SCOPED_TRACE("sequence " + std::to_string(seed));
        Run(seed);
        if (failures() != before) {
            failed.push_back(seed);
            std::printf("sequence %u failed, acts:%s\n", seed, acts_.c_str());
        }
    }
    SetFormFileDialogHook({});
    EXPECT_TRUE(failed.empty()) << failed.size() << " of " << kSequences << " sequences failed";
}

}  // namespace
