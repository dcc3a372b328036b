// Profile files: the settings record as text, one value per line.
#pragma once

#include <string>

// "+" loads the built-in defaults, "-" only re-derives and re-checks the
// current settings, anything else is a profile file. Outcome in
// ProfileLoaded and ParameterError.
void ReadProfile(const char* name);
// Writes the current settings; 0 on success. Failures are reported as warnings.
int WriteProfile(const char* name);
// Summary of one profile file for the profile lists; each output is written
// only when its value is found. Sets ProfileHeaderError.
void ReadProfileHeader(const char* name, std::string* description, int* mpeg1, int* width, int* height,
                       int* frameRate, int* unused1, int* unused2, int* videoBitRate, int* audioBitRate,
                       int* audioMode, int* muxBitRate);
// Fills the two quantiser matrices from their files or the built-in ones.
void LoadQuantMatrices();
