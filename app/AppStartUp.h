// The start of the program up to its first window: settings files, processor
// count, thread options, the command line and what to open first.
#pragma once

#include <string>
#include <vector>

#include "app/CommandLine.h"

// Steps before any window exists. False (after the message) when the screen
// is too small for the program to run.
bool PrepareStartUp(int screenWidth, int screenHeight, int processorCount);

// Parses the program arguments (argv[0] excluded); a switch overrides the
// settings file read before it.
void ApplyCommandLine(CTessmarCommandLineInfo& info, const std::vector<std::string>& arguments);

enum class ShellAction {
    NewDocument,           // no file named
    NewDocumentWithInput,  // an AVI file at the first start: the form takes it as input
    OpenDocument,          // a profile, or an AVI file once the form exists
};
// What the first (or a later) shell command does; sets PendingInputFile and
// PendingInputFlag for NewDocumentWithInput.
ShellAction DecideShellCommand(const CTessmarCommandLineInfo& info);

// Longest path kept as the pending input; a longer one is not taken.
inline constexpr size_t kPendingInputLimit = 4095;
