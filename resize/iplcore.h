// Internal services shared by the modules of the resize library: status codes,
// the per-thread status context and its error raiser, aligned blocks and the
// image-header checks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "resize/ipl.h"

enum IplStatus : int {
    kIplStsOk = 0,
    kIplStsBackTrace = -1,
    kIplStsError = -2,
    kIplStsInternal = -3,
    kIplStsNoMem = -4,
    kIplStsBadArg = -5,
    kIplStsAutoTrace = -8,
    kIplStsNullHeader = -9,
    kIplStsBadSize = -10,
    kIplStsBadOffset = -11,
    kIplStsNoData = -12,
    kIplStsBadStep = -13,
    kIplStsBadModel = -14,
    kIplStsBadChannels = -15,
    kIplStsBad1uChannels = -16,
    kIplStsBadDepth = -17,
    kIplStsBadAlpha = -18,
    kIplStsBadOrder = -19,
    kIplStsBadOrigin = -20,
    kIplStsBadAlign = -21,
    kIplStsNullCallBack = -22,
    kIplStsBadTileSize = -23,
    kIplStsBadCoi = -24,
    kIplStsBadRoiSize = -25,
    kIplStsMaskTiled = -26,
    kIplMaskStatusShift = -100,
};

using IplErrorReport = int (*)(int status, const char* function, const char* context,
                               const char* file, int line);

struct IplErrorContext {
    int status;
    int errorMode;
    IplErrorReport report;
    int reserved[6];
};

// The calling thread's context, created on first use.
IplErrorContext* GetIplContext();
void SetErrStatus(int status);
int GetErrMode();
int RaiseIplError(int status, const char* function, const char* context, const char* file,
                  int line);
int DefaultErrorReport(int status, const char* function, const char* context, const char* file,
                       int line);
const char* ErrorStatusText(int status);

#define IPL_RAISE(status, function, context, module) \
    RaiseIplError((status), (function), (context), (module), __LINE__)

// 32-byte aligned blocks from malloc; null for sizes <= 0 or when memory is out.
void* AlignedMalloc(std::ptrdiff_t size);
void AlignedFree(void* block);

// 0 for a usable header, else a negative status, which is also stored.
int CheckImageHeader(const ImageHeader* image);
void iplAllocateImage(ImageHeader* image, int doFill, int fillValue);
void SetBorderMode(ImageHeader* image, int mode, int sides, int constant);

inline int DepthBits(int depth) { return depth & 0x7fffffff; }
inline bool IsKnownDepth(int depth)
{
    return depth == IPL_DEPTH_1U || depth == IPL_DEPTH_8U || depth == IPL_DEPTH_16U ||
           depth == IPL_DEPTH_32F || depth == IPL_DEPTH_8S || depth == IPL_DEPTH_16S ||
           depth == IPL_DEPTH_32S;
}
inline bool IsRowAlignment(int a) { return a == 4 || a == 8 || a == 16 || a == 32; }

// Bytes of a row of `values` values of `bits` bits, rounded up to `alignment` bytes;
// -1 when it does not fit a signed 32-bit word.
int64_t AlignedRowBytes(int64_t values, int bits, int alignment);
// a x b x c into *product when none is negative and the result fits a signed
// 32-bit word; false otherwise (nothing overflows on the way).
bool ProductFitsInt(int64_t a, int64_t b, int64_t c, int64_t* product);

// Entry points of the resampling paths (each raises its own failures).
int iplZoom(ImageHeader* srcImage, ImageHeader* dstImage, int xDst, int xSrc, int yDst, int ySrc,
            int interpolate);
void Decimate(ImageHeader* srcImage, ImageHeader* dstImage, int xDst, int xSrc, int yDst,
              int ySrc, int interpolate);
int iplDecimate(ImageHeader* srcImage, ImageHeader* dstImage, int xDst, int xSrc, int yDst,
                int ySrc, int interpolate);
void iplAnd(ImageHeader* srcImageA, ImageHeader* srcImageB, ImageHeader* dstImage);

// Tiles and borders.
int TileRowBytes(const ImageHeader* image);
// The rectangle (x, y, width, height) of the image, which may reach outside it,
// in one buffer of rowBytes-byte rows (one block per plane); outside pixels
// follow the image's border modes. Null on failure.
char* GetSourceRectWithBorder(const ImageHeader* image, int x, int y, int width, int height,
                              int* rowBytes);
void FreeRectBuffer(char* buffer);
// Data of tile (column, row) as the image lays it out: one plane of
// TileRowBytes x tileHeight per channel in plane order.
inline std::ptrdiff_t TilePlaneBytes(const ImageHeader* image)
{
    return std::ptrdiff_t(TileRowBytes(image)) * image->tileInfo->tileHeight;
}
inline int ElementBytes(int depth)
{
    int bits = DepthBits(depth);
    return bits >= 8 ? bits / 8 : 0;
}
