// Preview panes as the encoder sees them: redraw and invalidate requests that
// the windowed program answers, and the release of the preview frame buffers.
#pragma once

// Set by the program when it shows preview panes; without them nothing is drawn.
struct PreviewWindowHooks {
    void (*refreshInput)() = nullptr;   // redraw the input pane from its RGB buffer
    void (*refreshOutput)() = nullptr;  // redraw the output pane from its RGB buffer
    void (*invalidate)() = nullptr;     // repaint both panes later
};
extern PreviewWindowHooks PreviewWindows;

// Frees the input and output preview buffers and invalidates both panes.
void ReleasePreviewBuffers();
// Called with the matching preview lock held.
void RefreshInputPreview();
void RefreshOutputPreview();
void InvalidatePreviewWindows();
