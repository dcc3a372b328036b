// Preview conversion of 4:2:0 pictures to bottom-up 24-bit bitmaps.
#include "engine/PreviewConvert.h"

#include <algorithm>

#include "engine/EngineState.h"
#include "job/EncoderSettings.h"

namespace {
// Clip tables: clipBlue[s] = clamp(s - 278), clipGreen[s] = clamp(s + 136),
// clipRed[s] = clamp(s - 224), indexed by the scaled sum.
uint8_t ClipBlue(int s) { return static_cast<uint8_t>(std::clamp(s - 278, 0, 255)); }
uint8_t ClipGreen(int s) { return static_cast<uint8_t>(std::clamp(s + 136, 0, 255)); }
uint8_t ClipRed(int s) { return static_cast<uint8_t>(std::clamp(s - 224, 0, 255)); }
}  // namespace

void InitYuvToRgbTables() {}

int InitDisplayConversion(int) {
    InitYuvToRgbTables();
    return 256;
}

void ConvertYuvToRgbPreview(const FramePlanes& planes, uint8_t* bitmap, int* done) {
    if (done) *done = 0;
    if (!planes.y || !planes.cb || !planes.cr || !bitmap) return;
    const int w = EncoderSettings.horizontalSize, h = EncoderSettings.verticalSize;
    const int row = 4 * ((3 * w + 3) / 4);
    for (int y = 0; y < h; ++y) {
        uint8_t* out = bitmap + static_cast<std::ptrdiff_t>(h - 1 - y) * row;
        const uint8_t* luma = planes.y + static_cast<std::ptrdiff_t>(y) * EncodeWidth;
        const uint8_t* cb = planes.cb + static_cast<std::ptrdiff_t>(y / 2) * ChromaWidth;
        const uint8_t* cr = planes.cr + static_cast<std::ptrdiff_t>(y / 2) * ChromaWidth;
        for (int x = 0; x < w; ++x) {
            const int Y = 1192 * luma[x], U = cb[x / 2], V = cr[x / 2];
            out[3 * x] = ClipBlue((Y + 2066 * U + 512) >> 10);
            out[3 * x + 1] = ClipGreen((Y - 400 * U - 832 * V + 512) >> 10);
            out[3 * x + 2] = ClipRed((Y + 1634 * V + 512) >> 10);
        }
    }
    PreviewPictureWidth = w;
    PreviewPictureHeight = h;
    if (done) *done = 1;
}

void ConvertPictureForPreview(const FramePlanes& planes) {
    ConvertYuvToRgbPreview(planes, OutputPreviewBuffer, &OutputPreviewReady);
}
