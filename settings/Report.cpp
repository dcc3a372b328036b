// Fatal errors, warnings and the batch log. Boxes in interactive use and in
// a batch that shows its errors; the batch log when the batch suppresses them.
#include "settings/Report.h"

#include <atomic>
#include <cstdio>

#include "platform/Format.h"
#include "platform/MessageBox.h"
#include "platform/ResStrings.h"
#include "settings/EncoderSettings.h"
#include "settings/JobState.h"
#include "settings/RunState.h"

int BatchMode = 0;
std::string BatchLogFileName = "message.log";
const void* MessageOwnerWindow = nullptr;
const void* JobOwnerWindow = nullptr;
std::string ErrorMessageBuffer;
int EncoderJumpArmed = 0;

namespace {
std::atomic<std::thread::id> armedThread{};

void AppendToBatchLog(const char* headerFormat, const std::string& text) {
    FILE* log = std::fopen(BatchLogFileName.c_str(), "a");
    if (!log) return;
    std::fprintf(log, headerFormat, EncoderSettings.inputFileName.c_str());
    std::fprintf(log, "%s\n", text.c_str());
    std::fclose(log);
}

bool LogInsteadOfBox() { return BatchMode >= 2; }
}  // namespace

EncoderJumpArm::EncoderJumpArm() : previous_(EncoderJumpArmed != 0), previousThread_(armedThread.load()) {
    armedThread.store(std::this_thread::get_id());
    EncoderJumpArmed = 1;
}

EncoderJumpArm::~EncoderJumpArm() {
    armedThread.store(previousThread_);
    EncoderJumpArmed = previous_ ? 1 : 0;
}

bool EncoderJumpArmedHere() {
    return EncoderJumpArmed != 0 && armedThread.load() == std::this_thread::get_id();
}

void WriteBatchLogMessage(const std::string& text) { AppendToBatchLog("Batch File %s message:\n", text); }

void LogConstrainedMessage(const std::string& text) {
    AppendToBatchLog("Batch File %s Constrained message:\n", text);
}

void ShowWarningMessage(const std::string& text) {
    std::fputs(text.c_str(), stderr);
    std::fputc('\n', stderr);
    if (!LogInsteadOfBox())
        platform::ShowMessageBox(text, LoadResString(63543), platform::MbButtons::Ok, platform::MbIcon::Stop,
                                 JobOwnerWindow);
    else
        WriteBatchLogMessage(text);
}

void ReportFatalError(const std::string& text) {
    std::fputs(text.c_str(), stderr);
    std::fputc('\n', stderr);
    if (!LogInsteadOfBox())
        platform::ShowMessageBox(text, LoadResString(63542), platform::MbButtons::Ok, platform::MbIcon::Stop,
                                 JobOwnerWindow);
    else
        WriteBatchLogMessage(text);
    if (EncoderJumpArmedHere()) throw EncoderJump{2};
}

void ReportAudioWriteError() {
    if (RunState != 3) {
        if (!LogInsteadOfBox())
            platform::ShowMessageBox(LoadResString(63571), LoadResString(63572), platform::MbButtons::Ok,
                                     platform::MbIcon::Stop, MessageOwnerWindow);
        else
            WriteBatchLogMessage(LoadResString(63570));
    }
    RunState = 3;
    EncodeAbortFlag = 1;
}
