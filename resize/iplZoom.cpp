// The zoom: nearest-neighbour, linear and cubic resampling of a source region
// into a destination region, with channels of interest, alpha channels, masks
// and tiled images. Coordinate tables are built once for the whole region and
// the row kernels run over blocks of it, so tiled and untiled images give the
// same samples.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "resize/ZoomKernels.h"
#include "resize/iplcore.h"

namespace {

const char kFunction[] = "iplZoom";
const char kModule[] = "iplZoom";

struct Region {
    int x0 = 0, y0 = 0, w = 0, h = 0;
    int lastCol = 0, lastRow = 0;  // the image's last column and row, from the origin
    int firstChannel = 0, channels = 0;
    bool empty = false;
};

Region ImageRegion(const ImageHeader* image)
{
    Region r;
    const ImageRoi* roi = image->roi;
    if (roi != nullptr) {
        r.x0 = roi->xOffset;
        r.y0 = roi->yOffset;
    }
    if (r.x0 >= image->width || r.y0 >= image->height) {
        r.empty = true;
        return r;
    }
    r.w = roi != nullptr ? std::min(roi->width, image->width - r.x0) : image->width;
    r.h = roi != nullptr ? std::min(roi->height, image->height - r.y0) : image->height;
    r.lastCol = image->width - r.x0 - 1;
    r.lastRow = image->height - r.y0 - 1;
    if (roi != nullptr && roi->coi != 0) {
        r.firstChannel = roi->coi - 1;
        r.channels = 1;
    } else {
        r.channels = image->nChannels - (image->alphaChannelIndex != 0 ? 1 : 0);
    }
    if (const ImageHeader* mask = image->maskImage) {
        // A mask region reaching past the mask image is clipped to it, so no
        // mask bit is read from outside the mask's data.
        const ImageRoi* mroi = mask->roi;
        int mh = mroi != nullptr ? std::min(mroi->height, mask->height - mroi->yOffset)
                                 : mask->height;
        int mw = mroi != nullptr ? std::min(mroi->width, mask->width - mroi->xOffset)
                                 : mask->width;
        if (mh <= 0 || mw <= 0) {
            r.empty = true;
            return r;
        }
        if (mh < r.h) {
            r.lastRow -= r.h - mh;
            r.h = mh;
        }
        if (mw < r.w) {
            r.lastCol -= r.w - mw;
            r.w = mw;
        }
    }
    return r;
}

// Source positions along one axis for every destination position of the region.
struct AxisTable {
    std::vector<int> index;      // absolute source column or row (see ZoomRowJob)
    std::vector<uint16_t> w;     // fixed-point linear: weight of the second sample
    std::vector<float> f;        // float fraction
};

void BuildAxis(int interpolate, double step, bool remainder, int count, int origin, int last,
               int imageSize, AxisTable& t)
{
    t.index.resize(std::size_t(count));
    t.w.resize(std::size_t(count));
    t.f.resize(std::size_t(count));
    for (int k = 0; k < count; ++k) {
        double p = 0.0 + k * step;
        if (interpolate == IPL_INTER_NN) {
            if (remainder)
                p += 0.5;
            int r = std::clamp(int(std::floor(p + 0.00001)), 0, last);
            t.index[k] = origin + r;
        } else if (interpolate == IPL_INTER_LINEAR) {
            int r = std::clamp(int(std::floor(p + 0.00001)), 0, last);
            if (r == last && origin + r - 1 >= 0) {
                t.index[k] = origin + r - 1;
                t.w[k] = 16384;
                t.f[k] = 1.0f;
            } else {
                double fraction = p - r;
                // A position just below a whole number gives a tiny negative fraction.
                double w = std::floor(fraction * 16384 + 0.00001);
                t.index[k] = origin + r;
                t.w[k] = uint16_t(std::clamp(w, 0.0, 16384.0));
                t.f[k] = float(fraction);
            }
        } else {
            int r = int(std::floor(p + 0.00001));
            int a = std::clamp(origin + r, 0, imageSize - 1);
            r = a - origin;
            float fraction;
            if (a == imageSize - 1) {
                r -= 2;
                fraction = 2.0f;
            } else {
                if (a == 0)
                    r += 1;
                else if (a == imageSize - 2)
                    r -= 1;
                fraction = float(p - r);
            }
            t.index[k] = origin + r;
            t.f[k] = fraction;
        }
    }
}

// Everything of one zoom call that does not depend on the block being computed.
struct ZoomPlan {
    const ImageHeader* src = nullptr;
    ImageHeader* dst = nullptr;
    int interpolate = 0;
    Region s, d;
    int n = 0;
    AxisTable rows, cols;
    const uint8_t* mask = nullptr;
    std::ptrdiff_t maskStep = 0;
    int maskBit = 0;
    ZoomKernel kernel = nullptr;
};

struct BlockDestination {
    char* data;                // the block's first row (first processed channel)
    std::ptrdiff_t rowBytes;
    std::ptrdiff_t planeBytes;
    int bitOffset;             // 1U: the block's first column within the row
};

// Whether samples of `depth` at `data`, rows `step` bytes apart, are aligned
// to their size (plane sizes follow, being row steps times the height).
bool SamplesAligned(const void* data, std::ptrdiff_t step, int depth)
{
    const int esize = ElementBytes(depth);
    return esize <= 1 || (uintptr_t(data) % uintptr_t(esize) == 0 && step % esize == 0);
}

// Runs the kernel over destination rows [i0, i1) and columns [j0, j1) of the region.
bool RunBlock(const ZoomPlan& plan, int i0, int i1, int j0, int j1, const BlockDestination& out)
{
    const ImageHeader* src = plan.src;
    const int depth = src->depth;
    const bool plane = src->dataOrder == IPL_DATA_ORDER_PLANE;
    const int before = plan.interpolate == IPL_INTER_CUBIC ? 1 : 0;
    const int after = plan.interpolate == IPL_INTER_CUBIC ? 2
                      : plan.interpolate == IPL_INTER_LINEAR ? 1 : 0;
    int rlo = plan.rows.index[i0], rhi = plan.rows.index[i0];
    for (int i = i0; i < i1; ++i) {
        rlo = std::min(rlo, plan.rows.index[i]);
        rhi = std::max(rhi, plan.rows.index[i]);
    }
    int clo = plan.cols.index[j0], chi = plan.cols.index[j0];
    for (int j = j0; j < j1; ++j) {
        clo = std::min(clo, plan.cols.index[j]);
        chi = std::max(chi, plan.cols.index[j]);
    }
    rlo -= before;
    clo -= before;
    rhi += after;
    chi += after;

    const char* base;
    std::ptrdiff_t rowBytes, planeBytes;
    int bx = 0, by = 0;
    char* rect = nullptr;
    // A source whose data or rows are not aligned to its sample size is read
    // through an assembled rectangle, as a tiled one is: the kernels load whole
    // samples.
    if (src->tileInfo == nullptr && SamplesAligned(src->imageData, src->widthStep, depth)) {
        base = src->imageData;
        rowBytes = src->widthStep;
        planeBytes = std::ptrdiff_t(src->widthStep) * src->height;
    } else {
        int rb = 0;
        rect = GetSourceRectWithBorder(src, clo, rlo, chi - clo + 1, rhi - rlo + 1, &rb);
        if (rect == nullptr)
            return false;
        base = rect;
        rowBytes = rb;
        planeBytes = std::ptrdiff_t(rb) * (rhi - rlo + 1);
        bx = clo;
        by = rlo;
    }
    struct RectGuard {
        char* r;
        ~RectGuard() { FreeRectBuffer(r); }
    } rectGuard{rect};

    const int esize = ElementBytes(depth);
    const int srcPixelStep = plane ? 1 : src->nChannels;
    const int dstPixelStep = plane ? 1 : plan.dst->nChannels;
    const int h = i1 - i0, w = j1 - j0;
    std::vector<std::ptrdiff_t> rowOffset(static_cast<std::size_t>(h));
    std::vector<int> colIndex(static_cast<std::size_t>(w));
    ZoomRowJob job;
    if (depth == IPL_DEPTH_1U) {
        job.src = base;
        for (int i = 0; i < h; ++i)
            rowOffset[i] = (plan.rows.index[i0 + i] - by) * rowBytes;
        for (int j = 0; j < w; ++j)
            colIndex[j] = plan.cols.index[j0 + j] - bx;
        job.srcRowStep = rowBytes;
        job.dstRowStep = out.rowBytes;
        job.dstBitOffset = out.bitOffset;
    } else {
        std::ptrdiff_t rowElems = rowBytes / esize;
        job.src = base + (plane ? plan.s.firstChannel * planeBytes
                                : std::ptrdiff_t(plan.s.firstChannel) * esize);
        for (int i = 0; i < h; ++i)
            rowOffset[i] = (plan.rows.index[i0 + i] - by) * rowElems;
        for (int j = 0; j < w; ++j)
            colIndex[j] = (plan.cols.index[j0 + j] - bx) * srcPixelStep;
        job.srcRowStep = rowElems;
        job.srcPlaneStep = planeBytes / esize;
        job.dstRowStep = out.rowBytes / esize;
        job.dstPlaneStep = out.planeBytes / esize;
    }
    job.srcPixelStep = srcPixelStep;
    job.dst = out.data;
    job.dstPixelStep = dstPixelStep;
    job.dstW = w;
    job.dstH = h;
    job.n = plan.n;
    job.planeOrder = plane;
    job.rowOffset = rowOffset.data();
    job.colIndex = colIndex.data();
    job.wy = plan.rows.w.data() + i0;
    job.fy = plan.rows.f.data() + i0;
    std::vector<uint16_t> wx(static_cast<std::size_t>(2 * w));
    for (int j = 0; j < w; ++j) {
        wx[2 * j] = uint16_t(16384 - plan.cols.w[j0 + j]);
        wx[2 * j + 1] = plan.cols.w[j0 + j];
    }
    job.wx = wx.data();
    job.fx = plan.cols.f.data() + j0;
    if (plan.mask != nullptr) {
        job.mask = plan.mask + i0 * plan.maskStep;
        job.maskStep = plan.maskStep;
        job.maskBitOffset = plan.maskBit + j0;
    }
    const int fullValues = plane ? plan.d.w : plan.d.w * plan.n;
    const int vectorValues = fullValues - fullValues % 4;
    const int firstValue = plane ? j0 : j0 * plan.n;
    const int blockValues = plane ? w : w * plan.n;
    job.roundLimit = std::clamp(vectorValues - firstValue, 0, blockValues);

    plan.kernel(job);
    return true;
}

// RunBlock into a destination whose data or rows are not aligned to the sample
// size: the block goes through an aligned copy of its rows (read first, so
// that pixels a mask keeps stay as they were) and is copied back.
bool RunBlockInto(const ZoomPlan& plan, int i0, int i1, int j0, int j1,
                  const BlockDestination& out)
{
    const ImageHeader* dst = plan.dst;
    if (SamplesAligned(out.data, out.rowBytes, dst->depth) &&
        SamplesAligned(nullptr, out.planeBytes, dst->depth))
        return RunBlock(plan, i0, i1, j0, j1, out);
    const bool plane = dst->dataOrder == IPL_DATA_ORDER_PLANE;
    const int esize = ElementBytes(dst->depth);
    const int h = i1 - i0, w = j1 - j0;
    const int planes = plane ? plan.n : 1;
    const std::ptrdiff_t span =
        std::ptrdiff_t(esize) * (plane ? w : std::ptrdiff_t(w - 1) * dst->nChannels + plan.n);
    const std::ptrdiff_t rowBytes = (span + 15) / 16 * 16;
    std::vector<char> copy(std::size_t(rowBytes * h * planes + 16));
    char* base = reinterpret_cast<char*>((uintptr_t(copy.data()) + 15) & ~uintptr_t(15));
    BlockDestination aligned{base, rowBytes, rowBytes * h, out.bitOffset};
    auto transfer = [&](bool in) {
        for (int p = 0; p < planes; ++p)
            for (int i = 0; i < h; ++i) {
                char* theirs = out.data + p * out.planeBytes + i * out.rowBytes;
                char* ours = base + p * aligned.planeBytes + i * rowBytes;
                if (in)
                    std::memcpy(ours, theirs, std::size_t(span));
                else
                    std::memcpy(theirs, ours, std::size_t(span));
            }
    };
    transfer(true);
    if (!RunBlock(plan, i0, i1, j0, j1, aligned))
        return false;
    transfer(false);
    return true;
}

// The destination block of an untiled destination.
BlockDestination UntiledBlock(const ZoomPlan& plan, int i0, int j0)
{
    const ImageHeader* dst = plan.dst;
    const int depth = dst->depth;
    const bool plane = dst->dataOrder == IPL_DATA_ORDER_PLANE;
    const int x = plan.d.x0 + j0, y = plan.d.y0 + i0;
    BlockDestination out;
    out.rowBytes = dst->widthStep;
    out.planeBytes = std::ptrdiff_t(dst->widthStep) * dst->height;
    char* row = dst->imageData + std::ptrdiff_t(dst->widthStep) * y;
    if (depth == IPL_DEPTH_1U) {
        out.data = row;
        out.bitOffset = x;
        return out;
    }
    const int esize = ElementBytes(depth);
    out.bitOffset = 0;
    out.data = plane ? row + out.planeBytes * plan.d.firstChannel + std::ptrdiff_t(esize) * x
                     : row + std::ptrdiff_t(esize) *
                                 (plan.d.firstChannel + std::ptrdiff_t(x) * dst->nChannels);
    return out;
}

// Tile grid of a destination region: the tiles that rows [y, y+h) and columns
// [x, x+w) of the image cross.
struct ZoomTileGrid {
    int firstCol, firstRow, cols, rows, tileW, tileH;
};

ZoomTileGrid GetZoomTileGrid(int x, int y, int w, int h, int tileW, int tileH)
{
    ZoomTileGrid g;
    g.tileW = tileW;
    g.tileH = tileH;
    g.firstCol = x / tileW;
    g.firstRow = y / tileH;
    g.cols = (x + w - 1) / tileW - x / tileW + 1;
    g.rows = (y + h - 1) / tileH - y / tileH + 1;
    return g;
}

int RunTiled(const ZoomPlan& plan)
{
    ImageHeader* dst = plan.dst;
    const int x = plan.d.x0, y = plan.d.y0, w = plan.d.w, h = plan.d.h;
    if (dst->tileInfo == nullptr) {
        // A source in tiles is read in 64 x 64 blocks of the destination.
        ZoomTileGrid g = GetZoomTileGrid(x, y, w, h, 64, 64);
        for (int tr = g.firstRow; tr < g.firstRow + g.rows; ++tr) {
            int ya = std::max(y, tr * 64), yb = std::min(y + h, (tr + 1) * 64);
            for (int tc = g.firstCol; tc < g.firstCol + g.cols; ++tc) {
                int xa = std::max(x, tc * 64), xb = std::min(x + w, (tc + 1) * 64);
                if (!RunBlockInto(plan, ya - y, yb - y, xa - x, xb - x,
                                  UntiledBlock(plan, ya - y, xa - x)))
                    return 0;
                if (iplGetErrStatus() < 0)
                    return iplGetErrStatus();
            }
        }
        return 0;
    }
    TileInfo* tiles = dst->tileInfo;
    ZoomTileGrid g = GetZoomTileGrid(x, y, w, h, tiles->tileWidth, tiles->tileHeight);
    const int depth = dst->depth;
    const bool plane = dst->dataOrder == IPL_DATA_ORDER_PLANE;
    const int rowBytes = TileRowBytes(dst);
    const std::ptrdiff_t planeBytes = TilePlaneBytes(dst);
    for (int tr = g.firstRow; tr < g.firstRow + g.rows; ++tr) {
        int ya = std::max(y, tr * g.tileH), yb = std::min(y + h, (tr + 1) * g.tileH);
        for (int tc = g.firstCol; tc < g.firstCol + g.cols; ++tc) {
            int xa = std::max(x, tc * g.tileW), xb = std::min(x + w, (tc + 1) * g.tileW);
            tiles->callBack(dst, tc, tr, IPL_GET_TILE_TO_WRITE);
            if (tiles->tileData == nullptr)
                return IPL_RAISE(kIplStsError, kFunction, "Error get tile to write", kModule);
            BlockDestination out;
            out.rowBytes = rowBytes;
            out.planeBytes = planeBytes;
            char* row = tiles->tileData + std::ptrdiff_t(rowBytes) * (ya - tr * g.tileH);
            int xt = xa - tc * g.tileW;
            if (depth == IPL_DEPTH_1U) {
                out.data = row;
                out.bitOffset = xt;
            } else {
                int esize = ElementBytes(depth);
                out.bitOffset = 0;
                out.data = plane ? row + planeBytes * plan.d.firstChannel +
                                       std::ptrdiff_t(esize) * xt
                                 : row + std::ptrdiff_t(esize) *
                                             (plan.d.firstChannel +
                                              std::ptrdiff_t(xt) * dst->nChannels);
            }
            bool ok = RunBlockInto(plan, ya - y, yb - y, xa - x, xb - x, out);
            tiles->callBack(dst, tc, tr, IPL_RELEASE_TILE);
            if (!ok)
                return 0;
            if (iplGetErrStatus() < 0)
                return iplGetErrStatus();
        }
    }
    return 0;
}

// The region work of one call: regions, channels, mask, tables, kernel.
int ZoomImage(ImageHeader* src, ImageHeader* dst, double xFactor, double yFactor,
              int interpolate, double xStep, double yStep, bool xRemainder, bool yRemainder)
{
    ZoomPlan plan;
    plan.src = src;
    plan.dst = dst;
    plan.interpolate = interpolate;
    plan.s = ImageRegion(src);
    if (plan.s.empty)
        return 0;
    plan.d = ImageRegion(dst);
    if (plan.d.empty)
        return 0;
    plan.d.w = std::min(plan.d.w, std::max(1, int(std::floor(plan.s.w / xFactor + 0.00001))));
    plan.d.h = std::min(plan.d.h, std::max(1, int(std::floor(plan.s.h / yFactor + 0.00001))));
    const int dstW = plan.d.w, dstH = plan.d.h;

    ImageHeader* tempMask = nullptr;
    if (src->maskImage != nullptr) {
        ImageHeader* srcMask = src->maskImage;
        tempMask = iplCreateImageHeader(1, 0, IPL_DEPTH_1U, "GRAY", "GRAY", IPL_DATA_ORDER_PIXEL,
                                        srcMask->origin, IPL_ALIGN_4BYTES, dstW, dstH, nullptr,
                                        nullptr, nullptr, nullptr);
        if (tempMask == nullptr)
            return IPL_RAISE(kIplStsNoMem, kFunction, "Can't create temporary mask", kModule);
        // Cleared, so that bits the scaled source mask might not reach stay off.
        iplAllocateImage(tempMask, 1, 0);
        if (tempMask->imageData == nullptr) {
            iplDeallocate(tempMask, IPL_IMAGE_ALL);
            return iplGetErrStatus();
        }
        // The source mask's extent in pixels, held to what an int counts.
        auto extent = [](double v) { return int(std::clamp(std::floor(v + 0.00001), -1.0, double(INT32_MAX))); };
        int mw = extent(xFactor * dstW);
        if (mw < 1)
            mw = extent(dstW / xFactor);
        int mh = extent(yFactor * dstH);
        if (mh < 1)
            mh = extent(dstH / yFactor);
        iplResize(srcMask, tempMask, dstW, std::max(mw, 1), dstH, std::max(mh, 1), IPL_INTER_NN);
        if (iplGetErrStatus() < 0) {
            int r = IPL_RAISE(kIplStsBackTrace, kFunction, "", kModule);
            if (r != 0) {
                iplDeallocate(tempMask, IPL_IMAGE_ALL);
                return r;
            }
        }
        if (dst->maskImage != nullptr) {
            iplAnd(tempMask, dst->maskImage, tempMask);
            if (iplGetErrStatus() < 0) {
                int r = IPL_RAISE(kIplStsBackTrace, kFunction, "", kModule);
                if (r != 0) {
                    iplDeallocate(tempMask, IPL_IMAGE_ALL);
                    return r;
                }
            }
        }
    }
    struct MaskGuard {
        ImageHeader* m;
        ~MaskGuard() { iplDeallocate(m, IPL_IMAGE_ALL); }
    } guard{tempMask};
    const ImageHeader* effective = tempMask != nullptr ? tempMask : dst->maskImage;
    if (effective != nullptr) {
        const ImageRoi* mroi = effective->roi;
        plan.mask = reinterpret_cast<const uint8_t*>(effective->imageData) +
                    std::ptrdiff_t(effective->widthStep) * (mroi != nullptr ? mroi->yOffset : 0);
        plan.maskStep = effective->widthStep;
        plan.maskBit = mroi != nullptr ? mroi->xOffset : 0;
    }

    if (plan.s.firstChannel != 0 || plan.d.firstChannel != 0) {
        if (plan.s.channels != 1 || plan.d.channels != 1)
            return IPL_RAISE(kIplStsError, kFunction, "srcImage COI != dstImage COI", kModule);
    } else if (plan.s.channels != plan.d.channels) {
        return IPL_RAISE(kIplStsError, kFunction, "srcImage COI != dstImage COI", kModule);
    }
    plan.n = plan.s.channels;
    plan.kernel = ChooseZoomKernel(interpolate, src->depth, src->dataOrder);
    // Both weight forms are built; the kernel of the depth and build picks its own.
    BuildAxis(interpolate, yStep, yRemainder, dstH, plan.s.y0, plan.s.lastRow, src->height,
              plan.rows);
    BuildAxis(interpolate, xStep, xRemainder, dstW, plan.s.x0, plan.s.lastCol, src->width,
              plan.cols);

    // Unaligned images go block by block, so that their copies stay small.
    if (src->tileInfo == nullptr && dst->tileInfo == nullptr &&
        SamplesAligned(src->imageData, src->widthStep, src->depth) &&
        SamplesAligned(dst->imageData, dst->widthStep, dst->depth)) {
        RunBlock(plan, 0, dstH, 0, dstW, UntiledBlock(plan, 0, 0));
        return 0;
    }
    return RunTiled(plan);
}

}  // namespace

int iplZoom(ImageHeader* srcImage, ImageHeader* dstImage, int xDst, int xSrc, int yDst, int ySrc,
            int interpolate)
{
    if (CheckImageHeader(srcImage) != 0)
        return RaiseIplError(iplGetErrStatus(), kFunction, "Incorrect Image", kModule, 811);
    if (CheckImageHeader(dstImage) != 0)
        return RaiseIplError(iplGetErrStatus(), kFunction, "Incorrect Image", kModule, 812);
    if (interpolate != IPL_INTER_NN && interpolate != IPL_INTER_LINEAR &&
        interpolate != IPL_INTER_CUBIC)
        RaiseIplError(kIplStsBadArg, kFunction,
                      "interpolate != IPL_INTER_NN && interpolate != IPL_INTER_LINEAR && "
                      "interpolate != IPL_INTER_CUBIC",
                      kModule, 813);
    if (srcImage->depth != dstImage->depth)
        RaiseIplError(kIplStsBadArg, kFunction, "srcImage->depth != dstImage->depth", kModule,
                      814);
    if (srcImage->depth != IPL_DEPTH_1U && srcImage->depth != IPL_DEPTH_8U &&
        srcImage->depth != IPL_DEPTH_16U && srcImage->depth != IPL_DEPTH_32F)
        RaiseIplError(kIplStsBadArg, kFunction,
                      "srcImage->depth != IPL_DEPTH_1U && srcImage->depth != IPL_DEPTH_8U && "
                      "srcImage->depth != IPL_DEPTH_16U && srcImage->depth != IPL_DEPTH_32F",
                      kModule, 815);
    if (srcImage->dataOrder != dstImage->dataOrder)
        RaiseIplError(kIplStsBadArg, kFunction, "srcImage->dataOrder != dstImage->dataOrder",
                      kModule, 816);
    if (xDst < 1 || xSrc < 1)
        RaiseIplError(kIplStsBadArg, kFunction, "xDst <= 0 || xSrc <= 0", kModule, 817);
    if (yDst < 1 || ySrc < 1)
        RaiseIplError(kIplStsBadArg, kFunction, "yDst <= 0 || ySrc <= 0", kModule, 818);
    if (iplGetErrStatus() < 0)
        return iplGetErrStatus();

    if (srcImage->depth == IPL_DEPTH_1U || srcImage->width < 2 || srcImage->height < 2)
        interpolate = IPL_INTER_NN;
    else if (interpolate == IPL_INTER_CUBIC && (srcImage->width < 4 || srcImage->height < 4))
        interpolate = IPL_INTER_LINEAR;

    const double xFactor = double(xSrc) / xDst;
    const double yFactor = double(ySrc) / yDst;
    const bool xRemainder = std::max(xSrc, xDst) % std::min(xSrc, xDst) != 0;
    const bool yRemainder = std::max(ySrc, yDst) % std::min(ySrc, yDst) != 0;
    const int srcW = srcImage->roi != nullptr ? srcImage->roi->width : srcImage->width;
    const int srcH = srcImage->roi != nullptr ? srcImage->roi->height : srcImage->height;
    const double dstSpanX = double(xDst) * srcW / xSrc;
    const double dstSpanY = double(yDst) * srcH / ySrc;
    // The scaled region sizes become pixel counts: a ratio that scales the
    // region past the range of a count is refused.
    if (!(dstSpanX < double(INT_MAX)) || !(dstSpanY < double(INT_MAX)))
        return IPL_RAISE(kIplStsBadArg, kFunction,
                         "xDst * srcW / xSrc or yDst * srcH / ySrc out of range", kModule);
    auto stepOf = [&](bool remainder, int size, double span) {
        if (interpolate != IPL_INTER_NN || remainder)
            return span <= 1.0 ? 0.0 : (size - 1) / (span - 1.0);
        return size / span;
    };
    const double xStep = stepOf(xRemainder, srcW, dstSpanX);
    const double yStep = stepOf(yRemainder, srcH, dstSpanY);

    if (srcImage == dstImage)
        return RaiseIplError(kIplStsBadArg, kFunction, "This function isn`t in-plase function",
                             kModule, 855);
    if ((srcImage->alphaChannelIndex != 0 && srcImage->nChannels == 1) ||
        (dstImage->alphaChannelIndex != 0 && dstImage->nChannels == 1))
        return 1;
    try {
        return ZoomImage(srcImage, dstImage, xFactor, yFactor, interpolate, xStep, yStep,
                         xRemainder, yRemainder);
    } catch (const std::bad_alloc&) {
        return IPL_RAISE(kIplStsNoMem, kFunction, "Can't allocate memory", kModule);
    }
}
