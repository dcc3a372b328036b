// Message-box service with a replaceable handler.
#include "platform/MessageBox.h"

#include <atomic>
#include <cstdio>
#include <mutex>

namespace platform {

namespace {
std::mutex handlerLock;
MessageBoxHandler& Handler() {
    static MessageBoxHandler handler;
    return handler;
}
std::atomic<int> beeps{0};

int ButtonCount(MbButtons b) {
    switch (b) {
        case MbButtons::Ok: return 1;
        case MbButtons::OkCancel:
        case MbButtons::YesNo:
        case MbButtons::RetryCancel: return 2;
        case MbButtons::YesNoCancel:
        case MbButtons::AbortRetryIgnore: return 3;
    }
    return 1;
}
}  // namespace

MbAnswer DefaultAnswer(MbButtons buttons, int defaultButton) {
    static const MbAnswer table[][3] = {
        {MbAnswer::Ok, MbAnswer::Ok, MbAnswer::Ok},
        {MbAnswer::Ok, MbAnswer::Cancel, MbAnswer::Cancel},
        {MbAnswer::Yes, MbAnswer::No, MbAnswer::No},
        {MbAnswer::Yes, MbAnswer::No, MbAnswer::Cancel},
        {MbAnswer::Retry, MbAnswer::Cancel, MbAnswer::Cancel},
        {MbAnswer::Abort, MbAnswer::Retry, MbAnswer::Ignore},
    };
    int index = defaultButton;
    if (index < 0 || index >= ButtonCount(buttons)) index = 0;
    return table[static_cast<int>(buttons)][index];
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
    std::lock_guard<std::mutex> lock(handlerLock);
    MessageBoxHandler previous = std::move(Handler());
    Handler() = std::move(handler);
    return previous;
}

MbAnswer ShowMessageBox(const std::string& text, const std::string& caption, MbButtons buttons,
                        MbIcon icon, const void* owner, int defaultButton) {
    MessageBoxRequest request{caption, text, buttons, icon, defaultButton, owner};
    MessageBoxHandler handler;
    {
        std::lock_guard<std::mutex> lock(handlerLock);
        handler = Handler();
    }
    if (handler) return handler(request);
    std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
    return DefaultAnswer(buttons, defaultButton);
}

void MessageBeep(unsigned) { beeps.fetch_add(1); }
int BeepCount() { return beeps.load(); }

ScriptedMessageBoxes::ScriptedMessageBoxes() {
    previous_ = SetMessageBoxHandler([this](const MessageBoxRequest& request) {
        shown_.push_back(request);
        if (answers_.empty()) return DefaultAnswer(request.buttons, request.defaultButton);
        MbAnswer a = answers_.front();
        answers_.pop_front();
        return a;
    });
}

ScriptedMessageBoxes::~ScriptedMessageBoxes() { SetMessageBoxHandler(std::move(previous_)); }

std::vector<std::string> ScriptedMessageBoxes::Texts() const {
    std::vector<std::string> texts;
    for (const auto& r : shown_) texts.push_back(r.text);
    return texts;
}

}  // namespace platform
