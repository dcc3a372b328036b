// Converts engine pictures for the preview panes: bottom-up 24-bit bitmaps
// (and, for 8-bit palette displays, dithered palette indices).
#pragma once

#include <cstdint>

#include "engine/EngineTypes.h"

// Chooses the converters for the display depth (8 or 24); returns 256.
int InitDisplayConversion(int bitsPerPixel);
// Runs the chosen frame (or field) converter into the preview bitmap.
void ConvertPictureForPreview(const FramePlanes& planes);
// The horizontalSize x verticalSize picture into a bottom-up 24-bit bitmap with
// rows padded to 4 bytes; *done = 1 when converted, 0 when planes or bitmap are missing.
void ConvertYuvToRgbPreview(const FramePlanes& planes, uint8_t* bitmap, int* done);
void InitYuvToRgbTables();
