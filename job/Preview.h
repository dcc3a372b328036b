// Preview frame buffers shared by the encoder set-up and the preview panes.
#pragma once

// Frees the input and output preview buffers and invalidates both panes.
void ReleasePreviewBuffers();
