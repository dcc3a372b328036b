// Reading and writing the two settings files of the program.
#include "app/AppSettings.h"

#include <cstdio>
#include <system_error>
#include <unistd.h>

#include "app/CommandLine.h"
#include "job/Profile.h"
#include "platform/Format.h"
#include "platform/Ini.h"
#include "platform/MessageBox.h"
#include "platform/ResStrings.h"
#include "settings/EncoderSettings.h"

namespace fs = std::filesystem;

fs::path SettingsFileName;
std::string ProfileDirectory;
int PreviewDevice = 0;
int UseMediaPlayer = 1;
int CheckFileOpen = 1;
int MruFileCount = 5;
int NtVersion351 = 0;
int FlatToolBar = 1;
int PreviewWidth = 352, PreviewHeight = 240;
std::string PendingInputFile;
int PendingInputFlag = 0;
int FormReady = 0;
int SavingDefaults = 0;

namespace {

constexpr size_t kProfileDirectoryLimit = 255;
DefaultSettingsHooks defaultSettingsHooks;

int ReadKey(const char* key, int defaultValue) {
    return platform::IniReadInt(kSettingsSection, key, defaultValue, SettingsFileName);
}

// The settings file says 2 for on and 1 for off; anything else keeps the value.
void ReadOnOffKey(const char* key, int& value) {
    int read = ReadKey(key, 0);
    if (read == 2) value = 1;
    if (read == 1) value = 0;
}

void StoreInRange(const char* key, int defaultValue, int low, int high, int& value) {
    int read = ReadKey(key, defaultValue);
    if (read >= low && read <= high) value = read;
}

std::string CurrentDirectory() {
    std::error_code ec;
    fs::path current = fs::current_path(ec);
    return ec ? std::string() : current.string();
}

std::string WithTrailingSlash(std::string path) {
    if (path.empty() || path.back() != '/') path += '/';
    return path;
}

std::string ReadFolderKey(const char* key) {
    std::string folder = platform::IniReadString(kSettingsSection, key, CurrentDirectory(), ProgramIniFileName());
    // A key that is there but empty means the current folder, not the root.
    if (folder.empty()) folder = CurrentDirectory();
    return WithTrailingSlash(folder);
}

// The settings reader drops blanks around a value and one pair of quotes
// around it: a folder that would lose some is stored in quotes, which the
// reader takes off again, so it reads back as it was.
bool WriteFolderKey(const char* key, const std::string& path) {
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    const bool quoted = !path.empty() && (blank(path.front()) || blank(path.back()) || path.front() == '"' ||
                                          path.front() == '\'');
    return platform::IniWriteString(kSettingsSection, key, quoted ? '"' + path + '"' : path, ProgramIniFileName());
}

}  // namespace

fs::path ProgramIniFileName() { return platform::ConfigFile("ROZARAZ2.INI"); }

void InitSettingsFileName() { SettingsFileName = platform::ConfigFile("RADUDUR.INI"); }

bool ProbeProfileDirectory(const std::string& folder) {
    if (folder.size() <= 1) return true;
    fs::path probe = fs::path(folder) / "$$tempfile.$$t";
    FILE* file = std::fopen(probe.c_str(), "w");
    if (!file) return false;
    bool closed = std::fclose(file) == 0;
    std::error_code ec;
    fs::remove(probe, ec);
    return closed;
}

void ReadSettings() {
    if (SettingsFileName.empty()) InitSettingsFileName();
    ProfileDirectory = platform::IniReadString(kSettingsSection, "Profile Path", "", SettingsFileName);
    if (ProfileDirectory.size() > kProfileDirectoryLimit) ProfileDirectory.resize(kProfileDirectoryLimit);
    // File names are appended to the folder as they stand.
    if (!ProfileDirectory.empty()) ProfileDirectory = WithTrailingSlash(ProfileDirectory);
    if (!ProfileDirectory.empty() && !ProbeProfileDirectory(ProfileDirectory)) {
        platform::ShowMessageBox(
            "Program is unable to access profile directory. \nNew profile directory will be created in the\n"
            "current working directory.",
            "");
        ProfileDirectory.clear();
    }
    if (ProfileDirectory.empty()) {
        ProfileDirectory = WithTrailingSlash(CurrentDirectory()) + "profiles/";
        std::error_code ec;
        fs::create_directories(ProfileDirectory, ec);
        if (!ProbeProfileDirectory(ProfileDirectory))
            platform::ShowMessageBox(
                "Program is unable to create new profile directory in the current working directory.\n\n"
                "The current working directory may be read-only.  Please start program in a directory\n"
                "where it can create profile sub-directory.",
                "");
        else
            platform::IniWriteString(kSettingsSection, "Profile Path", ProfileDirectory, SettingsFileName);
    }

    if (ReadKey("disable_mmx", 0) == 1) EncoderSettings.disableMmx = 1;
    if (ReadKey("system_winnt351", 0) == 1) Winnt351Requested = 1;
    ReadOnOffKey("default_show_input", DefaultShowInput);
    ReadOnOffKey("default_show_output", DefaultShowOutput);
    EncoderSettings.qualityStatisticsMode = ReadKey("default_quality_stats", 1);
    ReadOnOffKey("default_window_size_auto", DefaultAutoWindowSize);
    ReadOnOffKey("default_scale_image", DefaultStretchPreview);
    int device = ReadKey("preview_device", 0);
    PreviewDevice = device == 1 || device == 2 ? device : 0;
    EncoderSettings.noCheckSpace = ReadKey("NOCHECKSPACE", 0) == 1;
    EncoderSettings.suppressWarnings = ReadKey("SUPPRESS_WARNINGS", 0) == 1;
    EncoderSettings.useNewMux = ReadKey("USE_NEW_MUX", 0) == 1;
    int black = ReadKey("BLACK_LEVEL", 0);
    if (black >= 1 && black <= 63) EncoderSettings.blackLevel = static_cast<short>(black);
    StoreInRange("USE_MEDIA_PLAYER", 1, 0, 2, UseMediaPlayer);
    StoreInRange("CHECK_FILE_OPEN", 1, 0, 1, CheckFileOpen);
    StoreInRange("VBV_PROTECTION_MODE", 0, -1, 1, EncoderSettings.vbvProtectionMode);
    StoreInRange("N_MRU_FILES", 5, 3, 15, MruFileCount);
    StoreInRange("SMART_DEINTERLACE_MODE", 0, 0, 127, EncoderSettings.smartDeinterlaceMode);
}

void SetDefaultSettingsHooks(DefaultSettingsHooks hooks) { defaultSettingsHooks = std::move(hooks); }

fs::path DefaultProfileFileName() { return ProfileDirectory + "_default.$pr"; }

bool WriteDefaultSettings(bool profileOnly) {
    if (SettingsFileName.empty()) InitSettingsFileName();
    if (!profileOnly) {
        auto write = [](const char* key, int value) {
            platform::IniWriteInt(kSettingsSection, key, value, SettingsFileName);
        };
        write("default_show_input", EncoderSettings.showInput + 1);
        write("default_quality_stats", EncoderSettings.qualityStatisticsMode);
        write("default_show_output", EncoderSettings.showOutput + 1);
        write("default_window_size_auto", EncoderSettings.autoResizeWindow + 1);
        write("default_scale_image", EncoderSettings.stretchPreview + 1);
    }
    if (ProfileDirectory.size() < 2) return false;
    if (!defaultSettingsHooks.viewExists || !defaultSettingsHooks.viewExists()) return false;

    SavingDefaults = 1;
    // Without a form to store there is nothing known to be right to write.
    bool applied = defaultSettingsHooks.applyToParameters && defaultSettingsHooks.applyToParameters();
    SavingDefaults = 0;
    if (!applied) {
        platform::ShowMessageBox(LoadResString(64047), "");
        return false;
    }
    ParameterError = 0;
    ReadProfile("-");
    if (ParameterError) {
        platform::ShowMessageBox(LoadResString(64049), "");
        return false;
    }
    return WriteProfile(DefaultProfileFileName().c_str()) == 0;
}

bool WriteSuppressWarningsSetting(int value) {
    if (SettingsFileName.empty()) InitSettingsFileName();
    return platform::IniWriteInt(kSettingsSection, "SUPPRESS_WARNINGS", value, SettingsFileName);
}

std::string GetMainAviInputDirectory() { return ReadFolderKey("Main_Avi_Input_Directory"); }
std::string GetMainMpegOutputDirectory() { return ReadFolderKey("Main_MPEG_Output_Directory"); }
std::string GetBatchOutputDirectory() { return ReadFolderKey("Batch_Output_Directory"); }
bool SetMainAviInputDirectory(const std::string& path) { return WriteFolderKey("Main_Avi_Input_Directory", path); }
bool SetMainMpegOutputDirectory(const std::string& path) {
    return WriteFolderKey("Main_MPEG_Output_Directory", path);
}
bool SetBatchOutputDirectory(const std::string& path) { return WriteFolderKey("Batch_Output_Directory", path); }

std::string GetLastBatchOutputFolder() {
    return platform::IniReadString(kSettingsSection, "Last_Batch_Output_Folder", "", ProgramIniFileName());
}
bool SetLastBatchOutputFolder(const std::string& path) {
    return WriteFolderKey("Last_Batch_Output_Folder", path);
}

std::string GetMpeg2FileExtension() {
    std::string value = platform::IniReadString(kSettingsSection, "MPEG2 extension", ".prg", ProgramIniFileName());
    if (value.size() > 31) value.resize(31);
    if (!value.empty() && value[0] == '.') return value;
    return platform::Format(".%s", value.c_str());
}
