// The decimation path of the resize: argument checks, the geometry of source
// and destination regions, the choice of method and kernel, and the drivers
// that run the kernel over the whole region or over tiles.
#include <algorithm>
#include <cmath>
#include <new>

#include "resize/iplcore.h"
#include "resize/owndecim.h"

namespace {

const char kModule[] = "ipldecim";

// One image as the decimation sees it.
struct DecimateGeometry {
    int coi = 0;       // first processed channel
    int channels = 0;  // channels to process
    int x0 = 0, y0 = 0;
    int w = 0, h = 0;  // region size within the image (may be <= 0)
};

DecimateGeometry GeometryOf(const ImageHeader* image)
{
    DecimateGeometry g;
    const ImageRoi* roi = image->roi;
    g.channels = image->nChannels;
    g.w = image->width;
    g.h = image->height;
    if (roi != nullptr) {
        if (roi->coi != 0) {
            g.coi = roi->coi - 1;
            g.channels = 1;
        }
        g.x0 = roi->xOffset;
        g.y0 = roi->yOffset;
        g.w = std::min(roi->width, image->width - g.x0);
        g.h = std::min(roi->height, image->height - g.y0);
    }
    return g;
}

struct AdjustedMethod {
    int method;
    bool xWhole, yWhole;
};

AdjustedMethod AdjustDecimateMethod(const ImageHeader* src, const DecimateGeometry& s, int xDst,
                                    int xSrc, int yDst, int ySrc, int method)
{
    AdjustedMethod a;
    a.xWhole = xSrc % xDst == 0;
    a.yWhole = ySrc % yDst == 0;
    a.method = method;
    if (src->width < 4 || src->height < 4 || (method != IPL_INTER_SUPER && a.xWhole && a.yWhole) ||
        int64_t(xDst) * s.w / xSrc <= 0 || int64_t(yDst) * s.h / ySrc <= 0)
        a.method = IPL_INTER_NN;
    return a;
}

struct DecimateCall {
    const ImageHeader* src;
    ImageHeader* dst;
    DecimateGeometry s, d;
    DecimatePlan plan;
    DecimateKernel kernel;
    int W, H;
};

// Source view of an untiled source: its own data from the region's origin.
DecimateView UntiledView(const DecimateCall& call)
{
    const ImageHeader* src = call.src;
    DecimateView v;
    const char* row = src->imageData + std::ptrdiff_t(src->widthStep) * call.s.y0;
    if (src->depth == IPL_DEPTH_1U) {
        v.base = row;
        v.rowStep = src->widthStep;
        v.bx = -call.s.x0;
        return v;
    }
    const int esize = ElementBytes(src->depth);
    const bool plane = src->dataOrder == IPL_DATA_ORDER_PLANE;
    const std::ptrdiff_t planeBytes = std::ptrdiff_t(src->widthStep) * src->height;
    v.rowStep = src->widthStep;
    v.pixelStep = esize * (plane ? 1 : src->nChannels);
    v.channelStep = plane ? planeBytes : esize;
    v.base = plane ? row + planeBytes * call.s.coi + std::ptrdiff_t(esize) * call.s.x0
                   : row + std::ptrdiff_t(esize) *
                               (call.s.coi + std::ptrdiff_t(call.s.x0) * src->nChannels);
    return v;
}

// A source rectangle of a tiled image, in place within one tile or assembled.
struct AcquiredRect {
    const ImageHeader* image = nullptr;
    int tileCol = -1, tileRow = -1;  // the tile used in place, if any
    char* assembled = nullptr;
};

bool AcquireSourceRect(const DecimateCall& call, int clo, int chi, int rlo, int rhi,
                       AcquiredRect& rect, DecimateView& v)
{
    const ImageHeader* src = call.src;
    TileInfo* tiles = src->tileInfo;
    const int x = call.s.x0 + clo, y = call.s.y0 + rlo;
    const int w = chi - clo + 1, h = rhi - rlo + 1;
    const int esize = ElementBytes(src->depth);
    const bool plane = src->dataOrder == IPL_DATA_ORDER_PLANE;
    rect.image = src;
    const int tc = x / tiles->tileWidth, tr = y / tiles->tileHeight;
    const char* base;
    std::ptrdiff_t rowBytes, planeBytes;
    int ox, oy;  // position of the rectangle's corner within `base`
    if ((x + w - 1) / tiles->tileWidth == tc && (y + h - 1) / tiles->tileHeight == tr) {
        tiles->callBack(src, tc, tr, IPL_GET_TILE_TO_READ);
        if (tiles->tileData == nullptr) {
            tiles->callBack(src, tc, tr, IPL_RELEASE_TILE);
            return false;
        }
        rect.tileCol = tc;
        rect.tileRow = tr;
        base = tiles->tileData;
        rowBytes = TileRowBytes(src);
        planeBytes = TilePlaneBytes(src);
        ox = x - tc * tiles->tileWidth;
        oy = y - tr * tiles->tileHeight;
    } else {
        int rb = 0;
        rect.assembled = GetSourceRectWithBorder(src, x, y, w, h, &rb);
        if (rect.assembled == nullptr)
            return false;
        base = rect.assembled;
        rowBytes = rb;
        planeBytes = std::ptrdiff_t(rb) * h;
        ox = 0;
        oy = 0;
    }
    v.bx = clo;
    v.by = rlo;
    const char* row = base + rowBytes * oy;
    if (src->depth == IPL_DEPTH_1U) {
        v.base = row;
        v.rowStep = rowBytes;
        v.bx = clo - ox;
        return true;
    }
    v.rowStep = rowBytes;
    v.pixelStep = esize * (plane ? 1 : src->nChannels);
    v.channelStep = plane ? planeBytes : esize;
    v.base = plane ? row + planeBytes * call.s.coi + std::ptrdiff_t(esize) * ox
                   : row + std::ptrdiff_t(esize) *
                               (call.s.coi + std::ptrdiff_t(ox) * src->nChannels);
    return true;
}

void ReleaseSourceRect(AcquiredRect& rect)
{
    if (rect.tileCol >= 0)
        rect.image->tileInfo->callBack(rect.image, rect.tileCol, rect.tileRow, IPL_RELEASE_TILE);
    FreeRectBuffer(rect.assembled);
    rect = AcquiredRect{};
}

bool Interpolated(DecimateMethod m, bool xAxis)
{
    switch (m) {
    case DecimateMethod::LinearX:
    case DecimateMethod::CubicX: return xAxis;
    case DecimateMethod::LinearY:
    case DecimateMethod::CubicY: return !xAxis;
    case DecimateMethod::Linear:
    case DecimateMethod::Cubic: return true;
    default: return false;
    }
}

using DecimateDriver = int (*)(const DecimateCall& call, int i0, int i1, int j0, int j1,
                               const DecimateBlockOut& out);

int DecimateUntiled(const DecimateCall& call, int i0, int i1, int j0, int j1,
                    const DecimateBlockOut& out)
{
    call.kernel(call.plan, UntiledView(call), i0, i1, j0, j1, out);
    return 1;
}

// A tiled source is read in blocks of at most 64 x 64 destination pixels,
// each from the source rectangle that its samples need.
int DecimateTiledSource(const DecimateCall& call, int i0, int i1, int j0, int j1,
                        const DecimateBlockOut& out)
{
    constexpr int kBlock = 64;
    const bool oneBit = call.src->depth == IPL_DEPTH_1U;
    for (int ia = i0; ia < i1; ia += kBlock) {
        const int ib = std::min(i1, ia + kBlock);
        for (int ja = j0; ja < j1; ja += kBlock) {
            const int jb = std::min(j1, ja + kBlock);
            int rlo, rhi, clo, chi;
            DecimateAxisSpan(call.plan, call.plan.y, Interpolated(call.plan.method, false), ia, ib,
                             &rlo, &rhi);
            DecimateAxisSpan(call.plan, call.plan.x, Interpolated(call.plan.method, true), ja, jb,
                             &clo, &chi);
            if (rhi < rlo || chi < clo)
                continue;
            AcquiredRect rect;
            DecimateView view;
            if (!AcquireSourceRect(call, clo, chi, rlo, rhi, rect, view))
                return 0;
            DecimateBlockOut block = out;
            if (oneBit) {
                block.data += (ia - i0) * out.rowStep;
                block.bitOffset += ja - j0;
            } else {
                block.data += (ia - i0) * out.rowStep + std::ptrdiff_t(ja - j0) * out.pixelStep;
            }
            bool ok = call.kernel(call.plan, view, ia, ib, ja, jb, block);
            ReleaseSourceRect(rect);
            if (!ok)
                return 1;  // the kernel raised its own failure
        }
    }
    return 1;
}

DecimateDriver ChooseDecimateDriver(const TileInfo* sourceTiles)
{
    return sourceTiles == nullptr ? DecimateUntiled : DecimateTiledSource;
}

DecimateBlockOut DestinationBlock(const ImageHeader* dst, const DecimateGeometry& d, char* base,
                                  std::ptrdiff_t rowBytes, std::ptrdiff_t planeBytes, int x,
                                  int y)
{
    DecimateBlockOut out;
    char* row = base + rowBytes * y;
    if (dst->depth == IPL_DEPTH_1U) {
        out.data = row;
        out.rowStep = rowBytes;
        out.bitOffset = x;
        return out;
    }
    const int esize = ElementBytes(dst->depth);
    const bool plane = dst->dataOrder == IPL_DATA_ORDER_PLANE;
    out.rowStep = rowBytes;
    out.pixelStep = esize * (plane ? 1 : dst->nChannels);
    out.channelStep = plane ? planeBytes : esize;
    out.data = plane ? row + planeBytes * d.coi + std::ptrdiff_t(esize) * x
                     : row + std::ptrdiff_t(esize) * (d.coi + std::ptrdiff_t(x) * dst->nChannels);
    return out;
}

}  // namespace

int iplDecimate(ImageHeader* srcImage, ImageHeader* dstImage, int xDst, int xSrc, int yDst,
                int ySrc, int interpolate)
{
    DecimateCall call;
    call.src = srcImage;
    call.dst = dstImage;
    call.s = GeometryOf(srcImage);
    call.d = GeometryOf(dstImage);
    AdjustedMethod a = AdjustDecimateMethod(srcImage, call.s, xDst, xSrc, yDst, ySrc, interpolate);
    DecimateMethod method;
    call.kernel = ChooseDecimateKernel(srcImage->depth, a.method, a.xWhole, a.yWhole, &method);
    DecimateDriver driver = ChooseDecimateDriver(srcImage->tileInfo);

    const float xScale = float(double(xSrc) / xDst);
    const float yScale = float(double(ySrc) / yDst);
    const float xPhase = a.method == IPL_INTER_NN && !a.xWhole ? 0.5f : 0.0f;
    const float yPhase = a.method == IPL_INTER_NN && !a.yWhole ? 0.5f : 0.0f;
    call.W = int(std::min<int64_t>(call.d.w, int64_t(call.s.w) * xDst / xSrc));
    call.H = int(std::min<int64_t>(call.d.h, int64_t(call.s.h) * yDst / ySrc));
    if (call.W <= 0 || call.H <= 0 || call.s.w <= 0 || call.s.h <= 0)
        return 1;

    call.plan.method = method;
    call.plan.depth = srcImage->depth;
    call.plan.channels = std::min(call.s.channels, call.d.channels);
    call.plan.norm = 1.0f / (xScale * yScale);
    try {
        BuildDecimateAxis(method, Interpolated(method, true), xPhase, xScale, call.W, -call.s.x0,
                          srcImage->width - call.s.x0, call.plan.x);
        BuildDecimateAxis(method, Interpolated(method, false), yPhase, yScale, call.H, -call.s.y0,
                          srcImage->height - call.s.y0, call.plan.y);
    } catch (const std::bad_alloc&) {
        IPL_RAISE(kIplStsNoMem, "iplDecimate", "Can't allocate memory", kModule);
        return 0;
    }

    if (dstImage->tileInfo == nullptr) {
        DecimateBlockOut out =
            DestinationBlock(dstImage, call.d, dstImage->imageData, dstImage->widthStep,
                             std::ptrdiff_t(dstImage->widthStep) * dstImage->height, call.d.x0,
                             call.d.y0);
        if (driver(call, 0, call.H, 0, call.W, out) == 0) {
            IPL_RAISE(kIplStsInternal, "iplDecimate", "srcImage->tileInfo->callBack crash",
                      kModule);
            return 0;
        }
        return 1;
    }
    TileInfo* tiles = dstImage->tileInfo;
    const int tw = tiles->tileWidth, th = tiles->tileHeight;
    const int rowBytes = TileRowBytes(dstImage);
    const std::ptrdiff_t planeBytes = TilePlaneBytes(dstImage);
    const int x = call.d.x0, y = call.d.y0;
    for (int tr = y / th; tr <= (y + call.H - 1) / th; ++tr) {
        const int ya = std::max(y, tr * th), yb = std::min(y + call.H, (tr + 1) * th);
        for (int tc = x / tw; tc <= (x + call.W - 1) / tw; ++tc) {
            const int xa = std::max(x, tc * tw), xb = std::min(x + call.W, (tc + 1) * tw);
            tiles->callBack(dstImage, tc, tr, IPL_GET_TILE_TO_WRITE);
            if (tiles->tileData == nullptr) {
                IPL_RAISE(kIplStsInternal, "iplDecimate", "dstImage->tileInfo->callBack crash",
                          kModule);
                return 0;
            }
            DecimateBlockOut out = DestinationBlock(dstImage, call.d, tiles->tileData, rowBytes,
                                                    planeBytes, xa - tc * tw, ya - tr * th);
            int ok = driver(call, ya - y, yb - y, xa - x, xb - x, out);
            tiles->callBack(dstImage, tc, tr, IPL_RELEASE_TILE);
            if (ok == 0) {
                IPL_RAISE(kIplStsInternal, "iplDecimate", "srcImage->tileInfo->callBack crash",
                          kModule);
                return 0;
            }
        }
    }
    return 1;
}

void Decimate(ImageHeader* srcImage, ImageHeader* dstImage, int xDst, int xSrc, int yDst,
              int ySrc, int interpolate)
{
    const char* kFunction = "Decimate";
    if (CheckImageHeader(srcImage) != 0) {
        IPL_RAISE(iplGetErrStatus(), kFunction, "Incorrect Image", kModule);
        return;
    }
    if (CheckImageHeader(dstImage) != 0) {
        IPL_RAISE(iplGetErrStatus(), kFunction, "Incorrect Image", kModule);
        return;
    }
    if (srcImage == dstImage)
        IPL_RAISE(kIplStsBadArg, kFunction, "srcImage == dstImage", kModule);
    if (srcImage->depth != dstImage->depth)
        IPL_RAISE(kIplStsBadDepth, kFunction, "srcImage->depth != dstImage->depth", kModule);
    if (srcImage->depth != IPL_DEPTH_1U && srcImage->depth != IPL_DEPTH_8U &&
        srcImage->depth != IPL_DEPTH_16U && srcImage->depth != IPL_DEPTH_32F)
        IPL_RAISE(kIplStsBadDepth, kFunction, "depth != 1U, 8U, 16U or 32F", kModule);
    if (srcImage->origin != dstImage->origin)
        IPL_RAISE(kIplStsBadOrigin, kFunction, "srcImage->origin != dstImage->origin", kModule);
    if (srcImage->dataOrder != dstImage->dataOrder)
        IPL_RAISE(kIplStsBadOrder, kFunction, "srcImage->dataOrder != dstImage->dataOrder",
                  kModule);
    const int srcCoi = srcImage->roi != nullptr ? srcImage->roi->coi : 0;
    const int dstCoi = dstImage->roi != nullptr ? dstImage->roi->coi : 0;
    const int srcChannels = srcImage->nChannels - (srcImage->alphaChannelIndex != 0 ? 1 : 0);
    const int dstChannels = dstImage->nChannels - (dstImage->alphaChannelIndex != 0 ? 1 : 0);
    if (srcCoi == 0 && dstCoi != 0 && srcChannels != 1)
        IPL_RAISE(kIplStsBadCoi, kFunction, "dstImage->roi->coi > 0 && srcImage->roi->coi == 0",
                  kModule);
    if (srcCoi != 0 && dstCoi == 0 && dstChannels != 1)
        IPL_RAISE(kIplStsBadCoi, kFunction, "srcImage->roi->coi > 0 && dstImage->roi->coi == 0",
                  kModule);
    if (srcCoi == 0 && dstCoi == 0 && srcChannels != dstChannels)
        IPL_RAISE(kIplStsBadChannels, kFunction, "srcImage->nChannels != dstImage->nChannels",
                  kModule);
    if (interpolate < IPL_INTER_NN || interpolate > IPL_INTER_SUPER)
        IPL_RAISE(kIplStsBadArg, kFunction,
                  "interpolate != IPL_INTER_NN, IPL_INTER_LINEAR, IPL_INTER_CUBIC or "
                  "IPL_INTER_SUPER",
                  kModule);
    if (xDst <= 0)
        IPL_RAISE(kIplStsBadArg, kFunction, "xDst <= 0", kModule);
    if (xSrc <= 0)
        IPL_RAISE(kIplStsBadArg, kFunction, "xSrc <= 0", kModule);
    if (yDst <= 0)
        IPL_RAISE(kIplStsBadArg, kFunction, "yDst <= 0", kModule);
    if (ySrc <= 0)
        IPL_RAISE(kIplStsBadArg, kFunction, "ySrc <= 0", kModule);
    if (xDst > xSrc)
        IPL_RAISE(kIplStsBadArg, kFunction, "xDst > xSrc", kModule);
    if (yDst > ySrc)
        IPL_RAISE(kIplStsBadArg, kFunction, "yDst > ySrc", kModule);
    if (iplGetErrStatus() >= 0)
        iplDecimate(srcImage, dstImage, xDst, xSrc, yDst, ySrc, interpolate);
}
