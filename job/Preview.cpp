// Preview frame buffers. Nothing allocates them yet, so there is nothing to
// release; the preview drawing fills this in.
#include "job/Preview.h"

void ReleasePreviewBuffers() {}
