// Preview panes as the encoder sees them: the set-up of the preview drawing,
// the drawing of the input and output pictures into the panes the program
// provides, and the release of the preview frame buffers. The drawing is the
// engine's (engine/PreviewDraw.cpp); InitEncoderLibrary and
// CleanupEncoderEnvironment are the job's start-up (job/EncoderStartup.cpp).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

// Pane numbers of the hooks below.
constexpr int kInputPane = 0;
constexpr int kOutputPane = 1;

// One drawing of a preview picture: a bottom-up bitmap (rows padded to 4
// bytes) and the part of it that goes to the pane.
struct PreviewBlit {
    const uint8_t* pixels = nullptr;
    int bufferWidth = 0, bufferHeight = 0;
    int bitsPerPixel = 24;       // 8: palette indexes into `palette`
    int64_t imageBytes = 0;
    int colorsUsed = 0;
    const uint32_t* palette = nullptr;  // 0x00RRGGBB, colorsUsed entries, only with 8 bits
    int srcX = 0, srcY = 0, srcWidth = 0, srcHeight = 0;  // srcY counts bitmap rows from the bottom
    int dstX = 0, dstY = 0, dstWidth = 0, dstHeight = 0;
};

// Set by the program when it shows preview panes; without them nothing is drawn.
struct PreviewWindowHooks {
    std::function<void()> invalidate;  // repaint both panes later
    // The pane's drawing target, null when the pane does not exist; given back with releaseSurface.
    std::function<void*(int pane)> acquireSurface;
    std::function<void(int pane, void* surface)> releaseSurface;
    // The pane's client size; false when the pane does not exist.
    std::function<bool(int pane, int* width, int* height)> clientSize;
    // May be called on a worker thread of the engine (under the pane's preview lock).
    std::function<void(void* surface, const PreviewBlit& blit)> blit;
    // Bits per pixel of the display; below 1 when it cannot be queried. Without the hook: 24.
    std::function<int()> displayBitsPerPixel;
    // Makes the preview palette current on the surface; returns how many colours changed.
    std::function<int(void* surface, const uint32_t* palette, int colours, bool foreground)> realizePalette;
};
extern PreviewWindowHooks PreviewWindows;

// Display and preview state made by InitEncoderLibrary.
extern int DisplayBitsPerPixel;
extern int& PreviewPaletteMode;  // the engine's PaletteDisplay
// The 224 preview colours of an 8-bit display (empty otherwise).
extern std::vector<uint32_t> PreviewPalette;
// Clipping table: index -384..639 gives 0 below 0, 255 above 255, else the index.
extern const uint8_t* PreviewClipTable;
extern int InputPreviewDrawing, OutputPreviewDrawing;
// Set by the drawing (on a worker when drawing is threaded), read by the panes' painting.
extern std::atomic<int> InputPreviewDrawn, OutputPreviewDrawn;

// 1 ready; 0 when the display cannot be queried or memory is out.
int InitEncoderLibrary();
// Frees the engine's parameter buffers and the preview set-up; 1.
int CleanupEncoderEnvironment();
// The 224 preview colours for a colour matrix (0x00RRGGBB), as an 8-bit display shows them.
std::vector<uint32_t> BuildPreviewPalette(int matrixCoefficients);

// Frees the input and output preview buffers and invalidates both panes.
void ReleasePreviewBuffers();
// Draw a preview picture onto a surface (null: nothing is drawn).
void DrawInputPreviewFrame(void* surface);
void DrawOutputPreviewFrame(void* surface);
// Draw into the pane's own surface; called with the matching preview lock held.
void RefreshInputPreview();
void RefreshOutputPreview();
// Draw when the matching show setting is on; 1. Called from a pane's paint
// handler with the matching preview lock held, as the engine holds it.
int DrawInputPreviewIfShown(void* surface);
int DrawOutputPreviewIfShown(void* surface);
// After a palette change by `changedPane` (-1 none); the number of colours realised.
int RealizePreviewPalette(bool foreground, int changedPane);
void InvalidatePreviewWindows();
