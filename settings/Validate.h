// Checks of the settings before a video pass: hard MPEG limits (fatal) and
// disc-format, bit-rate and picture-format advice (Yes/No questions).
#pragma once

#include <string>

// Compliance questions raised since CheckVideoFormatCompliance last reset it;
// counted also when the questions are suppressed.
extern int ComplianceWarningCount;

// Fatal checks run by the settings finalisation. Each problem goes to
// ReportFatalError (which unwinds an armed profile read) and sets
// ParameterError; without an armed jump they return -1 at the first problem.
int CheckParameterRanges();
int CheckProfileAndLevel();
// Sets ParameterError and reports the text as a fatal error.
void ReportParameterError(const std::string& text);

// Questions: 0 to go on, -1 when the user answered No.
int CheckVideoFormatCompliance();
int CheckVbrSettings();
int CheckMpeg2FormatConsistency();
int CheckAudioCompliance();
int CheckMuxSectorSize();

// After the disc-format checks: the notice that the output will not suit the
// disc (VCD 2.0, DVD, SVCD). Asks only when the single questions were
// suppressed; -1 when the user stops there, else 0.
int ReportComplianceSummary();

// One question each; 1 to go on, 2 to stop. In batch mode the text goes to
// the batch log instead and the answer is 1. A detail longer than a question
// takes (299 characters; 999 for the advice) is left out; advice without a
// usable detail asks nothing and goes on.
int AskContinueAfterComplianceWarning(const std::string& detail);
int AskContinueAfterFormatWarning(const std::string& detail);
int AskContinueAfterMpegWarning(const std::string& detail);

// Largest values an MPEG-2 level allows; null for a code that is no level.
struct LevelLimits {
    int maxHorizontalFCode;
    int maxVerticalFCode;
    int maxWidth;
    int maxHeight;
    double maxSampleRate;  // luminance samples per second
    int maxMbitPerSecond;  // 10^6 bit/s
    int maxVbvBufferSize;  // 16-kbit units
};
const LevelLimits* FindLevelLimits(int level);
// "High", "High-1440", "Main", "Low", or "Unspecified".
const char* LevelName(int level);
