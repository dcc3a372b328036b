// The run state of the encoder and the message pumps the long loops call.
#pragma once

#include <cstdint>
#include <functional>

// 1 ready, 2 encoding, 3 stop requested or pass ended, 5 settings reset.
extern int16_t RunState;
extern int PauseFlag;
extern int JobReadyMask;
extern int JobFilesReady;
extern int SelectedAudioMode, SelectedAudioBitRate, SelectedAudioBitRateIndex, SelectedEncodeAudio;
extern int IdleRoundCounter;
extern int IdlePumpBusy;
extern uint32_t AudioLastRefreshMs, MuxLastRefreshMs;
// Set when a pump took the program's quit request: the running pass stops as
// on Stop, and the request is given back to the program when the job is over.
extern int QuitRequested;

int RequestStopEncoding();
void SetJobFileReady(int bit);
void SetIdleRunState();
// Copies the settings' audio choice into the Selected* words above.
void CopySelectedAudio();

void PumpPendingMessages();
void PumpMessagesDuringMotionSearch();
int PumpMessagesDuringAudio();
int PumpMessagesDuringMultiplex();

// Hooks the windowed program installs. Without them the pumps only test the
// run state. DispatchMessages dispatches up to `limit` queued events and
// returns how many it did; it sets *quit when a quit request was taken.
struct MessagePumpHooks {
    std::function<int(int limit, bool* quit)> dispatchMessages;
    std::function<bool(int round)> runIdle;  // true when more idle work is wanted
    std::function<void()> updateVideoProgress;
    std::function<void()> updateAudioProgress;
    std::function<void()> updateMultiplexProgress;
    std::function<void()> postQuit;  // puts a quit request back on the program's queue
};
void SetMessagePumpHooks(MessagePumpHooks hooks);
// The hooks installed now, for a caller that changes only some of them.
MessagePumpHooks CurrentMessagePumpHooks();
// At the end of a job: a quit request taken during it ends a batch and goes back to the program.
void HonourQuitRequest();

// The view's progress refresh; nothing happens while no view exists.
void UpdateVideoProgress();
void UpdateAudioProgress();
void UpdateMultiplexProgress();
