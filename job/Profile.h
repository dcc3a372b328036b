// Profile files: the settings record as text, one value per line.
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

// The program's profile commands. Back to the built-in defaults (1, or 0 after
// telling the user they could not be loaded); load a profile and go idle (1
// when it loaded); save (1 when saved, 0 when not: the user was told why).
int ResetProfileParameters();
int LoadProfileAndSetIdle(const char* path);
int SaveProfileFile(const char* path);
