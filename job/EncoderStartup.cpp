// One-time start-up of the encoding side: the hooks through which the engine
// and the audio encoder reach the job, the engine's tables and the preview
// drawing.
#include "job/EncoderStartup.h"

#include "audio/AudioEncoder.h"
#include "engine/Encoder.h"
#include "engine/PreviewConvert.h"
#include "job/AviSource.h"
#include "job/Profile.h"
#include "platform/ResStrings.h"
#include "settings/JobUtil.h"
#include "settings/Preview.h"
#include "settings/Report.h"

void InstallJobHooks() {
    EngineJob.readProfile = ReadProfile;
    EngineJob.openAvi = AviOpenInputFile;
    EngineJob.closeAvi = AviCloseInputFile;
    AudioPcmSource = AviGetAudioData;
}

int InitEncoderLibrary() {
    FreeSpaceWatchIgnored = 0;
    InstallJobHooks();
    if (InitEncoderTables() < 0) ShowWarningMessage(platform::LoadResString(63476));
    return InitPreviewDrawing();
}

int CleanupEncoderEnvironment() {
    FreeEncoderParameterBuffers();
    FreePreviewDrawing();
    return 1;
}
