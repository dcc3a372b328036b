// Run state, pause and stop, and the message pumps the long loops call so
// that the window stays responsive while encoding runs on its thread.
#include "settings/RunState.h"

#include "platform/MessageBox.h"
#include "settings/EncoderSettings.h"
#include "settings/JobState.h"
#include "settings/JobUtil.h"
#include "settings/Report.h"

int16_t RunState = 1;
int PauseFlag = 0;
int JobReadyMask = 0;
int JobFilesReady = 0;
int SelectedAudioMode = 1, SelectedAudioBitRate = 128, SelectedAudioBitRateIndex = 3, SelectedEncodeAudio = 1;
int IdleRoundCounter = 0;
int IdlePumpBusy = 0;
uint32_t AudioLastRefreshMs = 0, MuxLastRefreshMs = 0;
int QuitRequested = 0;

namespace {
MessagePumpHooks& Hooks() {
    static MessagePumpHooks hooks;
    return hooks;
}

// Dispatches up to `limit` queued messages; -1 when a quit request was taken.
int Dispatch(int limit) {
    if (!Hooks().dispatchMessages) return 0;
    bool quit = false;
    int n = Hooks().dispatchMessages(limit, &quit);
    if (!quit) return n;
    // The request must not be lost in the middle of a pass: the pass ends as on
    // Stop and the program gets the request back when the job is over.
    QuitRequested = 1;
    if (RunState == 2) {
        RunState = 3;
        UserStopFlag = 1;
    }
    return -1;
}

bool Due(uint32_t startMs, uint32_t lastMs, uint32_t now) {
    return static_cast<uint32_t>(now - startMs) < 500 || static_cast<uint32_t>(now - lastMs) > 500;
}

// The pause and dispatch cycle shared by the audio and multiplexing pumps; false on quit.
// The time held in a pause moves the pass's start on, so the elapsed time
// the panels show is the time spent working, as in the video pass.
bool PumpCycles() {
    bool holding = false;
    uint32_t heldSince = 0;
    do {
        int n = Dispatch(50);
        if (n < 0) return false;
        if (n == 0) PumpPendingMessages();
        if (PauseFlag && !holding) {
            holding = true;
            heldSince = GetElapsedMilliseconds();
        }
    } while (PauseFlag);
    if (holding) {
        const uint32_t held = GetElapsedMilliseconds() - heldSince;
        if (MultiplexActive)
            MuxStartMs += held;
        else if (AudioPassActive)
            AudioPassStartMs += held;
    }
    return true;
}
}  // namespace

void SetMessagePumpHooks(MessagePumpHooks hooks) { Hooks() = std::move(hooks); }
MessagePumpHooks CurrentMessagePumpHooks() { return Hooks(); }

void HonourQuitRequest() {
    if (!QuitRequested) return;
    if (BatchMode != 0) BatchStopRequested = 1;
    if (Hooks().postQuit) {
        QuitRequested = 0;
        Hooks().postQuit();
    }
}

void UpdateVideoProgress() {
    if (Hooks().updateVideoProgress) Hooks().updateVideoProgress();
}
void UpdateAudioProgress() {
    if (Hooks().updateAudioProgress) Hooks().updateAudioProgress();
}
void UpdateMultiplexProgress() {
    if (Hooks().updateMultiplexProgress) Hooks().updateMultiplexProgress();
}

int RequestStopEncoding() {
    PauseFlag = 0;
    if (!AudioPassActive && !MultiplexActive && VideoEngineStage == 2) {
        VideoEngineStage = 0;
        return 1;
    }
    if (RunState == 2) {
        platform::MessageBeep(0);
        RunState = 3;
        UserStopFlag = 1;
    }
    return 1;
}

void SetJobFileReady(int bit) {
    JobReadyMask |= bit;
    if (JobReadyMask == 3) JobFilesReady = 1;
    RunState = 1;
    VideoSequenceState = 0;
}

void CopySelectedAudio() {
    SelectedAudioMode = EncoderSettings.audioMode;
    SelectedAudioBitRate = EncoderSettings.audioBitRate;
    SelectedAudioBitRateIndex = EncoderSettings.audioBitRateIndex;
    SelectedEncodeAudio = EncoderSettings.encodeAudio;
}

void SetIdleRunState() {
    RunState = 1;
    JobReadyMask = 15;
    JobFilesReady = 1;
    ProfileLoaded = 1;
    VideoSequenceState = 0;
}

void PumpPendingMessages() {
    if (IdlePumpBusy) return;
    IdlePumpBusy = 1;
    for (int n = 0; n < 5; ++n) {
        bool more = Hooks().runIdle ? Hooks().runIdle(n) : false;
        if (!more) break;
        Dispatch(5);
    }
    IdlePumpBusy = 0;
}

void PumpMessagesDuringMotionSearch() {
    int n = Dispatch(14);
    if (n == 0) {
        if (++IdleRoundCounter > 16) {
            PumpPendingMessages();
            IdleRoundCounter = 0;
        }
    }
    if (RunState == 3 && EncoderJumpArmedHere()) throw EncoderJump{1};
}

int PumpMessagesDuringAudio() {
    if (RunState == 3 || AudioAbortFlag == 1) return 0;
    if (!PumpCycles()) return 0;
    uint32_t now = GetElapsedMilliseconds();
    if (Due(AudioPassStartMs, AudioLastRefreshMs, now)) {
        UpdateAudioProgress();
        AudioLastRefreshMs = now;
    }
    return 1;
}

int PumpMessagesDuringMultiplex() {
    if (RunState == 3 && MultiplexFinished == 0) return 0;
    if (!PumpCycles()) return 0;
    uint32_t now = GetElapsedMilliseconds();
    if (Due(MuxStartMs, MuxLastRefreshMs, now) || MultiplexFinished ||
        (FreeSpaceWatchArmed && !FreeSpaceWatchIgnored)) {
        UpdateMultiplexProgress();
        MuxLastRefreshMs = now;
    }
    return 1;
}
