// Deinterlacing of 24-bit bottom-up RGB frames (rows padded to 4 bytes): field
// blending, the edge-directed interpolator and the film-cadence analysis that
// weaves the matching field of a neighbouring frame back in.
#pragma once

#include <cstddef>
#include <cstdint>

// Film buffers, allocated by set-up ((EncodeWidth + 4) x EncodeHeight x 3 + 32
// bytes each): [0] copy of the current frame, [1] output, [2] previous frame,
// [3] next frame. Null when not allocated.
extern uint8_t* DeinterlaceBuffers[5];

// Bits of EncoderSettings.smartDeinterlaceMode.
enum : int {
    DEINTERLACE_FILM = 1,          // film analysis allowed
    DEINTERLACE_MARKER = 2,        // paint a marker row where a field was woven in
    DEINTERLACE_FILM_ALWAYS = 4,   // film analysis without the inverse-telecine setting
    DEINTERLACE_EDGE_ADAPTIVE = 8, // edge-adaptive blending
    DEINTERLACE_EDGE_DIRECTED = 16 // EdgeDirectedDeinterlace after blending
};

// Field choices: which frame's field is woven in, or interpolation.
enum : int { FIELD_CURRENT = 0, FIELD_PREVIOUS = 1, FIELD_NEXT = 2, FIELD_INTERPOLATE = 3 };
// SelectFieldByEdges results besides the three field choices.
constexpr int EDGE_NO_RELIABLE_SELECTION = -10;
constexpr int EDGE_NO_FIELD_USABLE = -20;

// The energy that stands for a neighbouring frame that cannot be had.
constexpr uint64_t FieldUnavailableEnergy = 1000000000;

struct FieldChoiceEntry {
    int32_t frame = 0;
    int choice = 0;
};
// The last 32 choices; entry i lives at position i mod 32.
struct FieldChoiceRing {
    FieldChoiceEntry entries[32];
    int count = 0;
};
extern FieldChoiceRing FieldChoiceHistory;
// Diagnostics: frames where the cadence suggestion was taken, and frames where
// the edge selection disagreed with a woven field.
extern int FieldSelectionWorkedCount;
extern int EdgeSelectionWrongCount;

// Clears the choice history and its counters; set-up calls it before a
// sequence, and it hands the input path its deinterlace step.
void ResetFieldAnalysis();

// Row length in bytes of a 24-bit bitmap row of `width` pixels.
inline size_t BitmapRowBytes(int width) { return static_cast<size_t>(4 * ((3 * width + 3) / 4)); }

// Kernels of the blending and of the edge-directed search: plain and SSE2,
// identical results.
using AverageRowsFn = void (*)(uint8_t* out, const uint8_t* upper, const uint8_t* lower, int count);
using WeightedLineSadFn = int (*)(const uint8_t* a, const uint8_t* b);
struct DeinterlaceKernels {
    AverageRowsFn averageRows = nullptr;  // out[i] = (upper[i] + lower[i] + 1) >> 1
    WeightedLineSadFn weightedLineSad = nullptr;
};
void deinterlace_init(bool simd, DeinterlaceKernels& kernels);
// The kernels the engine runs: plain until SelectEngineKernels fills it
// when an encoding is set up.
extern DeinterlaceKernels DeinterlaceKernelSet;
void AverageRowsPlain(uint8_t* out, const uint8_t* upper, const uint8_t* lower, int count);
void AverageRowsSse2(uint8_t* out, const uint8_t* upper, const uint8_t* lower, int count);
int WeightedLineSadPlain(const uint8_t* a, const uint8_t* b);
int WeightedLineSadSse2(const uint8_t* a, const uint8_t* b);

// Rebuilds the odd rows (1, 3, ...) of the frame from their neighbours, in
// place; the last row becomes a copy of the one below it when the height is
// even. Edge-adaptive blending pulls pixels on strong edges towards the side
// the neighbourhood agrees with.
void BlendFieldRows(uint8_t* frame, int width, int height, size_t rowBytes, bool edgeAdaptive);

// Refines the rebuilt rows 3, 5, ... in place along the best-matching direction
// between the rows above and below. Safe to call from several threads at once.
void EdgeDirectedDeinterlace(uint8_t* frame, int width, int height);
// 24 bytes: the average of `upper` and the half-pixel point of `lower`.
void BlendLineSegment(uint8_t* out, const uint8_t* upper, const uint8_t* lower);
// Sum of absolute differences over bytes -24..47, the middle 24 counted twice.
int WeightedLineSad(const uint8_t* a, const uint8_t* b);

// Squared differences of the rows 1, 3, ... of two frames, first eighth of each row.
uint64_t FieldDifferenceEnergy(const uint8_t* a, const uint8_t* b, int width, int height);
// The choice hypothesis 0..9 predicts for input frame `frame`: 0, 1 or 2.
int FilmCadenceMatches(int hypothesis, int frame);
// Which frame's odd rows continue the edges of the current frame's even rows:
// 0, 1, 2, EDGE_NO_RELIABLE_SELECTION or EDGE_NO_FIELD_USABLE. A null
// previous or next frame never matches.
int SelectFieldByEdges(const uint8_t* current, const uint8_t* previous, const uint8_t* next, int width,
                       int height);
// 1 when the rows just above and below `position` each hold exactly one edge
// where the offsets of the current field's edges predict it.
int DetectEdgeLine(const uint8_t* frame, ptrdiff_t position, size_t lineLength, int threshold, int offsetAbove,
                   int offsetHere, int offsetBelow);

// Where film mode gets the neighbouring input frames from.
struct FilmFrameSource {
    // Packed bitmap of input frame n (40-byte header, palette, rows), or null.
    const uint8_t* (*getFrame)(int n) = nullptr;
    int firstFrame = 0;
    int endFrame = 0;  // one past the last
};

// Film mode for input frame n: needs DeinterlaceBuffers[0..3] sized for the
// frame. Returns the output buffer; the frame itself is not changed.
uint8_t* FilmModeDeinterlace(const uint8_t* frame, int width, int height, int n, const FilmFrameSource& source,
                             int mode);

// The deinterlace step of the input path for a frame of `width` x `height`
// pixels: film mode when set up for it, else blending in place. Returns the
// frame to convert.
uint8_t* DeinterlaceFrame(uint8_t* pixels, int width, int height, size_t rowBytes, int sourceBits, int n,
                          const FilmFrameSource& source);

// The input path's deinterlace step for the current input frame: neighbours
// come from the read-ahead cache, and the black border rows are cleared again
// afterwards so that neither blending nor a woven field brings picture
// content back into them.
uint8_t* DeinterlaceInputFrame(uint8_t* pixels, int width, int height, int rowBytes, int sourceBits);
