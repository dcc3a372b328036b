// The step that derives and checks the settings after every profile read.
#pragma once

// Derives the dependent fields of EncoderSettings and checks the whole set.
// `recheck` is true when the current settings are only being re-checked
// (profile name "-") rather than freshly loaded. A fatal problem is reported
// through ReportFatalError, which unwinds to the profile reader. On success
// sets ProfileLoaded.
void FinaliseSettings(bool recheck);
