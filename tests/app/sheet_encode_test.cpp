// Profiles edited through the advanced sheet, saved, read back and encoded by
// the job: ffprobe sees the group of pictures, the aspect ratio, progressive
// pictures, the maximum bit rate and the audio the pages showed.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/CAdvancedSettingsSheet.h"
#include "job/AviSource.h"
#include "job/JobDriver.h"
#include "job/Profile.h"
#include "platform/MessageBox.h"
#include "settings/EncoderSettings.h"
#include "settings/JobState.h"
#include "settings/Preview.h"
#include "settings/Report.h"
#include "settings/RunState.h"
#include "tests/support/QtTestSupport.h"
#include "tests/support/TestSupport.h"

namespace {

using qttest::App;
using qttest::Control;
using testsupport::RunCommand;

std::string Probe(const std::string& args, const std::string& file) {
    std::string out;
    RunCommand("ffprobe -v error " + args + " -of csv=p=0 '" + file + "'", &out);
    return out;
}

class SheetEncodeTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testsupport::HaveTool("ffmpeg") || !testsupport::HaveTool("ffprobe")) GTEST_SKIP() << "no ffmpeg";
        App();
        ASSERT_EQ(InitEncoderLibrary(), 1);
        BatchMode = 0;
        SetMessagePumpHooks({});
        JobWindows = JobWindowHooks{};
    }

    // A saved and reloaded profile for a 30-picture PAL-sized AVI with stereo
    // sound, and the sheet the form opens on it.
    void OpenSheetOnSavedJob(bool mpeg2) {
        avi_ = (dir_ / "in.avi").string();
        ASSERT_EQ(RunCommand("ffmpeg -v error -y -f lavfi -i testsrc2=size=352x288:rate=25 -f lavfi -i "
                             "sine=frequency=440:sample_rate=44100 -t 1.2 -ac 2 -c:v mjpeg -c:a pcm_s16le '" +
                             avi_ + "'"),
                  0);
        ReadProfile("+");
        EncoderSettingsRecord& e = EncoderSettings;
        e.inputType = 2;
        e.inputFileName = avi_;
        e.horizontalSize = 352;
        e.verticalSize = 288;
        e.framesToEncode = 30;
        e.frameRateCode = 3;
        e.mpeg1 = mpeg2 ? 0 : 1;
        e.streamType = mpeg2 ? kStreamTypeMpeg2 : kStreamTypeMpeg1;
        e.showInput = e.showOutput = 0;
        e.qualityStatisticsMode = 0;
        e.outputFileName = (dir_ / "out.mpg").string();
        e.tempVideoFileName = (dir_ / (mpeg2 ? "tmp.m2v" : "tmp.m1v")).string();
        e.tempAudioFileName = (dir_ / "tmp.mp2").string();
        e.encodeAudio = 1;
        AviInfoTexts info;
        ASSERT_EQ(ProbeAviInputFile(avi_, &info), 1);
        profile_ = (dir_ / "job.prf").string();
        ASSERT_EQ(WriteProfile(profile_.c_str()), 0);
        ReadProfile(profile_.c_str());
        ASSERT_EQ(ProfileLoaded, 1);
        SelectedAudioMode = -1;
        form_.mpeg2 = mpeg2;
        form_.audio = true;
        form_.aviChannels = 2;
        PrepareAdvancedSheet(form_, e);
        sheet_ = std::make_unique<CAdvancedSettingsSheet>(form_, e, ThreadOptionValues{});
        sheet_->show();
        // Common to both: a group of 10 with M 2, every group closed, joint
        // stereo at 192 kbit/s.
        CAdvancedPage* page = Visit(AdvancedPage::Sequence);
        Control<QLineEdit>(page, 1039)->setText("4");
        Control<QLineEdit>(page, 1040)->setText("1");
        page = Visit(AdvancedPage::Audio);
        Control<QRadioButton>(page, 1053)->click();
        Control<QComboBox>(page, 1059)->setCurrentIndex(5);
        Control<QComboBox>(Visit(AdvancedPage::Headers), 1152)->setCurrentIndex(1);
    }
    CAdvancedPage* Visit(AdvancedPage kind) {
        for (int i = 0; i < sheet_->PageCount(); ++i)
            if (sheet_->PageAt(i)->Kind() == kind) {
                EXPECT_TRUE(sheet_->SetActivePage(i));
                return sheet_->PageAt(i);
            }
        ADD_FAILURE() << "page not shown";
        return nullptr;
    }
    // OK, save, read the profile back and encode it; the output's name.
    std::string OkSaveAndEncode() {
        sheet_->findChild<QPushButton*>("1")->click();
        EXPECT_EQ(sheet_->result(), QDialog::Accepted) << (boxes_.Texts().empty() ? "" : boxes_.Texts()[0]);
        bool modified = false;
        FinishAdvancedSettings(*sheet_, true, form_, &modified);
        EXPECT_TRUE(modified);
        EXPECT_EQ(WriteProfile(profile_.c_str()), 0);
        ReadProfile(profile_.c_str());
        EXPECT_EQ(ProfileLoaded, 1);
        EncoderSettingsRecord& e = EncoderSettings;
        EXPECT_EQ(e.gopSize, 10);
        AviInfoTexts info;
        EXPECT_EQ(ProbeAviInputFile(avi_, &info), 1);
        SelectedAudioMode = e.audioMode;
        SelectedAudioBitRate = e.audioBitRate;
        SelectedAudioBitRateIndex = e.audioBitRateIndex;
        JobFilesReady = 1;
        EXPECT_EQ(RunEncoding(nullptr), 1);
        EXPECT_EQ(JobResult, 0) << (boxes_.Texts().empty() ? "" : boxes_.Texts()[0]);
        return e.outputFileName;
    }
    static void ExpectCommonStreams(const std::string& out) {
        EXPECT_EQ(Probe("-select_streams a:0 -show_entries stream=codec_name,sample_rate,channels,bit_rate", out),
                  "mp2,44100,2,192000\n");
        // Pictures in display order: an I picture every 10, B and P taking turns.
        std::string types = Probe("-select_streams v:0 -show_entries frame=pict_type", out);
        std::erase_if(types, [](char c) { return c == '\n' || c == ','; });
        EXPECT_EQ(types.substr(0, 20), "IBPBPBPBPBIBPBPBPBPB");
    }

    testsupport::TempDir dir_;
    platform::ScriptedMessageBoxes boxes_;
    std::string avi_, profile_;
    AdvancedSheetForm form_;
    std::unique_ptr<CAdvancedSettingsSheet> sheet_;
};

TEST_F(SheetEncodeTest, Mpeg1ProfileEncodesWithThePagesValues) {
    OpenSheetOnSavedJob(false);
    Control<QLineEdit>(Visit(AdvancedPage::Mpeg1), 1138)->setText("12");
    Control<QCheckBox>(Visit(AdvancedPage::Files), 1068)->setChecked(false);  // keep the video stream
    const std::string out = OkSaveAndEncode();
    EXPECT_EQ(Probe("-select_streams v:0 -show_entries stream=codec_name", out), "mpeg1video\n");
    // Code 12 is a pixel height-to-width ratio of 1.0950.
    const std::string sar = Probe("-select_streams v:0 -show_entries stream=sample_aspect_ratio", out);
    const size_t colon = sar.find(':');
    ASSERT_NE(colon, std::string::npos) << sar;
    EXPECT_NEAR(std::atof(sar.substr(colon + 1).c_str()) / std::atof(sar.c_str()), 1.0950, 0.002) << sar;
    EXPECT_TRUE(std::filesystem::exists(EncoderSettings.tempVideoFileName));
    ExpectCommonStreams(out);
}

TEST_F(SheetEncodeTest, Mpeg2ProfileEncodesWithThePagesValues) {
    OpenSheetOnSavedJob(true);
    CAdvancedPage* page = Visit(AdvancedPage::Mpeg2);
    Control<QLineEdit>(page, 1103)->setText("3");
    Control<QComboBox>(page, 1024)->setCurrentIndex(1);  // PAL
    page = Visit(AdvancedPage::BitrateControl);
    Control<QRadioButton>(page, 1140)->click();
    Control<QLineEdit>(page, 1142)->setText("2000");
    Control<QLineEdit>(page, 1154)->setText("3000");
    const std::string out = OkSaveAndEncode();
    EXPECT_EQ(Probe("-select_streams v:0 -show_entries stream=codec_name,display_aspect_ratio,field_order", out)
                  .substr(0, 27),
              "mpeg2video,16:9,progressive");
    // Variable bit rate: the sequence header carries the page's maximum.
    std::string rate;
    RunCommand("ffprobe -v error -select_streams v:0 -show_entries stream_side_data=max_bitrate -of default=nw=1 '" +
                   out + "'",
               &rate);
    EXPECT_NE(rate.find("max_bitrate=3072000"), std::string::npos) << rate;
    ExpectCommonStreams(out);
}

}  // namespace
