// Seeded random sequences of what users do in the main settings form of the running program (offscreen): formats,
// DVD, SVCD, Video-CD on and off, PAL and NTSC inputs with and without sound taken by Browse, Enter or Tab, outputs and
// numbers typed before and after them, Enter in every field, the advanced sheet and its Files tab, Save, reopening the
// profile and Start. What the form shows just before each store is what the store writes, the reopened profile holds
// and the job encodes; the store changes nothing the form shows. TESSMAR_FORM_SEED=n runs sequence n alone.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <fstream>
#include <map>
#include <optional>
#include <random>

#include "app/AppSettings.h"
#include "app/CAdvancedSettingsSheet.h"
#include "app/CMainSettingsForm.h"
#include "app/CMpegDoc.h"
#include "app/CompletionDialogs.h"
#include "job/JobDriver.h"
#include "tests/app/frame_util.h"
#include "tests/support/QtTestSupport.h"

namespace fs = std::filesystem;

namespace {

constexpr unsigned kSequences = 300, kJobEvery = 60;  // every kJobEvery-th sequence also Starts the job

const char* const kEdits[] = {"1001", "1005", "1003", "1007", "1004", "1009", "1014"};
const char* const kBoxes[] = {"1011", "1012", "1168", "1169", "1148", "1062"};
const char* const kRates[] = {"24000/1001", "24/1", "25/1", "30000/1001", "30/1", "50/1", "60000/1001", "60/1"};
const char* const kSounds[] = {".avi", "_mono.avi", "_mute.avi"};
const int kSizes[] = {352, 320, 288, 240, 176};

std::string Stem(const std::string& name) { return (fs::path(name).parent_path() / fs::path(name).stem()).string(); }
bool Has(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

class FormSequenceTest : public qttest::ProgramTest {
protected:
    using Shown = std::map<std::string, std::string>;
    QLineEdit* Edit(const char* id) { return qttest::Control<QLineEdit>(MainSettingsForm, id); }
    QAbstractButton* Button(const char* id) { return qttest::Control<QAbstractButton>(MainSettingsForm, id); }
    QComboBox* Combo(const char* id) { return qttest::Control<QComboBox>(MainSettingsForm, id); }
    std::string Text(const char* id) { return Edit(id)->text().toStdString(); }
    bool On(const char* id) { return Button(id)->isChecked(); }
    // Typed and left with Tab (the edit's end of editing) or Enter (the key, which the form sees too).
    void Type(const char* id, const std::string& text, bool enter) {
        Edit(id)->setText(QString::fromStdString(text));
        enter ? Enter(id) : emit Edit(id)->editingFinished();
    }
    void Enter(const char* id) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(Edit(id), &press);
    }
    // What the form shows of what it stores.
    Shown Capture() {
        Shown v{{"bit rate open", Edit("1014")->isEnabled() ? "1" : "0"}};
        for (const char* id : kEdits) v[id] = Text(id);
        for (const char* id : kBoxes) v[id] = On(id) ? "1" : "0";
        for (const char* id : {"1013", "1164"}) v[id] = std::to_string(std::max(Combo(id)->currentIndex(), 0));
        return v;
    }
    // What the temporary names were set for: the input, the output and the stream kind.
    std::string Basis() { return Text("1001") + "|" + Text("1005") + "|" + (On("1011") ? "1" : "2"); }
    // The settings just stored or read from the profile, in the form's terms, against what the form showed.
    void Check(Shown shown, const char* after) {
        const EncoderSettingsRecord& s = EncoderSettings;
        const auto n = [](auto x) { return std::to_string(int(x)); };
        const std::string input = shown.at("1001"), stem = Stem(shown.at("1005"));
        Shown stored{{"1001", s.inputFileName}, {"1005", s.outputFileName}, {"1003", n(s.horizontalSize)},
                     {"1007", n(s.verticalSize)}, {"1004", n(s.framesToEncode)}, {"1009", n(s.firstFrame + 1)},
                     {"1014", n(s.bitRate / 1024)}, {"1013", n(s.frameRateCode - 1)}, {"1164", n(s.interlaceMode)},
                     {"1011", n(s.mpeg1)}, {"1012", n(!s.mpeg1)}, {"1168", n(s.applicationType == kApplicationDvd)},
                     {"1169", n(s.applicationType == kApplicationSvcd)}, {"1062", n(s.encodeAudio)},
                     {"1148", n(s.streamType == kStreamTypeVideoCd && s.applicationType == kApplicationVcd20)},
                     {"bit rate open", shown.at("bit rate open")}, {"VBV", n(s.vbvBufferSize)},
                     {"temporary", s.tempVideoFileName + " " + s.tempAudioFileName}};
        shown["VBV"] = s.mpeg1 ? "20" : "112";  // what the job uses
        // The preset's bit rate stays while its box is ticked: its edit takes nothing then.
        if (shown.at("1148") == "1") shown["1014"] = "1123", shown["bit rate open"] = "0";
        // Sound is coded with the input's channels: one is mono, two are stereo.
        if (s.encodeAudio && !Has(input, "_mute") && !profileSound_)
            stored["mono"] = n(s.audioMode == 0), shown["mono"] = n(Has(input, "_mono"));
        if (typedOutput_) stored["typed output"] = *typedOutput_, shown["typed output"] = stem;
        if (sheetGop_) stored["sheet's M/N"] = n(s.ipDistance) + "/" + n(s.gopSize), shown["sheet's M/N"] = *sheetGop_;
        // The Files tab's names (or the profile's) until what they were set for changes; else the output's.
        shown["temporary"] = Has(input, "_mute") ? stored.at("temporary")
                             : heldTemps_        ? heldTemps_->second
                                                 : stem + (s.mpeg1 ? "_.m1v " : "_.m2v ") + stem + "_.mp2";
        EXPECT_EQ(stored, shown) << after;
    }

    // A store through ApplyToParameters, Save or Start: the form must not change.
    bool Store(int how) {
        const Shown shown = Capture();
        if (how == 1 && app_->Document()->ProfilePath().empty())
            frametest::AnswerDescriptionDialog({"sequence " + acts_});
        const bool stored = how == 0   ? MainSettingsForm->ApplyToParameters() == 1
                            : how == 1 ? app_->Document()->OnFileSave()
                                       : (Start(shown), false);
        EXPECT_EQ(Capture(), shown) << "the store changed the form";
        if (stored) Check(shown, how ? "save" : "store");
        return stored;
    }
    // Start, and the output's headers against what the form showed.
    void Start(const Shown& v) {
        const std::string output = v.at("1005"), input = v.at("1001");
        fs::remove(output);
        JobResult = -1;
        frame_->findChild<QAction*>("32771")->trigger();
        if (JobResult != 0) return;
        ++jobs_, profileSound_ = false;
        std::string video, sound, probe = "ffprobe -v error -count_frames -of default=nw=1:nk=1 -show_entries stream=";
        testsupport::RunCommand(probe + "width,height,r_frame_rate,nb_read_frames -select_streams v:0 '" + output + "'",
                                &video);
        testsupport::RunCommand(probe + "channels -select_streams a:0 '" + output + "'", &sound);
        // At another rate than the clip's, the frame count follows the clip's duration.
        const std::string frames = v.at("1013") == (Has(input, "pal") ? "2" : "3")
                                       ? v.at("1004") + "\n"
                                       : video.substr(video.find_last_of('\n', video.size() - 2) + 1);
        const char* channels = v.at("1062") == "0" || Has(input, "_mute") ? "" : Has(input, "_mono") ? "1\n" : "2\n";
        EXPECT_EQ(video + sound, v.at("1003") + "\n" + v.at("1007") + "\n" + kRates[std::stoi(v.at("1013"))] + "\n" +
                                     frames + channels)
            << output;
    }
    // The advanced sheet: P and B on the Sequence page and new names on the Files tab (which takes them only with
    // sound encoded), then OK (Cancel when the sheet's checks keep it open) or Cancel; a store after OK.
    void Sheet(bool ok, int p, int b, bool names) {
        bool accepted = false;
        const std::string stem = (dir_ / "out" / ("tab" + std::to_string(p * 3 + b))).string();
        QTimer::singleShot(0, [&] {
            auto* sheet = dynamic_cast<CAdvancedSettingsSheet*>(QApplication::activeModalWidget());
            ASSERT_NE(sheet, nullptr);
            // The page of that kind shown, as the user opens it, and typed into where it takes input.
            const auto fill = [sheet](AdvancedPage kind, std::initializer_list<std::pair<int, std::string>> texts) {
                for (int i = 0; i < sheet->PageCount(); ++i)
                    if (sheet->PageAt(i)->Kind() == kind && !sheet->SetActivePage(i)) return false;
                CAdvancedPage* page = sheet->Page(kind);
                if (!page || !qttest::Control<QLineEdit>(page, texts.begin()->first)->isEnabled()) return false;
                for (const auto& [id, text] : texts)
                    qttest::Control<QLineEdit>(page, id)->setText(QString::fromStdString(text));
                return true;
            };
            names = names && fill(AdvancedPage::Files, {{1064, stem + "v.tmp"}, {1065, stem + "a.tmp"}});
            ASSERT_TRUE(fill(AdvancedPage::Sequence, {{1039, std::to_string(p)}, {1040, std::to_string(b)}}));
            if (ok) qttest::Control<QPushButton>(sheet, "1")->click();
            accepted = ok && !sheet->isVisible();
            if (sheet->isVisible()) qttest::Control<QPushButton>(sheet, "2")->click();
        });
        Button("1016")->click();
        if (!accepted) return;
        sheetGop_ = std::to_string(b + 1) + "/" + std::to_string((p + 1) * (b + 1));
        if (names) heldTemps_ = {Basis(), stem + "v.tmp " + stem + "a.tmp"};
        EXPECT_TRUE(Store(0)) << "no store after the sheet";
    }

    // The profile read again: its names are nobody's typing, its temporary names stay.
    void Reopen() {
        ASSERT_TRUE(app_->Document()->OnOpenDocument(app_->Document()->ProfilePath()));
        outputPending_ = false;
        heldTemps_ = {Basis(), EncoderSettings.tempVideoFileName + " " + EncoderSettings.tempAudioFileName};
    }
    // An input taken: an output typed since the last one stays.
    void Taken() {
        if (!outputPending_) typedOutput_.reset();
        outputPending_ = profileSound_ = false;
    }
    void Browse(const std::string& name) { chosen_ = name; Button("1002")->click(); Taken(); }

    void Run(unsigned seed) {
        std::mt19937 random(seed);
        const auto pick = [&random](int n) { return int(random() % unsigned(n)); };
        const auto clip = [&] { return (dir_ / (std::string(pick(2) ? "pal" : "ntsc") + kSounds[pick(3)])).string(); };
        const bool jobs = seed % kJobEvery == 0;
        CMpegDoc& doc = *app_->Document();
        ASSERT_TRUE(doc.OnNewDocument());
        typedOutput_ = sheetGop_ = std::nullopt;
        heldTemps_.reset();
        Button(pick(2) ? "1011" : "1012")->click();
        Browse(clip());
        for (int step = 0, steps = 6 + pick(jobs ? 16 : 10); step < steps; ++step) {
            const int act = pick(jobs ? 17 : 15);
            const std::string name = clip();
            const bool videoCd = On("1148");
            acts_ += " " + std::to_string(act);
            if (act < 6 && Button(kBoxes[act])->isEnabled()) {
                Button(kBoxes[act])->click();
            } else if (act == 6) {
                Browse(name);
            } else if (act == 7 || act == 8) {  // typed, and Enter or Tab
                if (name == Text("1001")) Type("1001", name, act == 7);
                else Type("1001", name, act == 7), Taken();
            } else if (act == 9) {  // an output name typed, and Tab or Enter
                const std::string typed = (dir_ / "out" / ("typed" + std::to_string(step))).string();
                Type("1005", typed + std::vector<const char*>{"", ".mpg", ".m2v", ".prg"}[pick(4)], pick(2));
                typedOutput_ = typed, outputPending_ = true;
            } else if (act == 10) {  // a number field the user can edit: width, height, frames, first frame, bit rate
                const int k = pick(5);
                const int value = k == 2 ? 1 + pick(6) : k == 3 ? 1 : k == 4 ? 800 + 100 * pick(10) : kSizes[pick(5)];
                if (Edit(kEdits[2 + k])->isEnabled()) Type(kEdits[2 + k], std::to_string(value), pick(2));
            } else if (act == 11) {  // Enter in any field
                Enter(kEdits[pick(7)]);
            } else if (act == 12) {
                Combo("1013")->setCurrentIndex(pick(8));
            } else if (act == 13) {
                Sheet(pick(3) != 0, 1 + pick(4), pick(3), pick(2));
            } else if (act == 14 && pick(2)) {
                Store(0);
            } else if (act == 14) {  // Save, and open the profile again
                const Shown shown = Capture();
                if (!Store(1)) continue;
                Reopen();
                EXPECT_EQ(Capture(), shown) << "the reopened profile";
                Check(shown, "reopen");
            } else if (act == 15) {
                Store(2);
            } else if (act == 16) {  // a stereo profile naming a mono file: the job codes mono, so does the next Save
                Browse((dir_ / "pal.avi").string());
                if (!On("1062")) Button("1062")->click();
                ASSERT_TRUE(Store(1));
                std::string text = testsupport::ReadFile(doc.ProfilePath());
                std::ofstream(doc.ProfilePath()) << text.replace(text.find("pal.avi"), 7, "pal_mono.avi");
                Reopen();
                profileSound_ = true;
                Store(2);
                ASSERT_TRUE(profileSound_ || Store(1));
            }
            // The preset switched on or off brings its own GOP.
            if (On("1148") != videoCd) sheetGop_.reset();
            if (heldTemps_ && heldTemps_->first != Basis()) heldTemps_.reset();
        }
        if (!doc.ProfilePath().empty()) fs::remove(doc.ProfilePath());
    }

    std::string chosen_, acts_;
    std::optional<std::string> sheetGop_, typedOutput_;  // the latter typed since an input was taken, or kept then
    bool outputPending_ = false;                         // an output typed since the last input was taken
    bool profileSound_ = false;                          // the sound is the profile's, not yet the file's
    std::optional<std::pair<std::string, std::string>> heldTemps_;  // what they were set for, and the names
    int jobs_ = 0;
};

TEST_F(FormSequenceTest, WhatTheFormShowsBeforeEachStoreIsWhatIsStoredReopenedAndEncoded) {
    if (!testsupport::HaveTool("ffmpeg") || !testsupport::HaveTool("ffprobe")) GTEST_SKIP() << "no ffmpeg";
    // The clips, made once: PAL and NTSC, each in stereo, in mono and without sound.
    std::string outputs;
    for (const std::string clip : {"pal", "ntsc"})
        for (const std::string sound : kSounds)
            outputs += " -map " + std::string(clip == "pal" ? "0" : "1") + ":v" +
                       (sound == kSounds[2] ? "" : sound == kSounds[1] ? " -map 2:a -ac 1" : " -map 2:a -ac 2") +
                       " -frames:v 6 -t 0.24 -c:v mjpeg -c:a pcm_s16le '" + (dir_ / (clip + sound)).string() + "'";
    ASSERT_EQ(testsupport::RunCommand("ffmpeg -v error -f lavfi -i testsrc2=size=352x288:rate=25 -f lavfi -i testsrc2="
                                      "size=352x240:rate=30000/1001 -f lavfi -i sine=sample_rate=44100" + outputs), 0);
    fs::create_directories(dir_ / "out");
    ASSERT_TRUE(SetMainMpegOutputDirectory((dir_ / "out").string() + "/"));
    // The input dialog chooses the sequence's clip; no output dialog is expected.
    SetFormFileDialogHook([this](QWidget*, FormFileDialogRequest* r) {
        EXPECT_FALSE(r->save) << "an output dialog";
        r->name = chosen_;
        return !r->save;
    });
    platform::ScriptedMessageBoxes boxes;
    ScriptedResultDialogs results;  // the AVI information of each input taken, the job's completion
    // Only failures are recorded as parts of the test's result.
    const auto failures = [] {
        return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
    };
    const char* only = std::getenv("TESSMAR_FORM_SEED");
    std::vector<unsigned> failed;
    const unsigned first = only ? unsigned(std::atoi(only)) : 1, last = only ? first : kSequences;
    for (unsigned seed = first; seed <= last && !HasFatalFailure(); ++seed) {
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
    EXPECT_TRUE(failed.empty()) << failed.size() << " sequences failed";
    EXPECT_TRUE(only || jobs_ >= 3) << jobs_ << " jobs ran";
}

}  // namespace
