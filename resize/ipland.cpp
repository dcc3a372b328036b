// Bitwise AND of two images into a third, honouring regions, channels of
// interest, alpha channels, masks and tiles; the zoom uses it to combine a
// resized source mask with the destination mask.
#include <algorithm>
#include <cstring>
#include <vector>

#include "resize/iplcore.h"

namespace {

const char kFunction[] = "iplAnd";
const char kModule[] = "ipland";

int ProcessedChannels(const ImageHeader* image)
{
    if (image->roi != nullptr && image->roi->coi != 0)
        return 1;
    return image->nChannels - (image->alphaChannelIndex != 0 ? 1 : 0);
}

struct RoiData {
    char* data;    // first value of the first processed channel (byte holding it for 1U)
    int width, height;
    int bitOffset;
    int firstChannel;
};

// Data address, clipped size and bit offset of an image's region for a channel.
RoiData GetRoiDataPointer(const ImageHeader* image, int channel)
{
    RoiData r;
    const int bits = DepthBits(image->depth);
    const ImageRoi* roi = image->roi;
    r.firstChannel = channel;
    if (roi == nullptr) {
        r.width = image->width;
        r.height = image->height;
        r.bitOffset = 0;
        r.data = image->imageData == nullptr
                     ? nullptr
                     : image->imageData +
                           (image->dataOrder == IPL_DATA_ORDER_PLANE
                                ? std::ptrdiff_t(image->widthStep) * image->height * channel
                                : std::ptrdiff_t(channel) * bits / 8);
        return r;
    }
    r.width = std::max(0, std::min(roi->width, image->width - roi->xOffset));
    r.height = std::max(0, std::min(roi->height, image->height - roi->yOffset));
    r.bitOffset = roi->xOffset % 8;
    if (image->imageData == nullptr) {
        r.data = nullptr;
    } else if (image->dataOrder == IPL_DATA_ORDER_PIXEL) {
        r.data = image->imageData +
                 (int64_t(channel) + int64_t(roi->xOffset) * image->nChannels) * bits / 8 +
                 std::ptrdiff_t(image->widthStep) * roi->yOffset;
    } else {
        r.data = image->imageData + int64_t(roi->xOffset) * bits / 8 +
                 std::ptrdiff_t(image->widthStep) * (roi->yOffset + int64_t(channel) * image->height);
    }
    return r;
}

inline bool GetBit(const unsigned char* row, int bit) { return (row[bit >> 3] >> (7 - (bit & 7))) & 1; }
inline void SetBit(unsigned char* row, int bit, bool v)
{
    const unsigned char m = static_cast<unsigned char>(0x80u >> (bit & 7));
    row[bit >> 3] = v ? static_cast<unsigned char>(row[bit >> 3] | m)
                      : static_cast<unsigned char>(row[bit >> 3] & ~m);
}

// The AND of the three masks' common region, or the one mask, or none.
// state: 0 none made, 1 made (free with iplDeallocate(.., 3)), 2 no memory, 3 empty.
ImageHeader* CombineOperandMasks(ImageHeader* a, ImageHeader* b, ImageHeader* d, int* state)
{
    ImageHeader* masks[3];
    int count = 0;
    for (ImageHeader* m : {a, b, d})
        if (m != nullptr)
            masks[count++] = m;
    *state = 0;
    if (count == 0)
        return nullptr;
    if (count == 1)
        return masks[0];
    int width = INT32_MAX, height = INT32_MAX;
    for (int k = 0; k < count; ++k) {
        RoiData r = GetRoiDataPointer(masks[k], 0);
        width = std::min(width, r.width);
        height = std::min(height, r.height);
    }
    if (width <= 0 || height <= 0) {
        *state = 3;
        return nullptr;
    }
    ImageHeader* combined = nullptr;
    const int64_t rowBytes = AlignedRowBytes(width, 1, 8);
    auto* header = static_cast<ImageHeader*>(AlignedMalloc(sizeof(ImageHeader)));
    char* raw = rowBytes > 0 ? static_cast<char*>(std::malloc(std::size_t(rowBytes * height) + 8))
                             : nullptr;
    if (header == nullptr || raw == nullptr) {
        AlignedFree(header);
        std::free(raw);
        *state = 2;
        return nullptr;
    }
    std::memset(header, 0, sizeof(ImageHeader));
    combined = header;
    combined->headerSize = 112;
    combined->nChannels = 1;
    combined->depth = IPL_DEPTH_1U;
    std::memcpy(combined->colorModelName, "GRAY", 4);
    std::memcpy(combined->channelOrderName, "G\0\0\0", 4);
    combined->dataOrder = IPL_DATA_ORDER_PLANE;
    combined->origin = masks[0]->origin;
    combined->rowAlignment = 8;
    combined->width = width;
    combined->height = height;
    combined->widthStep = int(rowBytes);
    combined->imageByteSize = int(rowBytes * height);
    combined->rawDataPointer = raw;
    combined->imageData = reinterpret_cast<char*>((uintptr_t(raw) + 7) & ~uintptr_t(7));
    std::memset(combined->imageData, 0, std::size_t(combined->imageByteSize));
    RoiData regions[3];
    for (int k = 0; k < count; ++k)
        regions[k] = GetRoiDataPointer(masks[k], 0);
    for (int y = 0; y < height; ++y) {
        auto* out = reinterpret_cast<unsigned char*>(combined->imageData) + rowBytes * y;
        for (int x = 0; x < width; ++x) {
            bool v = true;
            for (int k = 0; k < count && v; ++k)
                v = GetBit(reinterpret_cast<const unsigned char*>(regions[k].data) +
                               std::ptrdiff_t(masks[k]->widthStep) * y,
                           regions[k].bitOffset + x);
            SetBit(out, x, v);
        }
    }
    *state = 1;
    return combined;
}

void AndBytes(const unsigned char* a, const unsigned char* b, unsigned char* d, std::ptrdiff_t n)
{
    for (std::ptrdiff_t i = 0; i < n; ++i)
        d[i] = static_cast<unsigned char>(a[i] & b[i]);
}

// Whether the three images may be ANDed as one run of bytes.
bool CheckAndOperands(const ImageHeader* a, const ImageHeader* b, const ImageHeader* c, int flag)
{
    if (flag != 0)
        return false;
    for (const ImageHeader* x : {b, c}) {
        if (x->imageByteSize != a->imageByteSize || x->width != a->width ||
            x->height != a->height || x->rowAlignment != a->rowAlignment ||
            x->widthStep != a->widthStep || x->nChannels != a->nChannels ||
            x->dataOrder != a->dataOrder)
            return false;
    }
    for (const ImageHeader* x : {a, b, c}) {
        const ImageRoi* roi = x->roi;
        if (roi != nullptr && (roi->coi != 0 || roi->xOffset != 0 || roi->yOffset != 0 ||
                               roi->width < x->width || roi->height < x->height))
            return false;
    }
    return true;
}

// Element-wise AND of the common region of three untiled images.
void AndImages(const ImageHeader* a, const ImageHeader* b, ImageHeader* d,
               const ImageHeader* mask, int channels, bool alpha)
{
    if (mask == nullptr && CheckAndOperands(a, b, d, alpha ? 1 : 0)) {
        AndBytes(reinterpret_cast<const unsigned char*>(a->imageData),
                 reinterpret_cast<const unsigned char*>(b->imageData),
                 reinterpret_cast<unsigned char*>(d->imageData), a->imageByteSize);
        return;
    }
    auto first = [](const ImageHeader* x) {
        return x->roi != nullptr && x->roi->coi != 0 ? x->roi->coi - 1 : 0;
    };
    const int bits = DepthBits(d->depth);
    const bool plane = d->dataOrder == IPL_DATA_ORDER_PLANE && bits != 1;
    const int planes = plane ? channels : 1;
    const int perPixel = plane ? 1 : channels;
    RoiData mr{};
    if (mask != nullptr)
        mr = GetRoiDataPointer(mask, 0);
    for (int p = 0; p < planes; ++p) {
        RoiData ra = GetRoiDataPointer(a, first(a) + (plane ? p : 0));
        RoiData rb = GetRoiDataPointer(b, first(b) + (plane ? p : 0));
        RoiData rd = GetRoiDataPointer(d, first(d) + (plane ? p : 0));
        // Pixels outside the mask's region are not written: the mask reads no further.
        const int width = std::min({ra.width, rb.width, rd.width, mask != nullptr ? mr.width : INT32_MAX});
        const int height = std::min({ra.height, rb.height, rd.height, mask != nullptr ? mr.height : INT32_MAX});
        for (int y = 0; y < height; ++y) {
            const auto* rowA = reinterpret_cast<const unsigned char*>(ra.data) +
                               std::ptrdiff_t(a->widthStep) * y;
            const auto* rowB = reinterpret_cast<const unsigned char*>(rb.data) +
                               std::ptrdiff_t(b->widthStep) * y;
            auto* rowD = reinterpret_cast<unsigned char*>(rd.data) + std::ptrdiff_t(d->widthStep) * y;
            const auto* rowM = mask != nullptr ? reinterpret_cast<const unsigned char*>(mr.data) +
                                                     std::ptrdiff_t(mask->widthStep) * y
                                               : nullptr;
            for (int x = 0; x < width; ++x) {
                if (rowM != nullptr && !GetBit(rowM, mr.bitOffset + x))
                    continue;
                if (bits == 1) {
                    SetBit(rowD, rd.bitOffset + x,
                           GetBit(rowA, ra.bitOffset + x) && GetBit(rowB, rb.bitOffset + x));
                    continue;
                }
                const int bytes = bits / 8;
                const std::ptrdiff_t sa = plane ? 1 : a->nChannels;
                const std::ptrdiff_t sb = plane ? 1 : b->nChannels;
                const std::ptrdiff_t sd = plane ? 1 : d->nChannels;
                for (int c = 0; c < perPixel; ++c)
                    for (int k = 0; k < bytes; ++k)
                        rowD[(x * sd + c) * bytes + k] = static_cast<unsigned char>(
                            rowA[(x * sa + c) * bytes + k] & rowB[(x * sb + c) * bytes + k]);
            }
        }
    }
}

// A local copy of an image that describes one tile's block as untiled data.
struct TileBlock {
    ImageHeader header;
    ImageRoi roi;
};

}  // namespace

void iplAnd(ImageHeader* srcImageA, ImageHeader* srcImageB, ImageHeader* dstImage)
{
    if (CheckImageHeader(srcImageA) != 0 || CheckImageHeader(srcImageB) != 0 ||
        CheckImageHeader(dstImage) != 0) {
        IPL_RAISE(iplGetErrStatus(), kFunction, "Incorrect Image", kModule);
        return;
    }
    if (srcImageA->depth != dstImage->depth) {
        IPL_RAISE(kIplStsBadArg, kFunction, "(srcImageA->depth != dstImage->depth)", kModule);
        return;
    }
    if (srcImageB->depth != dstImage->depth) {
        IPL_RAISE(kIplStsBadArg, kFunction, "(srcImageB->depth != dstImage->depth)", kModule);
        return;
    }
    if (dstImage->depth != IPL_DEPTH_1U) {
        if (srcImageA->dataOrder != dstImage->dataOrder) {
            IPL_RAISE(kIplStsBadArg, kFunction, "(srcImageA->dataOrder != dstImage->dataOrder)",
                      kModule);
            return;
        }
        if (srcImageB->dataOrder != dstImage->dataOrder) {
            IPL_RAISE(kIplStsBadArg, kFunction, "(srcImageB->dataOrder != dstImage->dataOrder)",
                      kModule);
            return;
        }
    }
    const int nDst = ProcessedChannels(dstImage);
    if (ProcessedChannels(srcImageA) != nDst) {
        IPL_RAISE(kIplStsBadArg, kFunction, "(nChSrcA != nChDst)", kModule);
        return;
    }
    if (ProcessedChannels(srcImageB) != nDst) {
        IPL_RAISE(kIplStsBadArg, kFunction, "(nChSrcB != nChDst)", kModule);
        return;
    }
    const bool alpha = srcImageA->alphaChannelIndex != 0 || srcImageB->alphaChannelIndex != 0 ||
                       dstImage->alphaChannelIndex != 0;
    int state = 0;
    ImageHeader* mask = CombineOperandMasks(srcImageA->maskImage, srcImageB->maskImage,
                                            dstImage->maskImage, &state);
    if (state == 3)
        return;
    if (state == 2) {
        IPL_RAISE(kIplStsNoMem, kFunction, "Out of memory", kModule);
        return;
    }
    struct Guard {
        ImageHeader* m;
        int state;
        ~Guard()
        {
            if (state == 1)
                iplDeallocate(m, IPL_IMAGE_HEADER | IPL_IMAGE_DATA);
        }
    } guard{mask, state};
    if (dstImage->depth == IPL_DEPTH_32F) {
        IPL_RAISE(kIplStsBadArg, kFunction, "This function does not support depth 32F", kModule);
        return;
    }
    ImageHeader* ops[3] = {srcImageA, srcImageB, dstImage};
    if (!srcImageA->tileInfo && !srcImageB->tileInfo && !dstImage->tileInfo) {
        AndImages(srcImageA, srcImageB, dstImage, mask, nDst, alpha);
        return;
    }

    // Tiled operands: blocks of the common region that cross no tile boundary
    // of any operand, each ANDed on local untiled copies of the headers.
    int width = INT32_MAX, height = INT32_MAX;
    int ox[3], oy[3];
    for (int k = 0; k < 3; ++k) {
        const ImageRoi* roi = ops[k]->roi;
        ox[k] = roi != nullptr ? roi->xOffset : 0;
        oy[k] = roi != nullptr ? roi->yOffset : 0;
        width = std::min(width, ops[k]->roi ? std::max(0, std::min(roi->width, ops[k]->width - ox[k]))
                                            : ops[k]->width);
        height = std::min(height, ops[k]->roi ? std::max(0, std::min(roi->height, ops[k]->height - oy[k]))
                                              : ops[k]->height);
    }
    static const char* const kTileNull[3] = {"(srcImageA->tileInfo->tileData == 0)",
                                             "(srcImageB->tileInfo->tileData == 0)",
                                             "(dstImage->tileInfo->tileData == 0)"};
    auto nextBoundary = [&](int pos, bool xAxis) {
        int next = xAxis ? width : height;
        for (int k = 0; k < 3; ++k) {
            const TileInfo* t = ops[k]->tileInfo;
            if (t == nullptr)
                continue;
            const int size = xAxis ? t->tileWidth : t->tileHeight;
            const int abs = pos + (xAxis ? ox[k] : oy[k]);
            next = std::min(next, (abs / size + 1) * size - (xAxis ? ox[k] : oy[k]));
        }
        return next;
    };
    for (int y = 0; y < height;) {
        const int yEnd = nextBoundary(y, false);
        for (int x = 0; x < width;) {
            const int xEnd = nextBoundary(x, true);
            TileBlock blocks[3];
            ImageHeader* local[3];
            int tc[3] = {}, tr[3] = {};
            char* tileData[3] = {};
            bool acquired[3] = {};
            bool ok = true;
            for (int k = 0; k < 3 && ok; ++k) {
                ImageHeader* img = ops[k];
                blocks[k].header = *img;
                blocks[k].header.maskImage = nullptr;
                local[k] = &blocks[k].header;
                blocks[k].roi = ImageRoi{img->roi != nullptr ? img->roi->coi : 0, ox[k] + x,
                                         oy[k] + y, xEnd - x, yEnd - y};
                blocks[k].header.roi = &blocks[k].roi;
                if (img->tileInfo == nullptr)
                    continue;
                TileInfo* t = img->tileInfo;
                tc[k] = (ox[k] + x) / t->tileWidth;
                tr[k] = (oy[k] + y) / t->tileHeight;
                blocks[k].roi.xOffset -= tc[k] * t->tileWidth;
                blocks[k].roi.yOffset -= tr[k] * t->tileHeight;
                blocks[k].header.tileInfo = nullptr;
                blocks[k].header.widthStep = TileRowBytes(img);
                blocks[k].header.width = t->tileWidth;
                blocks[k].header.height = t->tileHeight;
                blocks[k].header.imageByteSize = int(
                    TilePlaneBytes(img) * (img->dataOrder == IPL_DATA_ORDER_PLANE ? img->nChannels : 1));
                // A source that is the destination's header reads the destination's tile.
                if (k < 2 && img == dstImage)
                    continue;
                t->callBack(img, tc[k], tr[k], k == 2 ? IPL_GET_TILE_TO_WRITE : IPL_GET_TILE_TO_READ);
                acquired[k] = true;
                tileData[k] = t->tileData;
                if (tileData[k] == nullptr) {
                    IPL_RAISE(kIplStsBadArg, kFunction, kTileNull[k], kModule);
                    ok = false;
                }
            }
            if (ok) {
                for (int k = 0; k < 3; ++k) {
                    if (ops[k]->tileInfo == nullptr)
                        continue;
                    blocks[k].header.imageData = (k < 2 && ops[k] == dstImage) ? tileData[2] : tileData[k];
                }
                ImageHeader maskBlock;
                ImageRoi maskRoi;
                const ImageHeader* blockMask = nullptr;
                if (mask != nullptr) {
                    maskBlock = *mask;
                    maskRoi = ImageRoi{0, (mask->roi ? mask->roi->xOffset : 0) + x,
                                       (mask->roi ? mask->roi->yOffset : 0) + y, xEnd - x, yEnd - y};
                    maskBlock.roi = &maskRoi;
                    blockMask = &maskBlock;
                }
                AndImages(local[0], local[1], local[2], blockMask, nDst, true);
            }
            for (int k = 2; k >= 0; --k) {
                if (!acquired[k])
                    continue;
                ops[k]->tileInfo->tileData = tileData[k];
                ops[k]->tileInfo->callBack(ops[k], tc[k], tr[k], IPL_RELEASE_TILE);
            }
            if (!ok)
                return;
            x = xEnd;
        }
        y = yEnd;
    }
}
