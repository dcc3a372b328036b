// Preview panes as the encoder sees them: the release of the preview buffers.
#include "job/Preview.h"

#include "engine/Encoder.h"

PreviewWindowHooks PreviewWindows;

void ReleasePreviewBuffers() {
    FreeEncoderParameterBuffersPreviewOnly();
    InvalidatePreviewWindows();
}

void InvalidatePreviewWindows() {
    if (PreviewWindows.invalidate) PreviewWindows.invalidate();
}
