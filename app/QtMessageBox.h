// The windowed message-box service: installed by the program so that every
// platform::ShowMessageBox becomes a Qt message box.
#pragma once

namespace platform {
struct MessageBoxRequest;
enum class MbAnswer;
}

// Shows one box modally and returns the button pressed.
platform::MbAnswer ShowQtMessageBox(const platform::MessageBoxRequest& request);
// Installs ShowQtMessageBox as the handler of platform::ShowMessageBox.
void InstallQtMessageBoxes();
