// The advanced settings sheet driven offscreen by control numbers: the tabs
// per stream kind, loading and storing every page, range messages that keep
// the page, OK and Cancel on a saved profile, the Bitrate Control and
// Processes pages, and a picture of every page.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <string>
#include <vector>

#include "app/CAdvancedSettingsSheet.h"
#include "app/CSpinCtrl8.h"
#include "app/CommandLine.h"
#include "engine/Threads.h"
#include "job/Profile.h"
#include "platform/MessageBox.h"
#include "settings/EncoderSettings.h"
#include "settings/RunState.h"
#include "tests/support/QtTestSupport.h"
#include "tests/support/TestSupport.h"

namespace {

using qttest::App;
using qttest::Control;

QString EditText(QWidget* page, int id) { return Control<QLineEdit>(page, id)->text(); }
void SetEdit(QWidget* page, int id, const char* text) { Control<QLineEdit>(page, id)->setText(text); }

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

class SheetPagesTest : public ::testing::Test {
protected:
    void SetUp() override {
        App();
        ReadProfile("+");
        SelectedAudioMode = -1;
        LastAdvancedPage = -1;
        LastAdvancedPageCount = 0;
        ProcessorCount = 4;
        ParallelDialogMode = 0;
        MeThreadCount = 2;
        ThreadReadFlag = ThreadDrawFlag = ThreadEncodeFlag = ThreadTablesFlag = 0;
        form.audio = true;
        form.aviChannels = 2;
    }

    // A sheet as the form would open it for the current settings.
    std::unique_ptr<CAdvancedSettingsSheet> Open() {
        PrepareAdvancedSheet(form, EncoderSettings);
        ThreadOptionValues t{MeThreadCount, ThreadReadFlag, ThreadDrawFlag, ThreadEncodeFlag, ThreadTablesFlag};
        auto sheet = std::make_unique<CAdvancedSettingsSheet>(form, EncoderSettings, t);
        sheet->show();
        return sheet;
    }
    static std::vector<std::string> Titles(const CAdvancedSettingsSheet& sheet) {
        std::vector<std::string> titles;
        auto* tabs = sheet.findChild<QTabWidget*>("tabs");
        for (int i = 0; i < tabs->count(); ++i) titles.push_back(tabs->tabText(i).toStdString());
        return titles;
    }
    // Activates the page as a click on its tab does.
    static CAdvancedPage* Visit(CAdvancedSettingsSheet& sheet, AdvancedPage kind) {
        for (int i = 0; i < sheet.PageCount(); ++i)
            if (sheet.PageAt(i)->Kind() == kind) {
                EXPECT_TRUE(sheet.SetActivePage(i));
                return sheet.PageAt(i);
            }
        ADD_FAILURE() << "page not shown";
        return nullptr;
    }
    static void VisitAll(CAdvancedSettingsSheet& sheet) {
        for (int i = 0; i < sheet.PageCount(); ++i) ASSERT_TRUE(sheet.SetActivePage(i)) << i;
    }
    // Presses OK and finishes the cycle; true when the sheet closed.
    bool PressOk(CAdvancedSettingsSheet& sheet, bool* modified = nullptr) {
        sheet.findChild<QPushButton*>("1")->click();
        if (sheet.result() != QDialog::Accepted) return false;
        FinishAdvancedSettings(sheet, true, form, modified);
        return true;
    }
    void PressCancel(CAdvancedSettingsSheet& sheet, bool* modified) {
        sheet.findChild<QPushButton*>("2")->click();
        EXPECT_EQ(sheet.result(), QDialog::Rejected);
        FinishAdvancedSettings(sheet, false, form, modified);
    }
    std::string SavedProfile(const char* name) {
        EXPECT_EQ(WriteProfile((dir / name).c_str()), 0);
        return testsupport::ReadFile(dir / name);
    }

    testsupport::TempDir dir;
    platform::ScriptedMessageBoxes boxes;
    AdvancedSheetForm form;
};

TEST_F(SheetPagesTest, TabsFollowTheStreamKind) {
    const std::vector<std::string> mpeg1 = {"Motion Vectors", "Sequence", "Performance", "Sync",  "Headers",
                                            "Audio ",         "Files",    "System",      "Special ", "MPEG-1",
                                            "Input",          "Processes", "Bitrate Control", "Edges"};
    EXPECT_EQ(Titles(*Open()), mpeg1);

    EncoderSettings.streamType = kStreamTypeVideoCd;  // Video-CD: no Bitrate Control, a fixed multiplex
    {
        auto sheet = Open();
        EXPECT_EQ(sheet->PageCount(), 13);
        EXPECT_EQ(sheet->Page(AdvancedPage::BitrateControl), nullptr);
        CAdvancedPage* system = Visit(*sheet, AdvancedPage::System);
        EXPECT_FALSE(Control<QLineEdit>(system, 1070)->isEnabled());
        EXPECT_FALSE(Control<QCheckBox>(system, 1075)->isEnabled());
    }

    form.mpeg2 = true;
    EncoderSettings.streamType = kStreamTypeMpeg2;
    EXPECT_EQ(Open()->PageCount(), 13);
    form.audio = false;
    {
        auto sheet = Open();
        EXPECT_EQ(Titles(*sheet), (std::vector<std::string>{"Motion Vectors", "Sequence", "Performance", "Sync",
                                                             "Headers", "Files", "Special ", "MPEG-2", "Input",
                                                             "Processes", "Bitrate Control", "Edges"}));
        EXPECT_FALSE(Control<QLineEdit>(Visit(*sheet, AdvancedPage::Files), 1064)->isEnabled());
    }
    form.interlaceSelection = 1;
    EXPECT_EQ(Open()->Page(AdvancedPage::Input), nullptr);
    form.interlaceSelection = 0;

    form.svcd = true;  // SVCD: a sequence header before every group, no display extension choice
    {
        auto sheet = Open();
        EXPECT_EQ(sheet->PageCount(), 12);
        auto* list = Control<QComboBox>(Visit(*sheet, AdvancedPage::Headers), 1153);
        EXPECT_EQ(list->currentText(), "Put seq. headers before every GOP");
        EXPECT_FALSE(list->isEnabled());
        EXPECT_FALSE(Control<QCheckBox>(Visit(*sheet, AdvancedPage::Mpeg2), 1165)->isEnabled());
        ASSERT_TRUE(PressOk(*sheet));
        EXPECT_EQ(EncoderSettings.sequenceHeaderOption, 0);  // shown, not stored
    }
    form.svcd = false;
    form.dvd = true;
    {
        auto sheet = Open();
        EXPECT_EQ(EncoderSettings.applicationType, kApplicationDvd);
        EXPECT_FALSE(Control<QComboBox>(Visit(*sheet, AdvancedPage::Headers), 1153)->isEnabled());
        EXPECT_TRUE(Control<QCheckBox>(Visit(*sheet, AdvancedPage::Mpeg2), 1165)->isEnabled());
    }
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST_F(SheetPagesTest, EveryPageLoadsFromTheSettingsAndStoresBack) {
    EncoderSettingsRecord& s = EncoderSettings;
    s.pFrameMotionRange[0] = 40;
    s.bFrameMotionRange[1] = 24;
    s.performanceMode = 5;
    s.closedGopOption = 2;
    s.audioMode = 3;
    s.audioBitRateIndex = 5;
    s.audioBitRate = 192;
    s.tempVideoFileName = "/tmp/v.m1v";
    s.muxPackSize = 2324;
    s.skipBFramesMode = 2;
    s.mpeg1AspectRatio = 12;
    s.medianFilter = 1;
    s.medianFilterStrength = 55;
    s.rateControl = kRateVariable;
    s.vbrMode = kVbrQuantWithinAverage;
    s.constantQuantScale = 9;
    s.topBorderLines = 4;
    auto sheet = Open();

    CAdvancedPage* p = Visit(*sheet, AdvancedPage::MotionVectors);
    EXPECT_EQ(EditText(p, 1011), "40");
    EXPECT_EQ(EditText(p, 1020), "24");
    Control<CSpinCtrl8>(p, 1010)->findChild<QToolButton*>("up")->click();  // steps of 8
    EXPECT_EQ(EditText(p, 1011), "48");
    SetEdit(p, 1018, "24");

    p = Visit(*sheet, AdvancedPage::Sequence);
    EXPECT_EQ(EditText(p, 1039), "3");
    EXPECT_EQ(EditText(p, 1046), "I BB P BB P BB P BB I ...");
    Control<QPushButton>(p, 1048)->click();
    EXPECT_EQ(EditText(p, 1039), "15");
    EXPECT_EQ(EditText(p, 1046), "I P P P P P P P P P P P P P P P I...");

    p = Visit(*sheet, AdvancedPage::Performance);
    EXPECT_TRUE(Control<QRadioButton>(p, 1007)->isChecked());
    Control<QRadioButton>(p, 1004)->click();
    Control<QCheckBox>(p, 1037)->setChecked(false);

    p = Visit(*sheet, AdvancedPage::Sync);
    EXPECT_TRUE(Control<QRadioButton>(p, 1003)->isChecked());
    EXPECT_FALSE(Control<QRadioButton>(p, 1004)->isEnabled());  // audio needs the duration kept

    p = Visit(*sheet, AdvancedPage::Headers);
    EXPECT_EQ(Control<QComboBox>(p, 1152)->currentText(), "One out of every 2 GOPs closed");
    Control<QComboBox>(p, 1153)->setCurrentIndex(10);

    p = Visit(*sheet, AdvancedPage::Audio);
    EXPECT_TRUE(Control<QRadioButton>(p, 1053)->isChecked());
    EXPECT_FALSE(Control<QRadioButton>(p, 1050)->isEnabled());  // stereo input
    EXPECT_EQ(Control<QComboBox>(p, 1059)->currentText(), "192");
    Control<QRadioButton>(p, 1051)->click();
    Control<QComboBox>(p, 1059)->setCurrentIndex(8);

    p = Visit(*sheet, AdvancedPage::Files);
    EXPECT_EQ(EditText(p, 1064), "/tmp/v.m1v");
    std::string offeredTitle, offeredFilter;
    SetTempFileChooser([&](const std::string& title, const std::string& filter, const std::string&,
                           const std::string&, const std::string&) {
        offeredTitle = title;
        offeredFilter = filter;
        return std::string("/tmp/chosen.mp2");
    });
    Control<QPushButton>(p, 1067)->click();
    SetTempFileChooser(nullptr);
    EXPECT_EQ(offeredTitle, "Temporary Audio File");
    EXPECT_EQ(offeredFilter, "MPEG Audio Files (*.mp2)|*.mp2||");
    EXPECT_EQ(EditText(p, 1065), "/tmp/chosen.mp2");
    Control<QCheckBox>(p, 1068)->setChecked(false);

    p = Visit(*sheet, AdvancedPage::System);
    EXPECT_EQ(EditText(p, 1070), "2324");
    SetEdit(p, 1072, "40");
    Control<QCheckBox>(p, 1075)->setChecked(true);

    p = Visit(*sheet, AdvancedPage::Special);
    EXPECT_TRUE(Control<QRadioButton>(p, 1005)->isChecked());
    Control<QRadioButton>(p, 1006)->click();

    p = Visit(*sheet, AdvancedPage::Mpeg1);
    EXPECT_EQ(EditText(p, 1138), "12");
    Control<QCheckBox>(p, 1077)->setChecked(false);

    p = Visit(*sheet, AdvancedPage::Input);
    EXPECT_TRUE(Control<QRadioButton>(p, 1004)->isChecked());
    EXPECT_EQ(EditText(p, 1139), "55");
    EXPECT_TRUE(Control<QLineEdit>(p, 1139)->isEnabled());
    EXPECT_FALSE(Control<QLineEdit>(p, 1140)->isEnabled());
    Control<QRadioButton>(p, 1005)->click();
    EXPECT_FALSE(Control<QLineEdit>(p, 1139)->isEnabled());
    SetEdit(p, 1140, "70");
    Control<QCheckBox>(p, 1144)->setChecked(true);

    p = Visit(*sheet, AdvancedPage::Processes);
    EXPECT_EQ(EditText(p, 1096), "2");
    Control<QCheckBox>(p, 1099)->setChecked(true);

    p = Visit(*sheet, AdvancedPage::BitrateControl);
    EXPECT_TRUE(Control<QRadioButton>(p, 1009)->isChecked());
    EXPECT_EQ(EditText(p, 1147), "9");
    EXPECT_EQ(EditText(p, 1154), "1600");
    SetEdit(p, 1147, "12");
    SetEdit(p, 1149, "1300");

    p = Visit(*sheet, AdvancedPage::Edges);
    EXPECT_EQ(EditText(p, 1156), "4");
    SetEdit(p, 1160, "32");

    bool modified = false;
    ASSERT_TRUE(PressOk(*sheet, &modified));
    EXPECT_TRUE(modified);
    EXPECT_TRUE(boxes.Texts().empty());
    EXPECT_EQ(s.pFrameMotionRange[0], 48);
    EXPECT_EQ(s.bFrameMotionRange[0], 24);
    EXPECT_EQ(s.gopSize, 16);
    EXPECT_EQ(s.ipDistance, 1);
    EXPECT_EQ(s.performanceMode, 2);
    EXPECT_EQ(s.qualityStatisticsMode, 0);
    EXPECT_EQ(s.closedGopOption, 2);
    EXPECT_EQ(s.sequenceHeaderOption, 10);
    EXPECT_EQ(s.audioMode, 1);
    EXPECT_EQ(s.audioBitRateIndex, 8);
    EXPECT_EQ(s.audioBitRate, 320);
    EXPECT_EQ(SelectedAudioBitRate, 320);
    EXPECT_EQ(s.tempAudioFileName, "/tmp/chosen.mp2");
    EXPECT_EQ(s.deleteTempVideo, 0);
    EXPECT_EQ(s.muxVideoBufferKb, 40);
    EXPECT_EQ(s.muxConstantRate, 1);
    EXPECT_EQ(s.skipBFramesMode, 3);
    EXPECT_EQ(s.constrainedParameters, 0);
    EXPECT_EQ(s.medianFilter, 0);
    EXPECT_EQ(s.lowPassFilter, 1);
    EXPECT_EQ(s.lowPassFilterStrength, 70);
    EXPECT_EQ(s.deinterlace, 1);
    EXPECT_EQ(ThreadEncodeFlag, 1);
    EXPECT_EQ(s.constantQuantScale, 12);
    EXPECT_EQ(s.averageBitRateUpper, 1300.0 * 1024);
    EXPECT_EQ(s.maxBitRate, 1638400.0);
    EXPECT_EQ(s.bottomBorderLines, 32);
    EXPECT_EQ(s.topBorderLines, 4);

    // The MPEG-2 page of an MPEG-2 sheet.
    form.mpeg2 = true;
    s.mpegLevel = 6;
    s.videoFormat = 1;
    s.mpeg2AspectRatio = 3;
    auto second = Open();
    p = Visit(*second, AdvancedPage::Mpeg2);
    EXPECT_EQ(Control<QComboBox>(p, 1012)->currentIndex(), 2);
    EXPECT_EQ(Control<QComboBox>(p, 1024)->currentText(), "PAL");
    EXPECT_EQ(EditText(p, 1103), "3");
    Control<QComboBox>(p, 1012)->setCurrentIndex(0);
    Control<QCheckBox>(p, 1149)->setChecked(true);
    Control<QCheckBox>(p, 1165)->setChecked(true);
    ASSERT_TRUE(PressOk(*second));
    EXPECT_EQ(s.mpegProfile, 4);
    EXPECT_EQ(s.mpegLevel, 10);
    EXPECT_EQ(s.mpeg2MuxConstantRate, 1);
    EXPECT_EQ(s.sequenceDisplayExtension, 1);
}

TEST_F(SheetPagesTest, RangeMessagesKeepThePageAndChecksKeepTheSheet) {
    auto sheet = Open();
    CAdvancedPage* mv = sheet->PageAt(0);
    sheet->PageAt(0)->Activate();
    SetEdit(mv, 1030 - 19, "1030");  // P horizontal above its limit
    EXPECT_FALSE(sheet->SetActivePage(1));
    EXPECT_EQ(sheet->ActiveIndex(), 0);
    EXPECT_EQ(sheet->findChild<QTabWidget*>("tabs")->currentIndex(), 0);
    ASSERT_EQ(boxes.Texts(), std::vector<std::string>{"Please enter an integer between 8 and 1024."});
    SetEdit(mv, 1011, "x");
    EXPECT_FALSE(PressOk(*sheet));
    EXPECT_EQ(boxes.Texts().back(), "Please enter an integer.");

    // Within the limits but off the grid: the sheet stays open.
    boxes.Clear();
    SetEdit(mv, 1011, "12");
    EXPECT_FALSE(PressOk(*sheet));
    ASSERT_EQ(boxes.Texts().size(), 1u);
    EXPECT_EQ(boxes.Texts()[0],
              "Error: Maximum P frame horizontal motion vector\n must be positive, multiple of 8.\n Please correct "
              "maximum horizontal motion vector.");

    // B pictures without P pictures: an error that shows the Sequence page.
    boxes.Clear();
    SetEdit(mv, 1011, "32");
    CAdvancedPage* seq = Visit(*sheet, AdvancedPage::Sequence);
    SetEdit(seq, 1039, "0");
    EXPECT_EQ(EditText(seq, 1046), "Error: number of B frames >0 while number of P frames =0.");
    Visit(*sheet, AdvancedPage::Edges);
    EXPECT_FALSE(PressOk(*sheet));
    EXPECT_EQ(sheet->PageAt(sheet->ActiveIndex())->Kind(), AdvancedPage::Sequence);

    // P 7 and B 2: a group of 24 pictures with M 3.
    SetEdit(seq, 1039, "7");
    ASSERT_TRUE(PressOk(*sheet));
    const std::vector<std::string> lines = Lines(SavedProfile("seq.prf"));
    EXPECT_EQ(lines[9], "24");
    EXPECT_EQ(lines[10], "3");
}

TEST_F(SheetPagesTest, OkWithoutChangesAndCancelLeaveTheSavedProfileAlone) {
    // A saved profile with values the pages can show only approximately.
    EncoderSettingsRecord& s = EncoderSettings;
    s.gopSize = 13;
    s.rateControl = kRateVariable;
    s.vbrMode = kVbrQuantWithinAverage;
    s.maxBitRate = 3000001.0;
    s.averageBitRateUpper = 2000000.5;
    s.averageBitRateLower = 700000.0;
    s.averageBitRate = 1000003.0;
    s.mpegProfile = 1;
    s.mpegLevel = 8;
    s.closedGopOption = 4;
    ASSERT_EQ(WriteProfile((dir / "saved.prf").c_str()), 0);
    ReadProfile((dir / "saved.prf").c_str());
    ASSERT_EQ(ProfileLoaded, 1);
    const std::string saved = SavedProfile("before.prf");
    const auto ini = dir.path() / "config" / "ROZARAZ2.INI";

    for (bool mpeg2 : {false, true}) {
        form.mpeg2 = mpeg2;
        auto sheet = Open();
        VisitAll(*sheet);
        bool modified = true;
        ASSERT_TRUE(PressOk(*sheet, &modified));
        EXPECT_FALSE(modified);
        EXPECT_EQ(SavedProfile("after.prf"), saved);
    }
    EXPECT_FALSE(std::filesystem::exists(ini));

    // Changes on every page, then Cancel.
    form.mpeg2 = false;
    auto sheet = Open();
    auto changeAll = [&](CAdvancedSettingsSheet& sh) {
        for (int i = 0; i < sh.PageCount(); ++i) {
            ASSERT_TRUE(sh.SetActivePage(i));
            QWidget* page = sh.PageAt(i);
            for (QCheckBox* b : page->findChildren<QCheckBox*>())
                if (b->isEnabled()) b->toggle();
            for (QComboBox* c : page->findChildren<QComboBox*>())
                if (c->isEnabled()) c->setCurrentIndex((c->currentIndex() + 1) % c->count());
            for (QRadioButton* r : page->findChildren<QRadioButton*>())
                if (r->isEnabled() && !r->isChecked()) {
                    r->click();
                    break;
                }
            for (QToolButton* up : page->findChildren<QToolButton*>("down"))
                if (up->isEnabled()) up->click();
        }
    };
    changeAll(*sheet);
    SetEdit(sheet->Page(AdvancedPage::Files), 1064, "/elsewhere/v.m1v");
    EXPECT_FALSE(sheet->Values() == sheet->StartValues());
    bool modified = true;
    PressCancel(*sheet, &modified);
    EXPECT_FALSE(modified);
    EXPECT_EQ(SavedProfile("cancelled.prf"), saved);
    EXPECT_EQ(MeThreadCount, 2);
    EXPECT_FALSE(std::filesystem::exists(ini));
}

TEST_F(SheetPagesTest, BitrateControlIsCheckedWhenLeftNeverWhenEntered) {
    EncoderSettings.rateControl = kRateVariable;
    EncoderSettings.vbrMode = kVbrAverage;
    EncoderSettings.maxBitRate = 1000 * 1024.0;  // not above the average of 1440 kbit/s
    auto sheet = Open();
    CAdvancedPage* page = Visit(*sheet, AdvancedPage::BitrateControl);
    EXPECT_TRUE(boxes.Texts().empty());
    EXPECT_TRUE(Control<QLineEdit>(page, 1142)->isEnabled());
    EXPECT_FALSE(Control<QLineEdit>(page, 1147)->isEnabled());
    EXPECT_FALSE(Control<QLineEdit>(page, 1149)->isEnabled());

    EXPECT_FALSE(sheet->SetActivePage(0));
    ASSERT_EQ(boxes.Texts().size(), 1u);
    EXPECT_EQ(boxes.Texts()[0],
              "Error in Variable Bitrate Parameters:\n\nFor Simple Variable Bitrate Mode, Maximum bitrate must be\n"
              "greater than Average bitrate.  Please correct settings\nin Bitrate Control before exiting Advanced "
              "Parameters.");
    EXPECT_FALSE(PressOk(*sheet));
    EXPECT_EQ(sheet->PageAt(sheet->ActiveIndex()), page);

    // Constant bit rate turns every variable-rate control off.
    Control<QRadioButton>(page, 1139)->click();
    for (int id : {1142, 1147, 1149, 1150, 1154})
        EXPECT_FALSE(Control<QLineEdit>(page, id)->isEnabled()) << id;
    Control<QRadioButton>(page, 1140)->click();
    Control<QRadioButton>(page, 1009)->click();
    EXPECT_FALSE(Control<QLineEdit>(page, 1142)->isEnabled());
    EXPECT_TRUE(Control<QLineEdit>(page, 1147)->isEnabled());
    EXPECT_TRUE(Control<QLineEdit>(page, 1149)->isEnabled());
    EXPECT_TRUE(Control<QLineEdit>(page, 1150)->isEnabled());
    SetEdit(page, 1154, "1500");  // above the range's maximum of 1280
    boxes.Clear();
    EXPECT_TRUE(sheet->SetActivePage(0));
    EXPECT_TRUE(boxes.Texts().empty());
    ASSERT_TRUE(PressOk(*sheet));
    EXPECT_EQ(EncoderSettings.vbrMode, kVbrQuantWithinAverage);
    EXPECT_EQ(EncoderSettings.maxBitRate, 1500 * 1024.0);
    EXPECT_EQ(EncoderSettings.averageBitRate, 0.9 * 1638400.0);  // unchanged, not rounded
}

TEST_F(SheetPagesTest, ProcessesTakeSixteenThreadsAndSaveACountAlone) {
    auto sheet = Open();
    CAdvancedPage* page = Visit(*sheet, AdvancedPage::Processes);
    SetEdit(page, 1096, "17");
    EXPECT_FALSE(PressOk(*sheet));
    EXPECT_EQ(boxes.Texts().back(), "Please enter an integer between 1 and 16.");
    SetEdit(page, 1096, "161");  // two digits at most
    EXPECT_EQ(EditText(page, 1096), "16");
    ASSERT_TRUE(PressOk(*sheet));
    EXPECT_EQ(MeThreadCount, 16);
    const std::string ini = testsupport::ReadFile(dir.path() / "config" / "ROZARAZ2.INI");
    EXPECT_NE(ini.find("default_ME_threads=16"), std::string::npos) << ini;

    // "Default" on a four-processor machine; one processor disables the choice.
    auto second = Open();
    page = Visit(*second, AdvancedPage::Processes);
    Control<QPushButton>(page, 1101)->click();
    EXPECT_EQ(EditText(page, 1096), "4");
    EXPECT_TRUE(Control<QCheckBox>(page, 1100)->isChecked());
    ProcessorCount = 1;
    auto third = Open();
    page = Visit(*third, AdvancedPage::Processes);
    EXPECT_FALSE(Control<QLineEdit>(page, 1096)->isEnabled());
    EXPECT_TRUE(Control<QCheckBox>(page, 1097)->isEnabled());
    EXPECT_FALSE(Control<QCheckBox>(page, 1098)->isEnabled());
}

TEST_F(SheetPagesTest, ReopensOnTheLastTabWhileTheTabsAreTheSame) {
    {
        auto sheet = Open();
        ASSERT_TRUE(sheet->SetActivePage(4));
        ASSERT_TRUE(PressOk(*sheet));
    }
    EXPECT_EQ(Open()->ActiveIndex(), 4);
    form.audio = false;  // other tabs: the first one
    EXPECT_EQ(Open()->ActiveIndex(), 0);
}

TEST_F(SheetPagesTest, TheFormsCycleRunsTheSheetModally) {
    // The form's audio choice goes into the settings before the sheet opens.
    SelectedAudioMode = 0;
    SelectedAudioBitRateIndex = 2;
    SelectedAudioBitRate = 56;
    auto press = [](const char* button) {
        QTimer::singleShot(0, [button] {
            QWidget* sheet = QApplication::activeModalWidget();
            ASSERT_NE(sheet, nullptr);
            auto* page = sheet->findChild<QWidget*>("140");
            ASSERT_NE(page, nullptr);
            if (auto* list = page->findChild<QComboBox*>("1059")) list->setCurrentIndex(4);
            sheet->findChild<QPushButton*>(button)->click();
        });
    };
    LastAdvancedPage = 5;  // the Audio tab
    LastAdvancedPageCount = 14;
    bool modified = true;
    press("2");
    EXPECT_EQ(RunAdvancedSettings(nullptr, form, &modified), 0);
    EXPECT_FALSE(modified);
    EXPECT_EQ(EncoderSettings.audioMode, 0);
    EXPECT_EQ(EncoderSettings.audioBitRateIndex, 2);
    press("1");
    EXPECT_EQ(RunAdvancedSettings(nullptr, form, &modified), 1);
    EXPECT_TRUE(modified);
    EXPECT_EQ(EncoderSettings.audioBitRateIndex, 4);
    EXPECT_EQ(EncoderSettings.audioBitRate, 80);
    EXPECT_EQ(SelectedAudioBitRate, 80);
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST_F(SheetPagesTest, PicturesOfEveryPage) {
    const QString folder = QDir::current().absoluteFilePath("sheet_pages");
    QDir().mkpath(folder);
    for (bool mpeg2 : {false, true}) {
        form.mpeg2 = mpeg2;
        auto sheet = Open();
        sheet->resize(560, 480);
        for (int i = 0; i < sheet->PageCount(); ++i) {
            ASSERT_TRUE(sheet->SetActivePage(i));
            const QString file = folder + "/" + sheet->PageAt(i)->objectName() + ".png";
            ASSERT_TRUE(sheet->grab().save(file)) << file.toStdString();
        }
    }
    EXPECT_EQ(QDir(folder).entryList({"*.png"}).size(), 15);
}

}  // namespace
