// The step that derives and checks the settings after every profile read.
#pragma once

#include <functional>
#include <string>

// Derives the dependent fields of EncoderSettings (colour codes, motion
// data, field flags, VBV size, DC precision, frame rate, per-picture flags)
// and checks the whole set. `recheck` is true when the current settings are
// only being re-checked (profile name "-") rather than freshly loaded; only
// then are profile and level checked. A fatal problem sets ParameterError
// and goes to ReportFatalError, which unwinds to the profile reader when it
// armed the jump; unarmed, the finalisation stops there. ProfileLoaded is 1
// afterwards in both cases.
void FinaliseSettings(bool recheck);

// The VBV buffer size (16 kbit units) a job codes with: MPEG-1 by its
// constrained parameters, MPEG-2 by its level.
int VbvBufferSizeFor(bool mpeg1, bool constrained, int mpegLevel);

// Shows why MPEG-1 settings are outside the constrained parameters: the
// program's dialog when one is installed, else a message box; in batch mode
// the batch log names the skipped output file instead.
void ShowConstrainedParametersError(const std::string& reason);
// Installs the program's dialog (an empty function restores the message box).
void SetConstrainedParametersDialog(std::function<void(const std::string&)> dialog);
