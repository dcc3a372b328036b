// Converts engine pictures for the preview panes: bottom-up 24-bit bitmaps
// (and, for 8-bit palette displays, dithered palette indices).
#pragma once

#include <cstdint>
#include <mutex>

#include "engine/EngineTypes.h"

// The preview pictures: bottom-up 24-bit RGB buffers of the encoding size and
// their ready flags, each guarded by its lock while it is converted and drawn.
struct PreviewStateRecord {
    uint8_t* InputPreviewBuffer = nullptr;
    uint8_t* OutputPreviewBuffer = nullptr;
    const uint8_t* InputPreviewPixels = nullptr;
    int InputPreviewReady = 0, OutputPreviewReady = 0;
    int PreviewPictureWidth = 0, PreviewPictureHeight = 0;
    std::mutex InputPreviewLock, OutputPreviewLock;
    // 1 on an 8-bit palette display (never on this platform's displays).
    int PaletteDisplay = 0;
};
extern PreviewStateRecord PreviewPictures;

// Chooses the converters for the display depth (8 or 24); returns 256. Any
// other depth is reported as "Unsupported dither type" and keeps the 24-bit
// converters.
int InitDisplayConversion(int bitsPerPixel);
// The preview drawing's part of the start-up: conversion options, the clipping
// table, the display depth and palette; 1 ready, 0 when the display cannot be
// queried or memory is out. FreePreviewDrawing undoes it.
int InitPreviewDrawing();
void FreePreviewDrawing();
// Runs the chosen frame (or field) converter into the preview bitmap.
void ConvertPictureForPreview(const FramePlanes& planes);
// The horizontalSize x verticalSize picture into a bottom-up 24-bit bitmap with
// rows padded to 4 bytes; *done = 1 when converted, 0 when planes or bitmap are missing.
void ConvertYuvToRgbPreview(const FramePlanes& planes, uint8_t* bitmap, int* done);
void InitYuvToRgbTables();

// What the converters read besides the planes. The picture is
// EncoderSettings.horizontalSize x verticalSize; luma lines are EncodeWidth
// long, chroma lines ChromaWidth (EncodeWidth for 4:4:4).
struct PreviewConversionState {
    uint8_t* bitmap = nullptr;               // frame converters' target; null: OutputPreviewBuffer
    uint8_t* fieldBuffers[2] = {nullptr, nullptr};
    int frameFlag = 1;                       // 1: one frame converter, 0: two field converters
    int pictureStructure = 1;
    int topFieldFirst = 1;
    int chromaFormat = 1;                    // 1 4:2:0, 2 4:2:2, 3 4:4:4
};
extern PreviewConversionState PreviewConversion;

// Options the job's start-up sets (all 1 there, 0 before it runs).
struct PreviewConversionOptions {
    // The output preview goes through the converters InitDisplayConversion chose.
    int outputThroughChosen = 0;
    // Read by a third display mode, which this engine's conversion does not have.
    int thirdDisplayMode = 0;
    // Lets an 8-bit display take a dithering pair that follows the colour
    // matrix; this engine has only the one ordered-dither pair.
    int matrixDither = 0;
};
extern PreviewConversionOptions PreviewOptions;
// Whether the output preview converts through PreviewConverterSet.
bool OutputPreviewUsesChosenConverter();

using PreviewFrameConverter = void (*)(const FramePlanes& planes);
using PreviewFieldConverter = void (*)(const FramePlanes& planes, uint8_t* bitmap);
struct PreviewConverters {
    PreviewFrameConverter frame;
    PreviewFieldConverter firstField;
    PreviewFieldConverter secondField;
};
// The converters InitDisplayConversion chose (24-bit until it runs).
extern PreviewConverters PreviewConverterSet;

// 24-bit converters (bottom-up rows padded to 4 bytes, bytes blue, green, red).
void ConvertFrameRgb24(const FramePlanes& planes);
void ConvertFieldRgb24First(const FramePlanes& planes, uint8_t* bitmap);
void ConvertFieldRgb24Second(const FramePlanes& planes, uint8_t* bitmap);
// 8-bit ordered-dither converters: one palette index per pixel, bottom-up rows
// padded to 4 bytes. The Wide field converters take 4:2:2 and 4:4:4 planes.
void ConvertFrameDither8(const FramePlanes& planes);
void ConvertFieldDither8First(const FramePlanes& planes, uint8_t* bitmap);
void ConvertFieldDither8Second(const FramePlanes& planes, uint8_t* bitmap);
void ConvertFieldDither8FirstWide(const FramePlanes& planes, uint8_t* bitmap);
void ConvertFieldDither8SecondWide(const FramePlanes& planes, uint8_t* bitmap);

// Palette index (0..223) of one pixel: 14 luma levels by 4 Cb by 4 Cr levels,
// with the ordered-dither offsets of pixel column `column` (0..3 used) on the
// first (secondLine false) or second line of a pair.
int DitherIndex(int y, int cb, int cr, int column, bool secondLine);

// Fixed-point tables of the 4:2:0 conversion (10 fractional bits).
struct YuvToRgbTableSet {
    int32_t lumaScale[256];  // 1192 v
    int32_t cbToBlue[256];   // 2066 v + 512
    int32_t cbToGreen[256];  // -400 v
    int32_t crToGreen[256];  // -832 v + 512
    int32_t crToRed[256];    // 1634 v + 512
};
const YuvToRgbTableSet& YuvToRgbTables();

// One picture line of 4:2:0 (chroma sample per two pixels) into `width`
// 24-bit pixels; plain and SSE2, identical results.
using PreviewRowFn = void (*)(const uint8_t* luma, const uint8_t* cb, const uint8_t* cr, uint8_t* out, int width);
struct PreviewKernels {
    PreviewRowFn convertRow = nullptr;
};
void preview_init(bool simd, PreviewKernels& kernels);
// The kernels the engine runs: plain until SelectEngineKernels fills it
// when an encoding is set up.
extern PreviewKernels PreviewKernelSet;
void ConvertPreviewRowPlain(const uint8_t* luma, const uint8_t* cb, const uint8_t* cr, uint8_t* out, int width);
void ConvertPreviewRowSse2(const uint8_t* luma, const uint8_t* cb, const uint8_t* cr, uint8_t* out, int width);
