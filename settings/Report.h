// Fatal errors, warnings and the batch log. A fatal error inside an armed
// engine step unwinds that step (EncoderJump); everywhere else it returns.
#pragma once

#include <string>
#include <thread>

// 0 interactive, 1 batch, 2 batch with messages going to the log only.
extern int BatchMode;
// The batch log ("message.log" in the batch folder).
extern std::string BatchLogFileName;
// Owners of the boxes (the main window, the job's window); null without a program window.
extern const void* MessageOwnerWindow;
extern const void* JobOwnerWindow;
// The last message formatted for a report (profile-header texts land here unshown).
extern std::string ErrorMessageBuffer;

// Thrown to leave an armed engine step: 2 after a fatal report, 1 on a stop request.
struct EncoderJump {
    int value;
};

// Arms the engine's jump target on the calling thread for its lifetime.
// Only the arming thread ever throws EncoderJump; the step that armed it catches.
class EncoderJumpArm {
public:
    EncoderJumpArm();
    ~EncoderJumpArm();
    EncoderJumpArm(const EncoderJumpArm&) = delete;
    EncoderJumpArm& operator=(const EncoderJumpArm&) = delete;

private:
    bool previous_;
    std::thread::id previousThread_;
};

// 1 while an armed step runs (on any thread); throwing also needs the arming thread.
extern int EncoderJumpArmed;
bool EncoderJumpArmedHere();

void WriteBatchLogMessage(const std::string& text);
// "Batch File %s Constrained message:\n" and the text.
void LogConstrainedMessage(const std::string& text);
// Reports and, when the jump is armed on this thread, throws EncoderJump{2}.
void ReportFatalError(const std::string& text);
void ShowWarningMessage(const std::string& text);
void ReportAudioWriteError();
