// The resize export: supersampling goes to the decimation path, every other
// method to the zoom; a failure below is passed on as a backtrace.
#include "resize/iplcore.h"

extern "C" void iplResize(ImageHeader* srcImage, ImageHeader* dstImage, int xDst, int xSrc,
                          int yDst, int ySrc, int interpolate)
{
    if (interpolate == IPL_INTER_SUPER) {
        if (xDst > xSrc || yDst > ySrc) {
            IPL_RAISE(kIplStsBadArg, "iplResize", "(xDst > xSrc || yDst > ySrc)", "iplresiz");
            return;
        }
        Decimate(srcImage, dstImage, xDst, xSrc, yDst, ySrc, interpolate);
    } else {
        iplZoom(srcImage, dstImage, xDst, xSrc, yDst, ySrc, interpolate);
    }
    if (iplGetErrStatus() < 0)
        IPL_RAISE(kIplStsBackTrace, "iplResize", "", "iplresiz");
}
