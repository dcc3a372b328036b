// A profile edited through the advanced sheet, saved, read back and encoded
// by the job: ffprobe sees the group of pictures, the pixel aspect ratio and
// the audio the pages showed, and the temporary video stream is kept.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>
#include <cstdlib>
#include <string>

#include "app/CAdvancedSettingsSheet.h"
#include "job/Preview.h"
#include "job/AviSource.h"
#include "job/EncoderSettings.h"
#include "job/JobDriver.h"
#include "job/JobState.h"
#include "job/Profile.h"
#include "job/Report.h"
#include "job/RunState.h"
#include "platform/MessageBox.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::RunCommand;

QApplication& App() {
    static int argc = 1;
    static char name[] = "sheet_encode_test";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

template <typename T>
T* Control(QWidget* page, int id) {
    T* w = page->findChild<T*>(QString::number(id));
    EXPECT_NE(w, nullptr) << id;
    return w;
}

std::string Probe(const std::string& args, const std::string& file) {
    std::string out;
    RunCommand("ffprobe -v error " + args + " -of csv=p=0 '" + file + "'", &out);
    return out;
}

TEST(SheetEncodeTest, EditedProfileEncodesWithThePagesValues) {
    if (!testsupport::HaveTool("ffmpeg") || !testsupport::HaveTool("ffprobe")) GTEST_SKIP() << "no ffmpeg";
    App();
    ASSERT_EQ(InitEncoderLibrary(), 1);
    testsupport::TempDir dir;
    platform::ScriptedMessageBoxes boxes;
    BatchMode = 0;
    SetMessagePumpHooks({});
    JobWindows = JobWindowHooks{};

    const std::string avi = (dir / "in.avi").string();
    ASSERT_EQ(RunCommand("ffmpeg -v error -y -f lavfi -i testsrc2=size=352x288:rate=25 -f lavfi -i "
                         "sine=frequency=440:sample_rate=44100 -t 1.2 -ac 2 -c:v mjpeg -c:a pcm_s16le '" +
                         avi + "'"),
              0);
    ReadProfile("+");
    EncoderSettingsRecord& e = EncoderSettings;
    e.inputType = 2;
    e.inputFileName = avi;
    e.horizontalSize = 352;
    e.verticalSize = 288;
    e.framesToEncode = 30;
    e.frameRateCode = 3;
    e.mpeg1 = 1;
    e.streamType = 1;
    e.showInput = e.showOutput = 0;
    e.qualityStatisticsMode = 0;
    e.outputFileName = (dir / "out.mpg").string();
    e.tempVideoFileName = (dir / "tmp.m1v").string();
    e.tempAudioFileName = (dir / "tmp.mp2").string();
    e.encodeAudio = 1;
    AviInfoTexts info;
    ASSERT_EQ(ProbeAviInputFile(avi, &info), 1);
    const std::string profile = (dir / "job.prf").string();
    ASSERT_EQ(WriteProfile(profile.c_str()), 0);
    ReadProfile(profile.c_str());
    ASSERT_EQ(ProfileLoaded, 1);
    SelectedAudioMode = -1;

    // Through the sheet: a group of 10 with M 2, pixel aspect code 12, joint
    // stereo at 192 kbit/s, the temporary video kept.
    AdvancedSheetForm form;
    form.mpeg2 = false;
    form.audio = true;
    form.aviChannels = 2;
    PrepareAdvancedSheet(form, e);
    CAdvancedSettingsSheet sheet(form, e, ThreadOptionValues{});
    sheet.show();
    auto visit = [&](AdvancedPage kind) -> CAdvancedPage* {
        for (int i = 0; i < sheet.PageCount(); ++i)
            if (sheet.PageAt(i)->Kind() == kind) {
                EXPECT_TRUE(sheet.SetActivePage(i));
                return sheet.PageAt(i);
            }
        return nullptr;
    };
    CAdvancedPage* page = visit(AdvancedPage::Sequence);
    Control<QLineEdit>(page, 1039)->setText("4");
    Control<QLineEdit>(page, 1040)->setText("1");
    page = visit(AdvancedPage::Mpeg1);
    Control<QLineEdit>(page, 1138)->setText("12");
    page = visit(AdvancedPage::Files);
    Control<QCheckBox>(page, 1068)->setChecked(false);
    page = visit(AdvancedPage::Audio);
    Control<QRadioButton>(page, 1053)->click();
    Control<QComboBox>(page, 1059)->setCurrentIndex(5);
    page = visit(AdvancedPage::Headers);
    Control<QComboBox>(page, 1152)->setCurrentIndex(1);  // every group closed
    sheet.findChild<QPushButton*>("1")->click();
    ASSERT_EQ(sheet.result(), QDialog::Accepted) << (boxes.Texts().empty() ? "" : boxes.Texts()[0]);
    bool modified = false;
    FinishAdvancedSettings(sheet, true, form, &modified);
    EXPECT_TRUE(modified);
    ASSERT_EQ(WriteProfile(profile.c_str()), 0);

    ReadProfile(profile.c_str());
    ASSERT_EQ(ProfileLoaded, 1);
    ASSERT_EQ(e.gopSize, 10);
    ASSERT_EQ(ProbeAviInputFile(avi, &info), 1);
    SelectedAudioMode = e.audioMode;
    SelectedAudioBitRate = e.audioBitRate;
    SelectedAudioBitRateIndex = e.audioBitRateIndex;
    JobFilesReady = 1;
    ASSERT_EQ(RunEncoding(nullptr), 1);
    ASSERT_EQ(JobResult, 0) << (boxes.Texts().empty() ? "" : boxes.Texts()[0]);
    const std::string out = e.outputFileName;

    EXPECT_EQ(Probe("-select_streams v:0 -show_entries stream=codec_name", out), "mpeg1video\n");
    // Code 12 is a pixel height-to-width ratio of 1.0950.
    const std::string sar = Probe("-select_streams v:0 -show_entries stream=sample_aspect_ratio", out);
    const size_t colon = sar.find(':');
    ASSERT_NE(colon, std::string::npos) << sar;
    EXPECT_NEAR(std::atof(sar.substr(colon + 1).c_str()) / std::atof(sar.c_str()), 1.0950, 0.002) << sar;
    EXPECT_TRUE(std::filesystem::exists(e.tempVideoFileName));
    EXPECT_EQ(Probe("-select_streams a:0 -show_entries stream=codec_name,sample_rate,channels,bit_rate", out),
              "mp2,44100,2,192000\n");
    // Pictures in display order: an I picture every 10, B and P taking turns.
    std::string types = Probe("-select_streams v:0 -show_entries frame=pict_type", out);
    std::erase_if(types, [](char c) { return c == '\n' || c == ','; });
    EXPECT_EQ(types.substr(0, 20), "IBPBPBPBPBIBPBPBPBPB");
}

}  // namespace
