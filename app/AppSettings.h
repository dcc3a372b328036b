// The application settings file "RADUDUR.INI", the program file
// "ROZARAZ2.INI", and the process-wide values they fill.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

extern std::filesystem::path SettingsFileName;  // RADUDUR.INI in the settings folder
extern std::string ProfileDirectory;            // ends in "/" when derived by the program
extern int PreviewDevice;                       // 0, 1 or 2
extern int UseMediaPlayer;                      // 0..2, initially 1
extern int CheckFileOpen;                       // 0..1, initially 1
extern int MruFileCount;                        // 3..15, initially 5
extern int NtVersion351;
extern int FlatToolBar;
extern int PreviewWidth, PreviewHeight;
extern std::string PendingInputFile;
extern int PendingInputFlag;
extern int FormReady;
extern int SavingDefaults;

// Section of both files.
inline constexpr const char* kSettingsSection = "ZRN-MPEG";
std::filesystem::path ProgramIniFileName();  // ROZARAZ2.INI in the settings folder

// Points SettingsFileName at RADUDUR.INI in the settings folder.
void InitSettingsFileName();

// Reads every key of the settings file, making sure the profile folder exists
// and is writable first (messages through platform::ShowMessageBox).
void ReadSettings();

// Whether files can be created in `folder` (a file is made and removed again).
bool ProbeProfileDirectory(const std::string& folder);

// What "Save current settings as Default" needs of the windows.
struct DefaultSettingsHooks {
    std::function<bool()> viewExists;
    // Stores the main settings form into EncoderSettings; false when a value is bad.
    std::function<bool()> applyToParameters;
};
void SetDefaultSettingsHooks(DefaultSettingsHooks hooks);

// Writes the display defaults (unless profileOnly) and the default profile
// "_default.$pr" in the profile folder. False when the profile was not written.
bool WriteDefaultSettings(bool profileOnly);
std::filesystem::path DefaultProfileFileName();

// The view's "suppress warnings" choice, kept where start-up reads it.
bool WriteSuppressWarningsSetting(int value);

// Remembered folders of "ROZARAZ2.INI"; a folder read back always ends in "/"
// and defaults to the current directory.
std::string GetMainAviInputDirectory();
std::string GetMainMpegOutputDirectory();
std::string GetBatchOutputDirectory();
bool SetMainAviInputDirectory(const std::string& path);
bool SetMainMpegOutputDirectory(const std::string& path);
bool SetBatchOutputDirectory(const std::string& path);

// The output folder of the last batch started or cancelled with a folder
// (empty when none), kept for the next run of the program.
std::string GetLastBatchOutputFolder();
bool SetLastBatchOutputFolder(const std::string& path);

// The extension of an MPEG-2 multiplexed output file, always with its leading ".".
std::string GetMpeg2FileExtension();
