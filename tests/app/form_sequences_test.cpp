// Seeded random sequences of what users do in the main settings form of the
// running program (offscreen): the format buttons, the DVD and SVCD boxes,
// Video-CD on and off, PAL and NTSC inputs with and without sound taken by
// Browse, Enter or left in the edit, typed output names, the advanced sheet
// with OK and Cancel, Save and reopening the profile. After every store the
// settings, and after a reopen the profile, must say what the form shows.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <optional>
#include <random>

#include "app/AppSettings.h"
#include "app/CAdvancedSettingsSheet.h"
#include "app/CMainSettingsForm.h"
#include "app/CMpegDoc.h"
#include "app/CompletionDialogs.h"
#include "app/FormLogic.h"
#include "settings/EncoderSettings.h"
#include "tests/app/frame_util.h"
#include "tests/support/QtTestSupport.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

constexpr int kSequences = 300;

struct Clip {
    std::string path;
    int height;  // 288: PAL at 25 frames/s, 240: NTSC at 29.97
};

enum class Act { Mpeg1, Mpeg2, Dvd, Svcd, VideoCd, Audio, Browse, Enter, Typed, Output, SheetOk, SheetCancel, Store,
                 SaveReopen };

// What the form shows of the settings it stores.
struct Shown {
    std::string input, output, width, height, bitRate;
    int rate = -1;
    bool mpeg1 = false, mpeg2 = false, dvd = false, svcd = false, videoCd = false, audio = false;
    bool operator==(const Shown&) const = default;
};

std::string Stem(const std::string& name) { return (fs::path(name).parent_path() / fs::path(name).stem()).string(); }

class FormSequenceTest : public qttest::ProgramTest {
protected:
    void SetUp() override {
        if (!testsupport::HaveTool("ffmpeg")) GTEST_SKIP() << "no ffmpeg";
        ProgramTest::SetUp();
        if (HasFatalFailure()) return;
        fs::create_directories(dir_ / "out");
        ASSERT_TRUE(SetMainMpegOutputDirectory((dir_ / "out").string() + "/"));
        for (const int height : {288, 240})
            for (const bool sound : {true, false}) {
                const std::string name =
                    (dir_ / ((height == 288 ? "pal" : "ntsc") + std::string(sound ? "" : "_mute") + ".avi")).string();
                const std::string audio = sound ? " -f lavfi -i sine=sample_rate=44100 -ac 2 -c:a pcm_s16le" : "";
                ASSERT_EQ(testsupport::RunCommand("ffmpeg -v error -y -f lavfi -i testsrc2=size=352x" +
                                                  std::to_string(height) +
                                                  (height == 288 ? ":rate=25" : ":rate=30000/1001") + audio +
                                                  " -frames:v 6 -t 0.24 -c:v mjpeg '" + name + "'"),
                          0);
                clips_.push_back({name, height});
            }
        SetFormFileDialogHook([this](QWidget*, FormFileDialogRequest* r) {
            r->name = chosen_;
            return !chosen_.empty();
        });
    }
    void TearDown() override {
        SetFormFileDialogHook({});
        ProgramTest::TearDown();
    }

    template <class T>
    T* Get(const char* id) {
        return qttest::Control<T>(MainSettingsForm, id);
    }
    std::string Text(const char* id) { return Get<QLineEdit>(id)->text().toStdString(); }
    bool Checked(const char* id) { return Get<QAbstractButton>(id)->isChecked(); }

    Shown Show() {
        return {Text("1001"),        Text("1005"),         Text("1003"),        Text("1007"),
                Text("1014"),        Get<QComboBox>("1013")->currentIndex(),     Checked("1011"),
                Checked("1012"),     Checked("1168"),      Checked("1169"),     Checked("1148"),
                Checked("1062")};
    }
    const Clip* ClipNamed(const std::string& name) {
        for (const Clip& c : clips_)
            if (c.path == name) return &c;
        return nullptr;
    }

    // The settings (just stored, or just read from the profile) against the form.
    void Check(const char* after) {
        SCOPED_TRACE(after);
        const EncoderSettingsRecord& s = EncoderSettings;
        const Shown f = Show();
        EXPECT_EQ(s.mpeg1, f.mpeg1 ? 1 : 0);
        const int disc = f.mpeg1 ? (f.videoCd ? kApplicationVcd20 : kApplicationNone)
                                 : f.dvd ? kApplicationDvd : f.svcd ? kApplicationSvcd : kApplicationNone;
        EXPECT_EQ(s.applicationType, disc);
        EXPECT_EQ(s.streamType == kStreamTypeVideoCd, f.videoCd);
        EXPECT_EQ(std::to_string(s.horizontalSize), f.width);
        EXPECT_EQ(std::to_string(s.verticalSize), f.height);
        EXPECT_EQ(s.frameRateCode, f.rate + 1);
        EXPECT_EQ(std::to_string(int(s.bitRate / 1024)), f.bitRate);
        EXPECT_EQ(s.inputFileName, f.input);
        EXPECT_EQ(s.outputFileName, f.output);
        EXPECT_EQ(s.encodeAudio, f.audio ? 1 : 0);
        if (const Clip* clip = ClipNamed(f.input)) {
            // Every clip is 352 wide, and a Video-CD keeps its lines: the file's own size.
            EXPECT_EQ(f.width, "352");
            EXPECT_EQ(f.height, std::to_string(clip->height));
            if (f.videoCd) {
                const bool pal = clip->height == 288;
                EXPECT_EQ(s.frameRateCode, pal ? 3 : 4);
                EXPECT_EQ(s.mpeg1AspectRatio, pal ? 8 : 12);
                EXPECT_EQ(f.bitRate, "1123");
            }
        }
        if (typedOutput_) {
            EXPECT_EQ(Stem(f.output), *typedOutput_);
        }
        if (sheetGop_) {
            EXPECT_EQ(s.ipDistance, sheetGop_->first);
            EXPECT_EQ(s.gopSize, sheetGop_->second);
        }
    }

    bool Store() {
        if (MainSettingsForm->ApplyToParameters() != 1) return false;
        if (typedInput_) taken_ = *typedInput_;
        typedInput_.reset();
        Check("store");
        return true;
    }

    // The advanced sheet: P and B on the Sequence page, then OK (Cancel where
    // the sheet's checks keep it open) or Cancel.
    void Sheet(bool ok, int p, int b) {
        bool accepted = false;
        QTimer::singleShot(0, [&] {
            auto* sheet = dynamic_cast<CAdvancedSettingsSheet*>(QApplication::activeModalWidget());
            if (!sheet) {
                ADD_FAILURE() << "no advanced sheet";
                return;
            }
            for (int i = 0; i < sheet->PageCount(); ++i)
                if (sheet->PageAt(i)->Kind() == AdvancedPage::Sequence) sheet->SetActivePage(i);
            CAdvancedPage* sequence = sheet->Page(AdvancedPage::Sequence);
            qttest::Control<QLineEdit>(sequence, 1039)->setText(QString::number(p));
            qttest::Control<QLineEdit>(sequence, 1040)->setText(QString::number(b));
            if (ok) qttest::Control<QPushButton>(sheet, "1")->click();
            accepted = ok && !sheet->isVisible();
            if (sheet->isVisible()) qttest::Control<QPushButton>(sheet, "2")->click();
        });
        Get<QPushButton>("1016")->click();
        if (accepted) sheetGop_ = {b + 1, (p + 1) * (b + 1)};
        if (accepted && !Store()) ADD_FAILURE() << "no store after the sheet";
    }

    void Run(unsigned seed) {
        std::mt19937 random(seed);
        const auto pick = [&random](int n) { return int(random() % unsigned(n)); };
        CMpegDoc& doc = *app_->Document();
        ASSERT_TRUE(doc.OnNewDocument());
        typedOutput_.reset();
        typedInput_.reset();
        sheetGop_.reset();
        taken_.clear();
        Get<QAbstractButton>(pick(2) ? "1011" : "1012")->click();
        chosen_ = clips_[size_t(pick(int(clips_.size())))].path;
        Get<QPushButton>("1002")->click();
        taken_ = chosen_;
        bool saved = false;
        const int steps = 6 + pick(10);
        for (int step = 0; step < steps; ++step) {
            const Act act = Act(pick(int(Act::SaveReopen) + 1));
            const std::string clip = clips_[size_t(pick(int(clips_.size())))].path;
            const bool videoCdBefore = Checked("1148");
            trace_ += " " + std::to_string(int(act));
            switch (act) {
                case Act::Mpeg1: Get<QAbstractButton>("1011")->click(); break;
                case Act::Mpeg2: Get<QAbstractButton>("1012")->click(); break;
                case Act::Dvd: Get<QAbstractButton>("1168")->click(); break;
                case Act::Svcd: Get<QAbstractButton>("1169")->click(); break;
                case Act::VideoCd: Get<QAbstractButton>("1148")->click(); break;
                case Act::Audio: Get<QAbstractButton>("1062")->click(); break;
                case Act::Browse:
                    chosen_ = clip;
                    Get<QPushButton>("1002")->click();
                    taken_ = clip;
                    typedInput_.reset();
                    typedOutput_.reset();
                    break;
                case Act::Enter:
                    Get<QLineEdit>("1001")->setText(QString::fromStdString(clip));
                    emit Get<QLineEdit>("1001")->returnPressed();
                    if (clip != taken_) typedOutput_.reset();
                    taken_ = clip;
                    typedInput_.reset();
                    break;
                case Act::Typed:
                    // Typed and left with Tab: the store takes it as Enter would.
                    if (clip == Text("1001")) break;
                    Get<QLineEdit>("1001")->setText(QString::fromStdString(clip));
                    typedInput_.reset();
                    if (clip != taken_) {
                        typedInput_ = clip;
                        typedOutput_.reset();
                    }
                    break;
                case Act::Output: {
                    const char* endings[] = {"", ".mpg", ".m2v", ".prg"};
                    const std::string name = (dir_ / "out" / ("typed" + std::to_string(step))).string();
                    Get<QLineEdit>("1005")->setText(QString::fromStdString(name + endings[pick(4)]));
                    emit Get<QLineEdit>("1005")->editingFinished();
                    typedOutput_ = name;
                    break;
                }
                case Act::SheetOk:
                case Act::SheetCancel: Sheet(act == Act::SheetOk, 1 + pick(4), pick(3)); break;
                case Act::Store: Store(); break;
                case Act::SaveReopen: {
                    if (!saved) frametest::AnswerDescriptionDialog({"sequence " + std::to_string(seed)});
                    if (!doc.OnFileSave()) {
                        ADD_FAILURE() << "not saved";
                        break;
                    }
                    saved = true;
                    if (typedInput_) taken_ = *typedInput_;
                    typedInput_.reset();
                    Check("save");
                    const Shown before = Show();
                    const EncoderSettingsRecord stored = EncoderSettings;
                    ASSERT_TRUE(doc.OnOpenDocument(doc.ProfilePath()));
                    EXPECT_TRUE(Show() == before) << "the reopened profile shows something else";
                    EXPECT_EQ(EncoderSettings.mpeg1AspectRatio, stored.mpeg1AspectRatio);
                    Check("reopen");
                    break;
                }
            }
            // The preset switched on or off brings its own GOP.
            if (Checked("1148") != videoCdBefore) sheetGop_.reset();
            if (HasFatalFailure()) return;
        }
        if (saved) fs::remove(doc.ProfilePath());
    }

    std::vector<Clip> clips_;
    std::string chosen_;
    std::string taken_;
    std::optional<std::string> typedInput_;   // typed, not taken yet
    std::optional<std::string> typedOutput_;  // typed after the input was typed or taken
    std::optional<std::pair<int, int>> sheetGop_;
    std::string trace_;
};

// Counts the failures reported while it is installed.
struct FailureCount : ::testing::EmptyTestEventListener {
    int failures = 0;
    void OnTestPartResult(const ::testing::TestPartResult& result) override { failures += result.failed(); }
};

TEST_F(FormSequenceTest, EveryStoreAndReopenedProfileSaysWhatTheFormShows) {
    platform::ScriptedMessageBoxes boxes;
    ScriptedResultDialogs results;  // the AVI information of each input taken
    auto* count = new FailureCount;
    ::testing::UnitTest::GetInstance()->listeners().Append(count);
    std::vector<unsigned> failed;
    for (unsigned seed = 1; seed <= kSequences; ++seed) {
        trace_.clear();
        const int before = count->failures;
        {
            SCOPED_TRACE("sequence " + std::to_string(seed));
            Run(seed);
        }
        if (count->failures != before) {
            failed.push_back(seed);
            std::printf("sequence %u failed, acts:%s\n", seed, trace_.c_str());
        }
        if (HasFatalFailure()) break;
    }
    delete ::testing::UnitTest::GetInstance()->listeners().Release(count);
    EXPECT_TRUE(failed.empty()) << failed.size() << " of " << kSequences << " sequences failed";
}

}  // namespace
