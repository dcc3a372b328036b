// The drawing of the preview pictures into the panes the program provides,
// and its one-time set-up (the clipping table and, on an 8-bit display, the
// preview palette).
#include <algorithm>

#include "engine/Encoder.h"
#include "engine/EngineState.h"
#include "engine/PreviewConvert.h"
#include "platform/ResStrings.h"
#include "settings/EncoderSettings.h"
#include "settings/JobUtil.h"
#include "settings/Preview.h"
#include "settings/Report.h"

PreviewStateRecord PreviewPictures;
PreviewWindowHooks PreviewWindows;

int DisplayBitsPerPixel = 0;
int& PreviewPaletteMode = PreviewPictures.PaletteDisplay;
std::vector<uint32_t> PreviewPalette;
const uint8_t* PreviewClipTable = nullptr;
int InputPreviewDrawing = 0, OutputPreviewDrawing = 0;
std::atomic<int> InputPreviewDrawn{0}, OutputPreviewDrawn{0};

namespace {

constexpr int kClipLow = 384;  // entries below index 0
constexpr size_t kClipBytes = 1040;
constexpr int kPaletteColours = 224;
uint8_t* ClipBlock = nullptr;

// YCbCr-to-RGB coefficients (16.16) by matrix code: red from Cr, blue from Cb,
// green from Cb, green from Cr. Codes 2 and 3 (unspecified, reserved) take the
// same row as 5, the usual default.
constexpr int32_t kInverseMatrix[8][4] = {
    {117504, 138453, 13954, 34903}, {117504, 138453, 13954, 34903}, {104597, 132201, 25675, 53279},
    {104597, 132201, 25675, 53279}, {104448, 132798, 24759, 53109}, {104597, 132201, 25675, 53279},
    {104597, 132201, 25675, 53279}, {117579, 136230, 16907, 35559},
};

uint8_t Clip(int value) {
    if (PreviewClipTable && value >= -kClipLow && value < 640) return PreviewClipTable[value];
    return static_cast<uint8_t>(std::clamp(value, 0, 255));
}

struct PaneDrawState {
    int pane;
    int& drawing;
    std::atomic<int>& drawn;
    int EncoderSettingsRecord::*show;
    int& ready;
    uint8_t*& buffer;
};

PaneDrawState InputPaneState() {
    return {kInputPane,
            InputPreviewDrawing,
            InputPreviewDrawn,
            &EncoderSettingsRecord::showInput,
            PreviewPictures.InputPreviewReady,
            PreviewPictures.InputPreviewBuffer};
}
PaneDrawState OutputPaneState() {
    return {kOutputPane,
            OutputPreviewDrawing,
            OutputPreviewDrawn,
            &EncoderSettingsRecord::showOutput,
            PreviewPictures.OutputPreviewReady,
            PreviewPictures.OutputPreviewBuffer};
}

void DrawPreviewFrame(const PaneDrawState& s, void* surface) {
    if (s.drawing) return;
    s.drawing = 1;
    s.drawn = 0;
    if (EncoderSettings.*s.show && s.ready && surface && s.buffer && PreviewWindows.blit) {
        const bool palette = DisplayBitsPerPixel == 8 && !PreviewPalette.empty();
        if (palette && PreviewWindows.realizePalette)
            PreviewWindows.realizePalette(surface, PreviewPalette.data(), kPaletteColours, true);
        // The engine's preview buffers hold exactly the picture.
        const int width = PreviewPictures.PreviewPictureWidth, height = PreviewPictures.PreviewPictureHeight;
        PreviewBlit b;
        b.pixels = s.buffer;
        b.bufferWidth = width;
        b.bufferHeight = height;
        if (PreviewPaletteMode) {
            b.bitsPerPixel = 8;
            b.imageBytes = static_cast<int64_t>(height) * width;
            b.colorsUsed = kPaletteColours;
            b.palette = PreviewPalette.empty() ? nullptr : PreviewPalette.data();
        } else {
            b.bitsPerPixel = 24;
            b.imageBytes = static_cast<int64_t>(height) * width * 3;
        }
        b.srcWidth = width;
        b.srcHeight = height;
        b.dstWidth = width;
        b.dstHeight = height;
        int paneWidth = 0, paneHeight = 0;
        if (EncoderSettings.stretchPreview && PreviewWindows.clientSize &&
            PreviewWindows.clientSize(s.pane, &paneWidth, &paneHeight)) {
            b.dstWidth = paneWidth;
            b.dstHeight = paneHeight;
        }
        PreviewWindows.blit(surface, b);
        s.drawn = 1;
    }
    s.drawing = 0;
}

void RefreshPane(const PaneDrawState& s, void (*draw)(void*)) {
    if (s.drawing || !(EncoderSettings.*s.show) || !s.ready || !PreviewWindows.acquireSurface) return;
    void* surface = PreviewWindows.acquireSurface(s.pane);
    if (!surface) return;
    draw(surface);
    if (PreviewWindows.releaseSurface) PreviewWindows.releaseSurface(s.pane, surface);
}

}  // namespace

std::vector<uint32_t> BuildPreviewPalette(int matrixCoefficients) {
    const int code = matrixCoefficients >= 0 && matrixCoefficients < 8 ? matrixCoefficients : 1;
    const int32_t* c = kInverseMatrix[code];
    std::vector<uint32_t> palette(kPaletteColours);
    for (int i = 16; i < 16 + kPaletteColours; ++i) {
        const int32_t k = i / 16;
        const int32_t u = 32 * ((i / 4) % 4) - 48;
        const int32_t v = 32 * (i % 4) - 48;
        const int32_t luma = k * 1221968 - 610472;
        const uint32_t red = Clip((v * c[0] + luma + 32768) >> 16);
        const uint32_t green = Clip((luma - v * c[3] - u * c[2] + 32768) >> 16);
        // 32786 rather than 32768: blue has always been rounded this way.
        const uint32_t blue = Clip((u * c[1] + luma + 32786) >> 16);
        palette[static_cast<size_t>(i - 16)] = (red << 16) | (green << 8) | blue;
    }
    return palette;
}

int InitPreviewDrawing() {
    PreviewOptions.outputThroughChosen = 1;
    PreviewOptions.thirdDisplayMode = 1;
    PreviewOptions.matrixDither = 1;
    PreviewPaletteMode = 0;
    if (!ClipBlock) {
        ClipBlock = static_cast<uint8_t*>(AllocAligned(kClipBytes));
        // Nothing below can work without the table.
        if (!ClipBlock) {
            ReportFatalError(LoadResString(63477));
            return 0;
        }
        for (int i = -kClipLow; i < 640; ++i) ClipBlock[i + kClipLow] = static_cast<uint8_t>(std::clamp(i, 0, 255));
        PreviewClipTable = ClipBlock + kClipLow;
    }
    JobOwnerWindow = MessageOwnerWindow;
    DisplayBitsPerPixel = PreviewWindows.displayBitsPerPixel ? PreviewWindows.displayBitsPerPixel() : 24;
    if (DisplayBitsPerPixel < 1) return 0;
    PreviewPalette.clear();
    if (DisplayBitsPerPixel == 8) {
        PreviewPalette = BuildPreviewPalette(EncoderSettings.matrixCoefficients);
        InitDisplayConversion(8);
        PreviewPaletteMode = 1;
    }
    return 1;
}

void FreePreviewDrawing() {
    FreeAligned(ClipBlock);
    ClipBlock = nullptr;
    PreviewClipTable = nullptr;
    PreviewPalette.clear();
    PreviewPaletteMode = 0;
}

void ReleasePreviewBuffers() {
    FreeEncoderParameterBuffersPreviewOnly();
    InvalidatePreviewWindows();
}

void InvalidatePreviewWindows() {
    if (PreviewWindows.invalidate) PreviewWindows.invalidate();
}

void DrawInputPreviewFrame(void* surface) { DrawPreviewFrame(InputPaneState(), surface); }
void DrawOutputPreviewFrame(void* surface) { DrawPreviewFrame(OutputPaneState(), surface); }

void RefreshInputPreview() { RefreshPane(InputPaneState(), DrawInputPreviewFrame); }
void RefreshOutputPreview() { RefreshPane(OutputPaneState(), DrawOutputPreviewFrame); }

int DrawInputPreviewIfShown(void* surface) {
    if (EncoderSettings.showInput) DrawInputPreviewFrame(surface);
    return 1;
}
int DrawOutputPreviewIfShown(void* surface) {
    if (EncoderSettings.showOutput) DrawOutputPreviewFrame(surface);
    return 1;
}

int RealizePreviewPalette(bool foreground, int changedPane) {
    if (!EncoderSettings.showInput || !PreviewPictures.InputPreviewReady || !PreviewWindows.acquireSurface) return 0;
    void* surface = nullptr;
    int pane = -1;
    for (int candidate : {kInputPane, kOutputPane}) {
        if (candidate == changedPane) continue;
        surface = PreviewWindows.acquireSurface(candidate);
        if (surface) {
            pane = candidate;
            break;
        }
    }
    if (!surface) return 0;
    int changed = 0;
    if (DisplayBitsPerPixel == 8 && !PreviewPalette.empty() && PreviewWindows.realizePalette)
        changed = PreviewWindows.realizePalette(surface, PreviewPalette.data(), kPaletteColours, foreground);
    if (changed > 0) InvalidatePreviewWindows();
    if (PreviewWindows.releaseSurface) PreviewWindows.releaseSurface(pane, surface);
    return changed;
}
