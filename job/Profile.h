// Profile files: the settings record as text, one value per line, and the
// quantiser matrices the settings name.
#pragma once

#include <string>

// "+" loads the built-in defaults, "-" only re-derives and re-checks the
// current settings, anything else is a profile file. Outcome in
// ProfileLoaded and ParameterError; file problems are shown as warnings.
void ReadProfile(const char* name);
// Writes the current settings; 0 on success, -1 on any failure (each failure
// is reported as a warning). Names or a description that a profile cannot
// keep (longer than 255 characters, or holding a line break) are refused
// before the file is touched.
int WriteProfile(const char* name);
// Summary of one profile file for the profile lists; each output is written
// only when its value is found. The two unused outputs are never written.
// Sets ProfileHeaderError; its messages go to ErrorMessageBuffer unshown.
void ReadProfileHeader(const char* name, std::string* description, int* mpeg1, int* width, int* height,
                       int* frameRate, int* unused1, int* unused2, int* videoBitRate, int* audioBitRate,
                       int* audioMode, int* muxBitRate);
// Fills the two quantiser matrices from their files, or the built-in ones for
// the name "-". 1 when both are loaded; 0 after a warning, in which case the
// matrix that failed holds its built-in values.
int LoadQuantMatrices();
