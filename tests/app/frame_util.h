// Helpers of the main window's tests: an answer to the next "Save Profile" dialog.
#pragma once

#include <string>
#include <vector>

namespace frametest {

// Types each text into the next "Save Profile" dialog and presses `button`
// ("1" Save, "2" Cancel) until the dialog closes; Cancel when texts run out.
void AnswerDescriptionDialog(std::vector<std::string> texts, const char* button = "1");

}  // namespace frametest
