// The one way the program asks the user something. The program installs a
// windowed handler; tests install a scripted one; with none installed the
// text goes to stderr and the default button is taken.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace platform {

enum class MbButtons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel, AbortRetryIgnore };
enum class MbIcon { None, Stop, Question, Warning, Information };
enum class MbAnswer { None = 0, Ok = 1, Cancel = 2, Abort = 3, Retry = 4, Ignore = 5, Yes = 6, No = 7 };

struct MessageBoxRequest {
    std::string caption;
    std::string text;
    MbButtons buttons = MbButtons::Ok;
    MbIcon icon = MbIcon::None;
    int defaultButton = 0;  // 0-based index into the buttons
    const void* owner = nullptr;
};

using MessageBoxHandler = std::function<MbAnswer(const MessageBoxRequest&)>;

// Installs the handler (an empty one restores the stderr fallback); returns the previous one.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

MbAnswer ShowMessageBox(const std::string& text, const std::string& caption,
                        MbButtons buttons = MbButtons::Ok, MbIcon icon = MbIcon::None,
                        const void* owner = nullptr, int defaultButton = 0);

// The answer a box gives when nobody is asked.
MbAnswer DefaultAnswer(MbButtons buttons, int defaultButton);

// The system's default beep; counted so that tests can see it.
void MessageBeep(unsigned type);
int BeepCount();

// A handler for tests: records every box and answers from a queue (the
// default button once the queue is empty). Installs itself for its lifetime.
class ScriptedMessageBoxes {
public:
    ScriptedMessageBoxes();
    ~ScriptedMessageBoxes();
    ScriptedMessageBoxes(const ScriptedMessageBoxes&) = delete;
    ScriptedMessageBoxes& operator=(const ScriptedMessageBoxes&) = delete;

    void Answer(MbAnswer answer) { answers_.push_back(answer); }
    const std::vector<MessageBoxRequest>& Shown() const { return shown_; }
    std::vector<std::string> Texts() const;
    void Clear() { shown_.clear(); }

private:
    std::deque<MbAnswer> answers_;
    std::vector<MessageBoxRequest> shown_;
    MessageBoxHandler previous_;
};

}  // namespace platform
