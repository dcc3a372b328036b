// Start-up decisions that need no window, in the order the program takes them.
#include "app/AppStartUp.h"

#include <strings.h>

#include "app/AppSettings.h"
#include "engine/Threads.h"
#include "platform/MessageBox.h"
#include "platform/ResStrings.h"
#include "settings/EncoderSettings.h"

bool PrepareStartUp(int screenWidth, int screenHeight, int processorCount) {
    EncoderSettings.timeCodeStartFrame = 0;
    EncoderSettings.qualityStatisticsMode = 1;
    if (screenWidth < 800 || screenHeight < 600) {
        platform::ShowMessageBox(LoadResString(64428), "");
        return false;
    }
    EncoderSettings.showOutput = 1;
    EncoderSettings.showInput = 0;
    PreviewWidth = 352;
    PreviewHeight = 240;
    InitSettingsFileName();
    ReadSettings();
    NtVersion351 = 0;
    ProcessorCount = 1;
    if (processorCount >= 2 && processorCount < 1024) ProcessorCount = processorCount < 16 ? processorCount : 16;
    DefaultThreadOptions();
    ReadThreadOptions();
    return true;
}

void ApplyCommandLine(CTessmarCommandLineInfo& info, const std::vector<std::string>& arguments) {
    info.ParseCommandLine(arguments);
    if (Winnt351Requested == 1) NtVersion351 = 1;
}

ShellAction DecideShellCommand(const CTessmarCommandLineInfo& info) {
    if (info.shellCommand == CTessmarCommandLineInfo::ShellCommand::FileNew) return ShellAction::NewDocument;
    const std::string& name = info.fileName;
    const bool isAvi = name.size() >= 4 && strcasecmp(name.c_str() + name.size() - 4, ".AVI") == 0;
    if (!isAvi || FormReady == 1) return ShellAction::OpenDocument;
    if (name.size() > kPendingInputLimit) return ShellAction::NewDocument;
    PendingInputFile = name;
    PendingInputFlag = 1;
    return ShellAction::NewDocumentWithInput;
}
