// The settings files: keys with their defaults and ranges, the profile
// folder, remembered folders and the display defaults written back.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/AppSettings.h"
#include "app/CommandLine.h"
#include "job/Profile.h"
#include "platform/Ini.h"
#include "platform/MessageBox.h"
#include "settings/EncoderSettings.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

class AppSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = fs::current_path();
        fs::create_directories(dir_.path() / "work");
        fs::current_path(dir_.path() / "work");
        InitSettingsFileName();
        EncoderSettings = EncoderSettingsRecord{};
        DefaultShowInput = 0;
        DefaultShowOutput = DefaultAutoWindowSize = DefaultStretchPreview = 1;
        PreviewDevice = 0;
        UseMediaPlayer = CheckFileOpen = 1;
        MruFileCount = 5;
        Winnt351Requested = 0;
        ProfileDirectory.clear();
    }
    void TearDown() override { fs::current_path(previous_); }
    void Key(const char* key, const std::string& value) {
        ASSERT_TRUE(platform::IniWriteString("ZRN-MPEG", key, value, SettingsFileName));
    }
    std::string Workdir() const { return fs::current_path().string(); }

    testsupport::TempDir dir_;
    platform::ScriptedMessageBoxes boxes_;
    fs::path previous_;
};

TEST_F(AppSettingsTest, DefaultsWithoutAFile) {
    EncoderSettings.qualityStatisticsMode = 0;
    ReadSettings();
    EXPECT_EQ(EncoderSettings.disableMmx, 0);
    EXPECT_EQ(EncoderSettings.qualityStatisticsMode, 1);
    EXPECT_EQ(EncoderSettings.blackLevel, 16);
    EXPECT_EQ(DefaultShowInput, 0);
    EXPECT_EQ(DefaultShowOutput, 1);
    EXPECT_EQ(DefaultAutoWindowSize, 1);
    EXPECT_EQ(UseMediaPlayer, 1);
    EXPECT_EQ(CheckFileOpen, 1);
    EXPECT_EQ(MruFileCount, 5);
    EXPECT_TRUE(boxes_.Shown().empty());
    // The profile folder is made below the working directory and remembered.
    EXPECT_EQ(ProfileDirectory, Workdir() + "/profiles/");
    EXPECT_TRUE(fs::is_directory(ProfileDirectory));
    EXPECT_EQ(platform::IniReadString("ZRN-MPEG", "Profile Path", "", SettingsFileName), ProfileDirectory);
    EXPECT_FALSE(fs::exists(fs::path(ProfileDirectory) / "$$tempfile.$$t"));
}

TEST_F(AppSettingsTest, KeysInsideTheirRanges) {
    Key("disable_mmx", "1");
    Key("system_winnt351", "1");
    Key("default_show_input", "2");
    Key("default_show_output", "1");
    Key("default_quality_stats", "0");
    Key("default_window_size_auto", "1");
    Key("default_scale_image", "2");
    Key("preview_device", "2");
    Key("NOCHECKSPACE", "1");
    Key("suppress_warnings", "1");
    Key("USE_NEW_MUX", "1");
    Key("BLACK_LEVEL", "63");
    Key("USE_MEDIA_PLAYER", "0");
    Key("CHECK_FILE_OPEN", "0");
    Key("VBV_PROTECTION_MODE", "-1");
    Key("N_MRU_FILES", "15");
    Key("SMART_DEINTERLACE_MODE", "127");
    ReadSettings();
    EXPECT_EQ(EncoderSettings.disableMmx, 1);
    EXPECT_EQ(Winnt351Requested, 1);
    EXPECT_EQ(DefaultShowInput, 1);
    EXPECT_EQ(DefaultShowOutput, 0);
    EXPECT_EQ(EncoderSettings.qualityStatisticsMode, 0);
    EXPECT_EQ(DefaultAutoWindowSize, 0);
    EXPECT_EQ(DefaultStretchPreview, 1);
    EXPECT_EQ(PreviewDevice, 2);
    EXPECT_EQ(EncoderSettings.noCheckSpace, 1);
    EXPECT_EQ(EncoderSettings.suppressWarnings, 1);
    EXPECT_EQ(EncoderSettings.useNewMux, 1);
    EXPECT_EQ(EncoderSettings.blackLevel, 63);
    EXPECT_EQ(UseMediaPlayer, 0);
    EXPECT_EQ(CheckFileOpen, 0);
    EXPECT_EQ(EncoderSettings.vbvProtectionMode, -1);
    EXPECT_EQ(MruFileCount, 15);
    EXPECT_EQ(EncoderSettings.smartDeinterlaceMode, 127);
}

TEST_F(AppSettingsTest, KeysOutsideTheirRangesLeaveTheValues) {
    Key("disable_mmx", "2");
    Key("default_show_input", "3");
    Key("default_window_size_auto", "0");
    Key("preview_device", "3");
    Key("SUPPRESS_WARNINGS", "2");
    Key("BLACK_LEVEL", "64");
    Key("USE_MEDIA_PLAYER", "3");
    Key("CHECK_FILE_OPEN", "-1");
    Key("VBV_PROTECTION_MODE", "2");
    Key("N_MRU_FILES", "2");
    Key("SMART_DEINTERLACE_MODE", "128");
    PreviewDevice = 1;
    ReadSettings();
    EXPECT_EQ(EncoderSettings.disableMmx, 0);
    EXPECT_EQ(DefaultShowInput, 0);
    EXPECT_EQ(DefaultAutoWindowSize, 1);
    EXPECT_EQ(PreviewDevice, 0);
    EXPECT_EQ(EncoderSettings.suppressWarnings, 0);
    EXPECT_EQ(EncoderSettings.blackLevel, 16);
    EXPECT_EQ(UseMediaPlayer, 1);
    EXPECT_EQ(CheckFileOpen, 1);
    EXPECT_EQ(EncoderSettings.vbvProtectionMode, 0);
    EXPECT_EQ(MruFileCount, 5);
    EXPECT_EQ(EncoderSettings.smartDeinterlaceMode, 0);

    Key("N_MRU_FILES", "16");
    ReadSettings();
    EXPECT_EQ(MruFileCount, 5);
}

TEST_F(AppSettingsTest, UnusableProfileFolder) {
    Key("Profile Path", (dir_.path() / "missing").string() + "/");
    ReadSettings();
    ASSERT_EQ(boxes_.Texts().size(), 1u);
    EXPECT_EQ(boxes_.Texts()[0],
              "Program is unable to access profile directory. \nNew profile directory will be created in the\n"
              "current working directory.");
    EXPECT_EQ(ProfileDirectory, Workdir() + "/profiles/");

    // A working directory where no profile folder can be made (a file is in
    // the way): the derived path stays, the key is not written.
    boxes_.Clear();
    fs::create_directories(dir_.path() / "other");
    fs::current_path(dir_.path() / "other");
    testsupport::WriteFile(fs::current_path() / "profiles", "not a folder");
    Key("Profile Path", "");
    ReadSettings();
    ASSERT_EQ(boxes_.Texts().size(), 1u);
    EXPECT_NE(boxes_.Texts()[0].find("unable to create new profile directory"), std::string::npos);
    EXPECT_EQ(ProfileDirectory, Workdir() + "/profiles/");
    EXPECT_EQ(platform::IniReadString("ZRN-MPEG", "Profile Path", "x", SettingsFileName), "");
}

TEST_F(AppSettingsTest, DisplayDefaultsWrittenAsTwoForOn) {
    EncoderSettings.showInput = 1;
    EncoderSettings.showOutput = 0;
    EncoderSettings.autoResizeWindow = 1;
    EncoderSettings.stretchPreview = 0;
    EncoderSettings.qualityStatisticsMode = 0;
    ProfileDirectory.clear();
    EXPECT_FALSE(WriteDefaultSettings(false));  // no profile folder: keys only
    auto read = [](const char* key) { return platform::IniReadInt("ZRN-MPEG", key, -9, SettingsFileName); };
    EXPECT_EQ(read("default_show_input"), 2);
    EXPECT_EQ(read("default_show_output"), 1);
    EXPECT_EQ(read("default_window_size_auto"), 2);
    EXPECT_EQ(read("default_scale_image"), 1);
    EXPECT_EQ(read("default_quality_stats"), 0);
    ASSERT_TRUE(WriteSuppressWarningsSetting(1));
    // Read back, they become the display defaults.
    ReadSettings();
    EXPECT_EQ(DefaultShowInput, 1);
    EXPECT_EQ(DefaultShowOutput, 0);
    EXPECT_EQ(EncoderSettings.suppressWarnings, 1);
}

TEST_F(AppSettingsTest, DefaultProfileNeedsGoodParameters) {
    ProfileDirectory = (dir_.path() / "work").string() + "/";
    bool applies = false;
    SetDefaultSettingsHooks({[] { return true; }, [&] { return applies; }});
    EXPECT_FALSE(WriteDefaultSettings(true));
    ASSERT_EQ(boxes_.Texts().size(), 1u);
    EXPECT_EQ(boxes_.Texts()[0].rfind("Unable to write default profile file.", 0), 0u);
    EXPECT_FALSE(fs::exists(DefaultProfileFileName()));
    EXPECT_FALSE(fs::exists(SettingsFileName));  // profileOnly wrote no keys

    // Without a view nothing is asked and nothing written.
    SetDefaultSettingsHooks({[] { return false; }, [&] { return true; }});
    EXPECT_FALSE(WriteDefaultSettings(true));
    EXPECT_EQ(boxes_.Texts().size(), 1u);

    applies = true;
    SetDefaultSettingsHooks({[] { return true; }, [&] { return applies; }});
    EncoderSettings = EncoderSettingsRecord{};
    ReadProfile("+");
    boxes_.Clear();
    EXPECT_TRUE(WriteDefaultSettings(true));
    EXPECT_TRUE(boxes_.Texts().empty());
    EXPECT_TRUE(fs::exists(DefaultProfileFileName()));
    SetDefaultSettingsHooks({});
}

TEST_F(AppSettingsTest, RememberedFoldersAndExtension) {
    EXPECT_EQ(GetMainAviInputDirectory(), Workdir() + "/");
    ASSERT_TRUE(SetMainAviInputDirectory("/data/clips"));
    ASSERT_TRUE(SetMainMpegOutputDirectory("/data/out/"));
    ASSERT_TRUE(SetBatchOutputDirectory("/data/batch"));
    EXPECT_EQ(GetMainAviInputDirectory(), "/data/clips/");
    EXPECT_EQ(GetMainMpegOutputDirectory(), "/data/out/");
    EXPECT_EQ(GetBatchOutputDirectory(), "/data/batch/");
    // The setters keep the path as given.
    EXPECT_EQ(platform::IniReadString("ZRN-MPEG", "Batch_Output_Directory", "", ProgramIniFileName()), "/data/batch");
    // Blanks and quotes at a folder's ends survive the settings file.
    for (const char* folder : {" /data/edge ", "\"/data/q", "/data/plain"}) {
        ASSERT_TRUE(SetLastBatchOutputFolder(folder));
        EXPECT_EQ(GetLastBatchOutputFolder(), folder);
    }

    EXPECT_EQ(GetMpeg2FileExtension(), ".prg");
    platform::IniWriteString("ZRN-MPEG", "MPEG2 extension", "mpg", ProgramIniFileName());
    EXPECT_EQ(GetMpeg2FileExtension(), ".mpg");
    platform::IniWriteString("ZRN-MPEG", "MPEG2 extension", ".m2p", ProgramIniFileName());
    EXPECT_EQ(GetMpeg2FileExtension(), ".m2p");
    EXPECT_EQ(ProgramIniFileName().filename(), "ROZARAZ2.INI");
    EXPECT_EQ(SettingsFileName.filename(), "RADUDUR.INI");
}

}  // namespace
