// Picture steps of the AVI frame reader: decoded frames drawn as 24-bit RGB,
// the line-average deinterlace, the pre-filters before shrinking, and the
// resize through the resize library. Pictures are bottom-up 24-bit rows padded
// to 4 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

inline size_t Rgb24RowBytes(int width) { return (size_t(width) * 3 + 3) / 4 * 4; }

// Draws a packed DIB (8-bit with colour table, 16-bit, 24-bit or 32-bit, plain or
// bit fields) at the top-left of a width x height picture, clipped; false for a
// layout it cannot draw.
bool DrawDibAsRgb24(const uint8_t* dib, uint8_t* pixels, int width, int height);

// Rows 1, 3, 5, ... (from the first row in memory) become the rounded mean of
// the rows beside them.
void AverageOddRows(uint8_t* pixels, int width, int height);

struct PrefilterKernel {
    int side, middle;
};
// The 3-tap kernel for shrinking `source` pixels to `encoded`.
PrefilterKernel ChoosePrefilterKernel(int source, int encoded);
// Filters every row, leaving the first and last pixel alone.
void PrefilterRows(uint8_t* pixels, int width, int height, PrefilterKernel k);
// Filters down every column but the first and last, from the second row in
// memory to the third-last.
void PrefilterColumns(uint8_t* pixels, int width, int height, PrefilterKernel k);

// IPL_INTER_SUPER (3) below half size in both directions, else IPL_INTER_CUBIC (2).
int ChooseInterpolation(int sourceWidth, int sourceHeight, int width, int height);

// Resizes with the resize library. On failure returns false with the message in *error.
bool ResizeRgb24(uint8_t* source, int sourceWidth, int sourceHeight, uint8_t* destination, int width, int height,
                 std::string* error);
