// The one AVI input of the process: open, probe, frames for the video
// engine, PCM blocks for the audio encoder.
#pragma once

#include <cstdint>
#include <string>

// Channel count the audio pass asks the source for (0 none, 1 mono, 2 stereo);
// profile reads set it from the settings.
extern int AviRequestedChannels;

int AviOpenInputFile(const char* fileName);  // 0 on failure (after its own message)
void AviCloseInputFile();                    // safe when nothing is open
int AviHasVideoStream();
int AviGetVideoRate();
int AviGetVideoScale();
int AviGetVideoStartFrame();
int AviGetVideoEndFrame();  // one past the last frame
