// Image headers: creation with its argument checks, the header check that every
// entry point runs, pixel-data allocation, border modes, freeing, aligned blocks.
#include <climits>
#include <cstdlib>
#include <cstring>

#include "resize/iplcore.h"

namespace {

const char kModule[] = "iplalloc";

// Checks 1-10 of header creation, in their fixed order; 0 or the failing status.
int CheckHeaderArguments(int nChannels, int alphaChannelIndex, int depth,
                         const char* colorModelName, const char* channelOrderName,
                         int dataOrder, int origin, int rowAlignment, int width, int height,
                         const ImageHeader* maskImage)
{
    if (height <= 0 || width <= 0)
        return kIplStsBadSize;
    if (nChannels <= 0)
        return kIplStsBadChannels;
    if (nChannels != 1 && depth == IPL_DEPTH_1U)
        return kIplStsBad1uChannels;
    if (colorModelName == nullptr || channelOrderName == nullptr)
        return kIplStsBadModel;
    if (!IsKnownDepth(depth))
        return kIplStsBadDepth;
    if (alphaChannelIndex != 0 && alphaChannelIndex != nChannels)
        return kIplStsBadAlpha;
    if (dataOrder != IPL_DATA_ORDER_PIXEL && dataOrder != IPL_DATA_ORDER_PLANE)
        return kIplStsBadOrder;
    if (origin != IPL_ORIGIN_TL && origin != IPL_ORIGIN_BL)
        return kIplStsBadOrigin;
    if (!IsRowAlignment(rowAlignment))
        return kIplStsBadAlign;
    if (maskImage != nullptr) {
        if (maskImage->depth != IPL_DEPTH_1U)
            return kIplStsBadDepth + kIplMaskStatusShift;
        if (maskImage->tileInfo != nullptr)
            return kIplStsMaskTiled;
        int status = CheckImageHeader(maskImage);
        if (status != 0)
            return status + kIplMaskStatusShift;
    }
    return 0;
}

// Row step and byte size of a header's pixel data; false when they overflow
// the 32-bit fields, which would make every later offset wrong.
bool ComputeRowLayout(ImageHeader* image)
{
    int64_t values = image->dataOrder == IPL_DATA_ORDER_PIXEL
                         ? int64_t(image->width) * image->nChannels
                         : int64_t(image->width);
    int64_t step = AlignedRowBytes(values, DepthBits(image->depth), image->rowAlignment);
    if (step < 0)
        return false;
    int64_t size = 0;
    if (!ProductFitsInt(step, image->height,
                        image->dataOrder == IPL_DATA_ORDER_PLANE ? image->nChannels : 1, &size))
        return false;
    image->widthStep = int(step);
    image->imageByteSize = int(size);
    return true;
}

// Names shorter than four bytes end at their NUL; nothing past it is read.
void CopyName(char (&field)[4], const char* name)
{
    std::size_t k = 0;
    for (; k < 4 && name[k] != '\0'; ++k)
        field[k] = name[k];
    for (; k < 4; ++k)
        field[k] = '\0';
}

// Every later offset trusts widthStep and imageByteSize: rows shorter than the
// pixels they hold, or data shorter than its rows, are refused.
int CheckRowLayout(const ImageHeader* image)
{
    const bool plane = image->dataOrder == IPL_DATA_ORDER_PLANE;
    const int64_t values = plane ? int64_t(image->width) : int64_t(image->width) * image->nChannels;
    // A row of more than INT_MAX bytes cannot fit any widthStep.
    if (values > int64_t(INT_MAX) * 8 / DepthBits(image->depth))
        return kIplStsBadStep;
    const int64_t rowBytes = (values * DepthBits(image->depth) + 7) / 8;
    if (image->widthStep < rowBytes)
        return kIplStsBadStep;
    int64_t needed = 0;
    if (!ProductFitsInt(image->widthStep, image->height, plane ? image->nChannels : 1, &needed) ||
        image->imageByteSize < needed)
        return kIplStsBadSize;
    return 0;
}

}  // namespace

int64_t AlignedRowBytes(int64_t values, int bits, int alignment)
{
    // Any row past INT_MAX bytes is refused before its bit count can overflow.
    if (values < 0 || bits <= 0 || values > int64_t(INT_MAX) * 8 / bits)
        return -1;
    int64_t rowBits = values * bits;
    int64_t unit = 8 * int64_t(alignment);
    int64_t bytes = (rowBits + unit - 1) / unit * unit / 8;
    return bytes > INT_MAX ? -1 : bytes;
}

bool ProductFitsInt(int64_t a, int64_t b, int64_t c, int64_t* product)
{
    int64_t ab = 0, abc = 0;
    if (a < 0 || b < 0 || c < 0 || __builtin_mul_overflow(a, b, &ab) ||
        __builtin_mul_overflow(ab, c, &abc) || abc > INT_MAX)
        return false;
    *product = abc;
    return true;
}

void* AlignedMalloc(std::ptrdiff_t size)
{
    if (size <= 0)
        return nullptr;
    constexpr std::size_t kSpare = 32 + sizeof(void*);
    void* raw = std::malloc(std::size_t(size) + kSpare);
    if (raw == nullptr)
        return nullptr;
    uintptr_t block = (uintptr_t(raw) + sizeof(void*) + 31) & ~uintptr_t(31);
    std::memcpy(reinterpret_cast<void*>(block - sizeof(void*)), &raw, sizeof(void*));
    return reinterpret_cast<void*>(block);
}

void AlignedFree(void* block)
{
    if (block == nullptr)
        return;
    void* raw;
    std::memcpy(&raw, static_cast<char*>(block) - sizeof(void*), sizeof(void*));
    std::free(raw);
}

int CheckImageHeader(const ImageHeader* image)
{
    int status = 0;
    const bool tiled = image != nullptr && image->tileInfo != nullptr;
    if (image == nullptr)
        status = kIplStsNullHeader;
    else if ((image->imageData == nullptr) == (image->tileInfo == nullptr))
        status = kIplStsNoData;
    else if (!tiled && image->imageByteSize <= 0)
        status = kIplStsBadSize;
    else if (!tiled && image->widthStep <= 0)
        status = kIplStsBadStep;
    else if (image->width <= 0 || image->height <= 0)
        status = kIplStsBadSize;
    else if (image->nChannels <= 0)
        status = kIplStsBadChannels;
    else if (image->nChannels != 1 && image->depth == IPL_DEPTH_1U)
        status = kIplStsBad1uChannels;
    else if (!IsKnownDepth(image->depth))
        status = kIplStsBadDepth;
    else if (image->alphaChannelIndex != 0 && image->alphaChannelIndex != image->nChannels)
        status = kIplStsBadAlpha;
    else if (image->dataOrder != IPL_DATA_ORDER_PIXEL && image->dataOrder != IPL_DATA_ORDER_PLANE)
        status = kIplStsBadOrder;
    else if (image->origin != IPL_ORIGIN_TL && image->origin != IPL_ORIGIN_BL)
        status = kIplStsBadOrigin;
    else if (!IsRowAlignment(image->rowAlignment))
        status = kIplStsBadAlign;
    else if (!tiled && (status = CheckRowLayout(image)) != 0) {
    } else if (image->maskImage != nullptr) {
        const ImageHeader* mask = image->maskImage;
        if (mask->depth != IPL_DEPTH_1U)
            status = kIplStsBadDepth + kIplMaskStatusShift;
        else if (mask->tileInfo != nullptr)
            status = kIplStsMaskTiled;
        else if (int maskStatus = CheckImageHeader(mask); maskStatus != 0)
            status = maskStatus + kIplMaskStatusShift;
    }
    if (status == 0 && tiled) {
        const TileInfo* tile = image->tileInfo;
        if (tile->callBack == nullptr)
            status = kIplStsNullCallBack;
        else if (tile->tileWidth <= 0 || tile->tileHeight <= 0 || tile->tileWidth % 8 != 0 ||
                 tile->tileHeight % 8 != 0)
            status = kIplStsBadTileSize;
    }
    if (status == 0 && image->roi != nullptr) {
        const ImageRoi* roi = image->roi;
        if (roi->coi < 0 || roi->coi > image->nChannels)
            status = kIplStsBadCoi;
        else if (roi->width <= 0 || roi->height <= 0)
            status = kIplStsBadRoiSize;
        else if (roi->xOffset < 0 || roi->yOffset < 0)
            status = kIplStsBadOffset;
    }
    if (status != 0)
        SetErrStatus(status);
    return status;
}

void SetBorderMode(ImageHeader* image, int mode, int sides, int constant)
{
    switch (image->depth) {
    case IPL_DEPTH_1U: constant = constant < 0 ? 0 : constant > 1 ? 1 : constant; break;
    case IPL_DEPTH_8U: constant = constant < 0 ? 0 : constant > 255 ? 255 : constant; break;
    case IPL_DEPTH_8S: constant = constant < -128 ? -128 : constant > 127 ? 127 : constant; break;
    case IPL_DEPTH_16U: constant = constant < 0 ? 0 : constant > 65535 ? 65535 : constant; break;
    case IPL_DEPTH_16S:
        constant = constant < -32768 ? -32768 : constant > 32767 ? 32767 : constant;
        break;
    default: break;
    }
    for (int side = 0; side < 4; ++side) {
        if (sides & (1 << side)) {
            image->borderConstants[side] = constant;
            image->borderModes[side] = mode;
        }
    }
}

extern "C" ImageHeader* iplCreateImageHeader(int nChannels, int alphaChannelIndex, int depth,
                                             const char* colorModelName,
                                             const char* channelOrderName, int dataOrder,
                                             int origin, int rowAlignment, int width, int height,
                                             ImageRoi* roi, ImageHeader* maskImage,
                                             void* userImageId, TileInfo* tileInfo)
{
    int status = CheckHeaderArguments(nChannels, alphaChannelIndex, depth, colorModelName,
                                      channelOrderName, dataOrder, origin, rowAlignment, width,
                                      height, maskImage);
    if (status != 0) {
        IPL_RAISE(status, "iplCreateImageHeader", "Incorrect data-ins", kModule);
        return nullptr;
    }
    auto* image = static_cast<ImageHeader*>(AlignedMalloc(sizeof(ImageHeader)));
    if (image == nullptr)
        return nullptr;
    std::memset(image, 0, sizeof(ImageHeader));
    image->headerSize = 112;
    image->headerId = 0;
    image->nChannels = nChannels;
    image->alphaChannelIndex = alphaChannelIndex;
    image->depth = depth;
    CopyName(image->colorModelName, colorModelName);
    CopyName(image->channelOrderName, channelOrderName);
    image->dataOrder = dataOrder;
    image->origin = origin;
    image->rowAlignment = rowAlignment;
    image->width = width;
    image->height = height;
    image->roi = roi;
    image->maskImage = maskImage;
    image->userImageId = userImageId;
    image->tileInfo = tileInfo;
    image->imageData = nullptr;
    image->rawDataPointer = nullptr;
    if (!ComputeRowLayout(image)) {
        AlignedFree(image);
        IPL_RAISE(kIplStsBadSize, "iplCreateImageHeader", "Incorrect data-ins", kModule);
        return nullptr;
    }
    SetBorderMode(image, IPL_BORDER_CONSTANT, IPL_SIDE_ALL, 0);
    return image;
}

void iplAllocateImage(ImageHeader* image, int doFill, int fillValue)
{
    const char* kFunction = "iplAllocateImage";
    if (image == nullptr) {
        IPL_RAISE(kIplStsBadArg, kFunction, "( image == ((void *)0) )", kModule);
        return;
    }
    if (image->imageData != nullptr) {
        IPL_RAISE(kIplStsBadArg, kFunction, "( image->imageData != ((void *)0) )", kModule);
        return;
    }
    if (image->tileInfo != nullptr) {
        IPL_RAISE(kIplStsBadArg, kFunction, "( image->tileInfo != ((void *)0) )", kModule);
        return;
    }
    if (image->depth == IPL_DEPTH_32F) {
        IPL_RAISE(kIplStsBadArg, kFunction, "( image->depth == 32 )", kModule);
        return;
    }
    int status = CheckHeaderArguments(image->nChannels, image->alphaChannelIndex, image->depth,
                                      image->colorModelName, image->channelOrderName,
                                      image->dataOrder, image->origin, image->rowAlignment,
                                      image->width, image->height, image->maskImage);
    if (status == 0 && !ComputeRowLayout(image))
        status = kIplStsBadSize;
    if (status != 0) {
        IPL_RAISE(status, kFunction, "Incorrect data-ins", kModule);
        return;
    }
    char* raw = static_cast<char*>(std::malloc(std::size_t(image->rowAlignment) +
                                               std::size_t(image->imageByteSize) - 1));
    if (raw == nullptr) {
        IPL_RAISE(kIplStsNoMem, kFunction, "for allocate image data", kModule);
        return;
    }
    image->rawDataPointer = raw;
    uintptr_t align = uintptr_t(image->rowAlignment);
    image->imageData = reinterpret_cast<char*>((uintptr_t(raw) + align - 1) / align * align);
    if (doFill) {
        uint32_t word;
        switch (image->depth) {
        case IPL_DEPTH_1U: word = (fillValue & 1) ? 0xffffffffu : 0u; break;
        case IPL_DEPTH_8U:
        case IPL_DEPTH_8S: word = (uint32_t(fillValue) & 0xffu) * 0x01010101u; break;
        case IPL_DEPTH_16U:
        case IPL_DEPTH_16S: word = (uint32_t(fillValue) & 0xffffu) * 0x00010001u; break;
        default: word = uint32_t(fillValue); break;
        }
        for (int i = 0; i + 4 <= image->imageByteSize; i += 4)
            std::memcpy(image->imageData + i, &word, 4);
    }
}

extern "C" void iplDeallocate(ImageHeader* image, int flags)
{
    if (image == nullptr)
        return;
    if (flags & IPL_IMAGE_ROI) {
        AlignedFree(image->roi);
        image->roi = nullptr;
    }
    if (flags & IPL_IMAGE_MASK) {
        iplDeallocate(image->maskImage, IPL_IMAGE_ALL - IPL_IMAGE_MASK);
        image->maskImage = nullptr;
    }
    if (flags & IPL_IMAGE_TILE) {
        AlignedFree(image->tileInfo);
        image->tileInfo = nullptr;
    }
    if ((flags & IPL_IMAGE_DATA) && image->rawDataPointer != nullptr) {
        std::free(image->rawDataPointer);
        image->rawDataPointer = nullptr;
        image->imageData = nullptr;
    }
    if (flags & IPL_IMAGE_HEADER)
        AlignedFree(image);
}
