// The input picture path: raw YUV picture files, AVI frames through the
// read-ahead cache, RGB to YUV 4:2:0, black borders, luma filters, padding and
// the output-to-input frame mapping.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "engine/EngineTypes.h"

// ---------------------------------------------------------------------------
// Colour conversion tables (built once at start-up; read-only afterwards,
// except that the luma range table follows a changed black level).

struct ColorConversionTables {
    int32_t lumaR[256];   // 306 v + 512
    int32_t lumaG[256];   // 601 v
    int32_t lumaB[256];   // 117 v
    uint8_t lumaRange[300];  // full-range luma to studio range for the black level below
    int lumaRangeBlack;      // black level the range table was built for
    int32_t cbStore[2201];   // index d + 1100
    int32_t crStore[2201];
    const int32_t* cb;       // centre entries: cb[d], d in -1100..1100
    const int32_t* cr;
};
extern ColorConversionTables ColorTables;

void InitColorConversionTables();

// ---------------------------------------------------------------------------
// Kernels: plain C++ and SSE2, identical output.

// Converts `count` pixels (a multiple of 4) of two bitmap rows (24-bit BGR)
// starting at pixel 0 (black level 0..255): luma of the upper row to yTop, of the lower row to
// yBottom, and one Cb/Cr sample per 2x2 block.
using ConvertRowPairFn = void (*)(const uint8_t* upper, const uint8_t* lower, uint8_t* yTop, uint8_t* yBottom,
                                  uint8_t* cb, uint8_t* cr, int count, int black);
using CopyBytesFn = void* (*)(void* dst, const void* src, size_t n);
// Median-filters `count` samples starting at `here` (its neighbours one line
// above and below, lineLength apart), blending with the centre by strength 0..100.
using MedianRowFn = void (*)(const uint8_t* here, int lineLength, uint8_t* out, int count, int strength);

struct InputKernels {
    ConvertRowPairFn convertRowPair;
    CopyBytesFn copyBytes;
    MedianRowFn medianRow;
};

void input_init(bool simd, InputKernels& kernels);
// The kernels the engine runs: plain until SelectEngineKernels fills it
// when an encoding is set up.
extern InputKernels InputKernelSet;

void ConvertRowPairPlain(const uint8_t* upper, const uint8_t* lower, uint8_t* yTop, uint8_t* yBottom, uint8_t* cb,
                         uint8_t* cr, int count, int black);
void ConvertRowPairSse2(const uint8_t* upper, const uint8_t* lower, uint8_t* yTop, uint8_t* yBottom, uint8_t* cb,
                        uint8_t* cr, int count, int black);
void* CopyBytesPlain(void* dst, const void* src, size_t n);
void MedianRowPlain(const uint8_t* here, int lineLength, uint8_t* out, int count, int strength);
void MedianRowSse2(const uint8_t* here, int lineLength, uint8_t* out, int count, int strength);
void* CopyBytesSse2(void* dst, const void* src, size_t n);

// Copies n bytes with the kernel of InputKernelSet; any n, returns dst.
void* CopyBytesFast(void* dst, const void* src, size_t n);

// Converts a whole 24-bit bottom-up bitmap of width x height pixels (rows
// padded to 4 bytes) into the planes: luma to `luma` (line length
// lumaLine), chroma (width/2 x height/2) to cb/cr (line length chromaLine).
void ConvertRgbFrameToYuv(const uint8_t* pixels, int width, int height, uint8_t* luma, int lumaLine, uint8_t* cb,
                          uint8_t* cr, int chromaLine, int black);

// ---------------------------------------------------------------------------
// Plane helpers.

// Replicates the sample at width - 1 of each of the `height` lines up to
// lineLength, then the last line down to paddedHeight.
void PadFrameEdges(uint8_t* plane, int width, int height, int lineLength, int paddedHeight);

// Median (strength 0..100) and low-pass filters over the width x height
// picture held in `source` (line length lineLength), written to `target`; the
// outermost lines and columns are copied unchanged.
void MedianFilterPlane(const uint8_t* source, uint8_t* target, int width, int height, int lineLength, int strength);
void LowPassFilterPlane(const uint8_t* source, uint8_t* target, int width, int height, int lineLength, int strength);

// Clears the black border rows of a bottom-up bitmap: `bottom` and `top`
// line counts (rounded up to even), each only when 0 < count <= 32 and
// count < limit. Rows beyond the bitmap's own height are never touched.
void ClearBorderRows(uint8_t* pixels, int rowBytes, int rows, int bottom, int top, int limit);

// Expands an 8-bit bitmap through its palette (entries of blue, green, red,
// reserved) into 24-bit rows padded to 4 bytes. Indices past the palette give black.
void ExpandPaletteFrame(const uint8_t* indices, const uint8_t* palette, int paletteCount, int width, int height,
                        uint8_t* rgb);

// ---------------------------------------------------------------------------
// Frame numbering.

struct FrameRateConversionState {
    int enabled = 0;
    double outputToInputRatio = 1.0;
    int aviFirstFrame = 0;
    int aviEndFrame = 0;  // one past the last
};
extern FrameRateConversionState FrameRateConversion;

int MapOutputToInputFrame(int n);

// The raw input name for frame `frame`: the first integer conversion of
// `pattern` (flags and width allowed) takes the number; every other '%' is
// kept as it stands.
std::string FormatRawInputName(const std::string& pattern, int frame);

// ---------------------------------------------------------------------------
// The AVI source as the input path reaches it: the job's AVI source unless a
// test hands over frames of its own.

struct InputAviAccess {
    // Packed bitmap of frame n (40-byte header, palette, rows bottom-up), or
    // null; the buffer belongs to the source and is reused by its next call.
    const uint8_t* (*readFrame)(int frame) = nullptr;
    int (*isOpen)() = nullptr;              // file and frame getter present
    int (*firstFrame)() = nullptr;
    int (*endFrame)() = nullptr;            // one past the last
    int (*deinterlacesItself)() = nullptr;  // the source rebuilds fields before scaling
    int (*hasVideo)() = nullptr;
    int (*rate)() = nullptr;   // frame rate as rate / scale
    int (*scale)() = nullptr;
    // Why the last read on a thread that may not show messages failed ("" when unknown).
    std::string (*takeReadError)() = nullptr;
};
// Empty until the job's AVI source opens a file (or a test installs its own).
extern InputAviAccess InputAvi;

// Film-cadence analysis and deinterlacing of one 24-bit bottom-up frame;
// returns the frame to convert (the same pixels or a buffer of its own).
// Null: frames are converted as they come.
using DeinterlaceFrameFn = uint8_t* (*)(uint8_t* pixels, int width, int height, int rowBytes, int sourceBits);
extern DeinterlaceFrameFn DeinterlaceAndAnalyseFrame;

// ---------------------------------------------------------------------------
// Read-ahead cache of AVI frames.

constexpr int InputCacheMaxSlots = 40;

struct InputFrameCacheState {
    int slotCount = 0;
    size_t slotSize = 0;
    std::atomic<int> slotFrame[InputCacheMaxSlots];  // -1 empty
    uint8_t* slotBuffer[InputCacheMaxSlots] = {};
    // Frames served outside the cache are copied here so that a later read
    // of the source cannot change them while they are converted.
    uint8_t* directBuffer = nullptr;
    std::atomic<int> lastCachedFrame{-1};
    std::atomic<int> lastCopiedFrame{-1};
    std::atomic<int> maxRequestedFrame{-1};
    std::atomic<int> readAheadStart{0};
    std::atomic<int> readerBusy{0};  // taken only by compare-and-swap
    std::atomic<int> readError{0};
    std::string readErrorText;       // a worker's failure, handed over through readError
    // Geometry and range captured when the cache is allocated and reset.
    int width = 0, height = 0;
    int aviFirstFrame = 0, aviEndFrame = 0;
};
extern InputFrameCacheState InputFrameCache;

// Sizes the cache from the settings and FrameRateConversion and allocates it;
// -1 after reporting "Cannot allocate memory for frame ring buffer\n".
int AllocateInputFrameCache();
// Frees the slots and the input path's own buffers; every slot ends empty.
void FreeInputFrameCache();

void ResetInputState();
const uint8_t* GetCachedInputFrame(int n);
int ReadAheadInputFrames();
// Worker task: runs ReadAheadInputFrames with failures recorded, never shown.
int32_t InputReadAheadTask(void* argument, int slot);

// ---------------------------------------------------------------------------
// Reading a picture.

// The input path's words for one encoding: what the set-up chose, where the
// picture driver has got to and the input path's own buffers. The frame-rate
// mapping, the AVI source and the read-ahead cache keep their records above.
struct InputStateRecord {
    // Output frame number of the picture being read (display index plus the
    // sequence's first output frame), set before each read.
    int CurrentFrameNumber = 0;
    // Film-cadence deinterlacing runs for this encoding.
    int SmartDeinterlace = 0;
    // Luma filtering of the read pictures, through FilterPlane
    // (EncodeWidth x EncodeHeight + 32, allocated by set-up).
    int InputFilterOn = 0;
    uint8_t* FilterPlane = nullptr;
    // 1 while a read is made only to show the input preview: the frame store is left alone.
    int InputPreviewOnly = 0;
    // Receives palette frames when the input preview is off; allocated on first need.
    uint8_t* InputRgbBuffer = nullptr;
    // The last frame read from the input, and the last shown in the input preview.
    int LastReadInputFrame = -2, LastShownInputFrame = -2;
    // Lowest input frame that must stay readable; the picture driver raises it.
    std::atomic<int> OldestNeededFrame{0};
};
extern InputStateRecord InputState;

// Dispatches on EncoderSettings.inputType: 0 "%s.Y/.U/.V", 1 "%s.yuv", 2 AVI.
// 0, or -1 after a reported failure.
int ReadInputFrame(const std::string& name, const FramePlanes& planes);
int ReadRawFrame(const std::string& name, const FramePlanes& planes, int type);
// The same read without any report: -1 on every failure. Safe on a worker.
int ReadRawFrameQuietly(const std::string& name, const FramePlanes& planes, int type);
int ReadAviFrame(const FramePlanes& planes);
