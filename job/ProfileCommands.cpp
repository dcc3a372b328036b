// The profile commands of the program: back to the built-in defaults, load a
// profile and go idle, save the current settings.
#include "job/Profile.h"

#include "platform/MessageBox.h"
#include "platform/ResStrings.h"
#include "settings/EncoderSettings.h"
#include "settings/JobState.h"
#include "settings/Report.h"
#include "settings/RunState.h"

using platform::LoadResString;

int ResetProfileParameters() {
    ReadProfile("+");
    JobReadyMask = 0;
    if (!ProfileLoaded) {
        if (BatchMode >= 2)
            WriteBatchLogMessage(LoadResString(63473));
        else
            platform::ShowMessageBox(LoadResString(63474), "", platform::MbButtons::Ok, platform::MbIcon::None,
                                     MessageOwnerWindow);
        return 0;
    }
    CopySelectedAudio();
    JobFilesReady = 0;
    ProfileLoaded = 0;
    RunState = 5;
    return 1;
}

int LoadProfileAndSetIdle(const char* path) {
    ReadProfile(path);
    JobReadyMask = 15;
    if (!ProfileLoaded) return 0;
    CopySelectedAudio();
    VideoSequenceState = 0;
    RunState = 1;
    JobFilesReady = 1;
    return 1;
}

int SaveProfileFile(const char* path) { return WriteProfile(path) == 0 ? 1 : 0; }
