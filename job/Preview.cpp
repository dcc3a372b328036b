// Preview panes as the encoder sees them.
#include "job/Preview.h"

#include "engine/Encoder.h"

PreviewWindowHooks PreviewWindows;

void ReleasePreviewBuffers() {
    FreeEncoderParameterBuffersPreviewOnly();
    InvalidatePreviewWindows();
}

void RefreshInputPreview() {
    if (PreviewWindows.refreshInput) PreviewWindows.refreshInput();
}

void RefreshOutputPreview() {
    if (PreviewWindows.refreshOutput) PreviewWindows.refreshOutput();
}

void InvalidatePreviewWindows() {
    if (PreviewWindows.invalidate) PreviewWindows.invalidate();
}
