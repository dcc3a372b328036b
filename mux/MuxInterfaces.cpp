// The job's bridge to the multiplexer library (see MuxInterfaces.h).
#include "mux/MuxInterfaces.h"

#include "job/EncoderSettings.h"
#include "job/JobState.h"
#include "job/JobUtil.h"
#include "job/RunState.h"
#include "mux/Mplex.h"
#include "mux/lib/MuxLib.h"
#include "platform/Format.h"
#include "platform/ResStrings.h"

#include <algorithm>
#include <cstring>

namespace {

// String ids of statuses -514 .. -500.
constexpr int StatusStrings[15] = {64194, 64195, 64193, 64192, 64191, 64190, 64189, 64188,
                                   64187, 64186, 64185, 64184, 64183, 64195, 64182};
constexpr int UnknownStatusString = 64195;
constexpr int CannotCreateString = 64196;
constexpr int CannotWriteString = 64197;

}  // namespace

int32_t ReportMuxLibraryError(int32_t status, int32_t, int32_t)
{
    const int id = status >= -514 && status <= -500 ? StatusStrings[status + 514] : UnknownStatusString;
    MuxMessageText = id == UnknownStatusString ? platform::Format(LoadResString(id), static_cast<int>(status))
                                               : std::string(LoadResString(id));
    return status;
}

int32_t MuxFileNameCallback(char** name)
{
    if (name != nullptr) *name = strdup(EncoderSettings.outputFileName.c_str());
    return 0;
}

int PrepareMuxProgress(const std::string& audioFile, const std::string& videoFile)
{
    MuxBytesTotal = std::max<int64_t>(0, GetFileSizeByName(videoFile)) + std::max<int64_t>(0, GetFileSizeByName(audioFile));
    MultiplexFinished = 0;
    MuxLastProgress = 0;
    MuxBytesDone = 0;
    return PumpMessagesDuringMultiplex() == 1 ? 0 : -500;
}

int32_t ConfigureMuxSession()
{
    const EncoderSettingsRecord& e = EncoderSettings;
    if (e.applicationType == 16 && e.createVob == 1) return MuxSetOption(0, MuxTypeDvdVolume) + MuxSetOption(11, 4);
    if (e.applicationType == 17) {
        MuxSetOption(0, MuxTypeSvcd);
        MuxSetFileNameCallback(MuxFileNameCallback);
        MuxSetOption(12, 1);
        return 0;
    }
    int32_t status = MuxSetOption(0, e.streamType);
    if (status == 0 && e.streamType == 1) status = MuxSetParameter(4, e.muxConstantRate);
    if (status == 0 && e.streamType == 2) status = MuxSetParameter(4, e.mpeg2MuxConstantRate);
    if (status == 0 && e.streamType == 2 && e.vbvBufferSize * 2048 >= 47104)
        status = MuxSetParameter(3, e.vbvBufferSize * 2048 / 1024);
    if (status == 0 && e.streamType == 1) {
        status = MuxSetParameter(3, e.muxVideoBufferKb);
        if (status == 0) status = MuxSetParameter(2, e.muxAudioBufferKb * 1024 / 128);
    }
    if (status == 0) status = MuxSetParameter(10, e.rateControl == 2 && e.streamType == 2 ? 2 : 1);
    return status;
}

int MultiplexWithLibrary(const std::string& audioFile, const std::string& videoFile, const std::string& outputFile)
{
    MuxHandle handle = nullptr;
    bool selected = false;
    int status;
    try {
        MuxJumpArm arm;
        status = PrepareMuxProgress(audioFile, videoFile);
        if (status != 0) return status;
        handle = MuxCreateSession();
        status = MuxSelectSession(handle);
        selected = status == 0;
        if (status == 0) status = MuxBegin();
        if (status == 0) status = ConfigureMuxSession();
        if (status == 0)
            status = MuxSetVideoSettings(EncoderSettings.vbvBufferSize, EncoderSettings.mpegProfile, EncoderSettings.mpegLevel);
        if (status == 0) status = MuxSetMessageCallback(ReportMuxLibraryError, 0);
        if (status == 0) status = MuxRun(videoFile.c_str(), audioFile.c_str(), outputFile.c_str(), MuxProgressCallback);
    } catch (const MuxJump&) {
        status = 1;
    }
    // Another session may be current when this one could not be selected: leave it alone.
    if (selected) {
        // The end writes the last packs and closes the output: its failure is the job's failure.
        const int32_t endStatus = MuxEnd();
        if (status == 0 && endStatus != 0) status = endStatus;
    }
    if (status == MuxErrWrite)
        MuxMessageText = platform::Format(LoadResString(MuxBytesDone < 100 ? CannotCreateString : CannotWriteString),
                                          outputFile.c_str());
    MuxDestroySession(handle);
    return status;
}
