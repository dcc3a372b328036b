/* Public interface of the image-resize library zrnrslib: the image header
   records, their constants and the five exported functions. Usable from C. */
#ifndef TESSMAR_RESIZE_IPL_H
#define TESSMAR_RESIZE_IPL_H

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define IPL_API __attribute__((visibility("default")))
#else
#define IPL_API
#endif

/* Depth codes: bits per channel value; signed depths carry the top bit. */
#define IPL_DEPTH_SIGN ((int)0x80000000)
#define IPL_DEPTH_1U 1
#define IPL_DEPTH_8U 8
#define IPL_DEPTH_16U 16
#define IPL_DEPTH_32F 32
#define IPL_DEPTH_8S (IPL_DEPTH_SIGN | 8)
#define IPL_DEPTH_16S (IPL_DEPTH_SIGN | 16)
#define IPL_DEPTH_32S (IPL_DEPTH_SIGN | 32)

#define IPL_DATA_ORDER_PIXEL 0
#define IPL_DATA_ORDER_PLANE 1

#define IPL_ORIGIN_TL 0
#define IPL_ORIGIN_BL 1

#define IPL_ALIGN_4BYTES 4
#define IPL_ALIGN_8BYTES 8
#define IPL_ALIGN_16BYTES 16
#define IPL_ALIGN_32BYTES 32
#define IPL_ALIGN_DWORD IPL_ALIGN_4BYTES

/* Interpolation methods of iplResize. */
#define IPL_INTER_NN 0
#define IPL_INTER_LINEAR 1
#define IPL_INTER_CUBIC 2
#define IPL_INTER_SUPER 3

/* Flag bits of iplDeallocate. */
#define IPL_IMAGE_HEADER 1
#define IPL_IMAGE_DATA 2
#define IPL_IMAGE_ROI 4
#define IPL_IMAGE_TILE 8
#define IPL_IMAGE_MASK 16
#define IPL_IMAGE_ALL 31

/* Border modes and the side bits that select where a mode applies. */
#define IPL_BORDER_CONSTANT 0
#define IPL_BORDER_REPLICATE 1
#define IPL_BORDER_REFLECT 2
#define IPL_BORDER_WRAP 3

#define IPL_SIDE_TOP_INDEX 0
#define IPL_SIDE_BOTTOM_INDEX 1
#define IPL_SIDE_LEFT_INDEX 2
#define IPL_SIDE_RIGHT_INDEX 3
#define IPL_SIDE_TOP 1
#define IPL_SIDE_BOTTOM 2
#define IPL_SIDE_LEFT 4
#define IPL_SIDE_RIGHT 8
#define IPL_SIDE_ALL 15

/* Modes of the tile callback. */
#define IPL_GET_TILE_TO_READ 1
#define IPL_GET_TILE_TO_WRITE 2
#define IPL_RELEASE_TILE 4

typedef struct ImageRoi {
    int coi; /* 0: all channels; 1..nChannels: that channel alone */
    int xOffset;
    int yOffset;
    int width;
    int height;
} ImageRoi;

struct ImageHeader;

/* Makes tile (xIndex, yIndex) current by setting tileInfo->tileData (modes 1
   and 2) or releases it (mode 4). */
typedef void (*IplTileCallBack)(const struct ImageHeader* image, int xIndex, int yIndex, int mode);

typedef struct TileInfo {
    IplTileCallBack callBack;
    void* tileId;
    char* tileData;
    int tileWidth;  /* a positive multiple of 8 */
    int tileHeight; /* a positive multiple of 8 */
} TileInfo;

typedef struct ImageHeader {
    int headerSize;
    int headerId;
    int nChannels;
    int alphaChannelIndex;
    int depth;
    char colorModelName[4];
    char channelOrderName[4];
    int dataOrder;
    int origin;
    int rowAlignment;
    int width;
    int height;
    ImageRoi* roi;
    struct ImageHeader* maskImage;
    void* userImageId;
    TileInfo* tileInfo;
    int imageByteSize;
    char* imageData;
    int widthStep;
    int borderModes[4];
    int borderConstants[4];
    char* rawDataPointer;
} ImageHeader;

typedef struct IplLibVersion {
    int majorVersion;
    int minorVersion;
    int buildNumber;
    const char* libraryName;
    const char* versionText;
    const char* internalVersionText;
    const char* buildDateText;
    const char* callingConventionText;
    const void* reserved1;
    const void* reserved2;
} IplLibVersion;

IPL_API ImageHeader* iplCreateImageHeader(int nChannels, int alphaChannelIndex, int depth,
                                          const char* colorModelName,
                                          const char* channelOrderName, int dataOrder,
                                          int origin, int rowAlignment, int width, int height,
                                          ImageRoi* roi, ImageHeader* maskImage,
                                          void* userImageId, TileInfo* tileInfo);
IPL_API void iplDeallocate(ImageHeader* image, int flags);
IPL_API int iplGetErrStatus(void);
IPL_API const IplLibVersion* iplGetLibVersion(void);
IPL_API void iplResize(ImageHeader* srcImage, ImageHeader* dstImage, int xDst, int xSrc,
                       int yDst, int ySrc, int interpolate);

#ifdef __cplusplus
}
#endif

#endif
