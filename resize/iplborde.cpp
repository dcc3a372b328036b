// Tile services and border filling: the size of a tile row, acquiring and
// releasing rows of tiles, and the assembly of a source rectangle, which may
// reach outside the image, into one buffer whose outside pixels follow the
// image's border modes.
#include <algorithm>
#include <cstring>
#include <vector>

#include "resize/iplcore.h"

namespace {

// Image position of an outside position p (size = image extent) by a border
// mode; -1 for a constant border.
int MapBorder(int p, int size, int mode)
{
    if (p >= 0 && p < size)
        return p;
    switch (mode & 3) {
    case IPL_BORDER_REPLICATE: return p < 0 ? 0 : size - 1;
    case IPL_BORDER_REFLECT: {
        // Mirror about the edge with the edge pixel repeated, alternating
        // direction in each further period.
        int d = p < 0 ? -p - 1 : p - size;
        int k = d / size, r = d % size;
        int fromEdge = (k % 2 == 0) ? r : size - 1 - r;
        return p < 0 ? fromEdge : size - 1 - fromEdge;
    }
    case IPL_BORDER_WRAP: return ((p % size) + size) % size;
    default: return -1;
    }
}

struct ImageLayout {
    int bits;        // bits per value
    int valuesPerPixel;  // values of one pixel within a row (1 in plane order)
    int planes;
};

ImageLayout LayoutOf(const ImageHeader* image)
{
    ImageLayout l;
    l.bits = DepthBits(image->depth);
    const bool plane = image->dataOrder == IPL_DATA_ORDER_PLANE;
    l.valuesPerPixel = plane ? 1 : image->nChannels;
    l.planes = plane ? image->nChannels : 1;
    return l;
}

void CopyPixel(const ImageLayout& l, const char* srcRow, int srcCol, char* dstRow, int dstCol)
{
    if (l.bits == 1) {
        if ((static_cast<unsigned char>(srcRow[srcCol >> 3]) >> (7 - (srcCol & 7))) & 1)
            dstRow[dstCol >> 3] = char(dstRow[dstCol >> 3] | (0x80 >> (dstCol & 7)));
        else
            dstRow[dstCol >> 3] = char(dstRow[dstCol >> 3] & ~(0x80 >> (dstCol & 7)));
        return;
    }
    const std::size_t bytes = std::size_t(l.bits / 8) * l.valuesPerPixel;
    std::memcpy(dstRow + bytes * dstCol, srcRow + bytes * srcCol, bytes);
}

void FillConstant(const ImageHeader* image, const ImageLayout& l, char* dstRow, int dstCol,
                  int constant)
{
    if (l.bits == 1) {
        if (constant & 1)
            dstRow[dstCol >> 3] = char(dstRow[dstCol >> 3] | (0x80 >> (dstCol & 7)));
        else
            dstRow[dstCol >> 3] = char(dstRow[dstCol >> 3] & ~(0x80 >> (dstCol & 7)));
        return;
    }
    char value[4];
    switch (image->depth) {
    case IPL_DEPTH_8U:
    case IPL_DEPTH_8S: value[0] = char(constant); break;
    case IPL_DEPTH_16U:
    case IPL_DEPTH_16S: {
        uint16_t v = uint16_t(constant);
        std::memcpy(value, &v, 2);
        break;
    }
    case IPL_DEPTH_32F: {
        float v = float(constant);
        std::memcpy(value, &v, 4);
        break;
    }
    default: std::memcpy(value, &constant, 4); break;
    }
    const int bytes = l.bits / 8;
    char* p = dstRow + std::ptrdiff_t(bytes) * l.valuesPerPixel * dstCol;
    for (int v = 0; v < l.valuesPerPixel; ++v)
        std::memcpy(p + v * bytes, value, std::size_t(bytes));
}

}  // namespace

int TileRowBytes(const ImageHeader* image)
{
    if (image == nullptr || image->tileInfo == nullptr || !IsRowAlignment(image->rowAlignment) ||
        !IsKnownDepth(image->depth) || image->nChannels <= 0)
        return 0;
    const int64_t values = image->dataOrder == IPL_DATA_ORDER_PLANE
                               ? image->tileInfo->tileWidth
                               : int64_t(image->nChannels) * image->tileInfo->tileWidth;
    const int64_t bytes = AlignedRowBytes(values, DepthBits(image->depth), image->rowAlignment);
    return bytes < 0 ? 0 : int(bytes);
}

int AcquireTileRow(const ImageHeader* image, char** tiles, int count, int firstColumn,
                   int tileRow, int columnStep)
{
    int failed = 0;
    for (int k = 0; k < count; ++k) {
        image->tileInfo->callBack(image, firstColumn + k * columnStep, tileRow,
                                  IPL_GET_TILE_TO_READ);
        tiles[k] = image->tileInfo->tileData;
        if (tiles[k] == nullptr)
            failed = 1;
    }
    return failed;
}

void ReleaseTileRow(const ImageHeader* image, char** tiles, int count, int firstColumn,
                    int tileRow, int columnStep)
{
    for (int k = count - 1; k >= 0; --k) {
        image->tileInfo->tileData = tiles[k];
        image->tileInfo->callBack(image, firstColumn + k * columnStep, tileRow,
                                  IPL_RELEASE_TILE);
    }
}

char* GetSourceRectWithBorder(const ImageHeader* image, int x, int y, int width, int height,
                              int* rowBytes)
{
    const int depth = image->depth;
    if (!IsKnownDepth(depth) ||
        (image->dataOrder != IPL_DATA_ORDER_PIXEL && image->dataOrder != IPL_DATA_ORDER_PLANE) ||
        !IsRowAlignment(image->rowAlignment) || width <= 0 || height <= 0)
        return nullptr;
    const ImageLayout l = LayoutOf(image);
    const int64_t rb = AlignedRowBytes(int64_t(width) * l.valuesPerPixel, l.bits,
                                       image->rowAlignment);
    // A rectangle is held to the size limit of an image's data.
    int64_t total = 0;
    if (rb < 0 || !ProductFitsInt(rb, height, l.planes, &total))
        return nullptr;
    const std::ptrdiff_t planeBlock = std::ptrdiff_t(rb) * height;
    char* buffer = static_cast<char*>(AlignedMalloc(planeBlock * l.planes + 16));
    if (buffer == nullptr)
        return nullptr;
    if (l.bits == 1)
        std::memset(buffer, 0, std::size_t(planeBlock * l.planes + 16));
    *rowBytes = int(rb);

    // Image row and column of every buffer position, by band: rows before the
    // image use the top side's mode for rows and columns, rows after it the
    // bottom side's; rows inside use the left and right sides' modes.
    const int W = image->width, H = image->height;
    enum Band { kTop, kMiddle, kBottom };
    std::vector<int> rowMap(static_cast<std::size_t>(height)), colMap[3];
    std::vector<Band> band(static_cast<std::size_t>(height));
    for (int r = 0; r < height; ++r) {
        const int p = y + r;
        band[r] = p < 0 ? kTop : p >= H ? kBottom : kMiddle;
        const int side = p < 0 ? IPL_SIDE_TOP_INDEX : IPL_SIDE_BOTTOM_INDEX;
        rowMap[r] = band[r] == kMiddle ? p : MapBorder(p, H, image->borderModes[side]);
    }
    for (int b = 0; b < 3; ++b) {
        colMap[b].resize(std::size_t(width));
        for (int c = 0; c < width; ++c) {
            const int p = x + c;
            int mode;
            if (b == kTop)
                mode = image->borderModes[IPL_SIDE_TOP_INDEX];
            else if (b == kBottom)
                mode = image->borderModes[IPL_SIDE_BOTTOM_INDEX];
            else
                mode = image->borderModes[p < 0 ? IPL_SIDE_LEFT_INDEX : IPL_SIDE_RIGHT_INDEX];
            colMap[b][c] = MapBorder(p, W, mode);
        }
    }
    auto constantOf = [&](int r, int c) {
        if (band[r] == kTop)
            return image->borderConstants[IPL_SIDE_TOP_INDEX];
        if (band[r] == kBottom)
            return image->borderConstants[IPL_SIDE_BOTTOM_INDEX];
        return image->borderConstants[x + c < 0 ? IPL_SIDE_LEFT_INDEX : IPL_SIDE_RIGHT_INDEX];
    };
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c)
            if (rowMap[r] < 0 || colMap[band[r]][c] < 0)
                for (int pl = 0; pl < l.planes; ++pl)
                    FillConstant(image, l, buffer + pl * planeBlock + r * rb, c,
                                 constantOf(r, c));

    if (image->tileInfo == nullptr) {
        const std::ptrdiff_t imagePlane = std::ptrdiff_t(image->widthStep) * H;
        for (int r = 0; r < height; ++r) {
            if (rowMap[r] < 0)
                continue;
            const std::vector<int>& cols = colMap[band[r]];
            for (int pl = 0; pl < l.planes; ++pl) {
                const char* srcRow =
                    image->imageData + pl * imagePlane + std::ptrdiff_t(image->widthStep) * rowMap[r];
                char* dstRow = buffer + pl * planeBlock + r * rb;
                for (int c = 0; c < width; ++c)
                    if (cols[c] >= 0)
                        CopyPixel(l, srcRow, cols[c], dstRow, c);
            }
        }
        return buffer;
    }

    // Tiled: per tile row and band, the tile columns that the band's columns
    // reach are acquired together, copied from and released.
    const TileInfo* tiles = image->tileInfo;
    const int tw = tiles->tileWidth, th = tiles->tileHeight;
    const int tileRowBytes = TileRowBytes(image);
    const std::ptrdiff_t tilePlane = TilePlaneBytes(image);
    const int tileRows = (H + th - 1) / th;
    std::vector<char*> acquired;
    for (int tr = 0; tr < tileRows; ++tr) {
        for (int b = 0; b < 3; ++b) {
            bool rowsHere = false;
            for (int r = 0; r < height && !rowsHere; ++r)
                rowsHere = band[r] == b && rowMap[r] >= 0 && rowMap[r] / th == tr;
            if (!rowsHere)
                continue;
            int lo = -1, hi = -1;
            for (int c = 0; c < width; ++c) {
                const int m = colMap[b][c];
                if (m < 0)
                    continue;
                lo = lo < 0 ? m / tw : std::min(lo, m / tw);
                hi = std::max(hi, m / tw);
            }
            if (lo < 0)
                continue;
            const int count = hi - lo + 1;
            acquired.assign(std::size_t(count), nullptr);
            const int failed = AcquireTileRow(image, acquired.data(), count, lo, tr, 1);
            if (!failed) {
                for (int r = 0; r < height; ++r) {
                    if (band[r] != b || rowMap[r] < 0 || rowMap[r] / th != tr)
                        continue;
                    const int rowInTile = rowMap[r] - tr * th;
                    for (int c = 0; c < width; ++c) {
                        const int m = colMap[b][c];
                        if (m < 0)
                            continue;
                        const char* tile = acquired[std::size_t(m / tw - lo)];
                        for (int pl = 0; pl < l.planes; ++pl)
                            CopyPixel(l, tile + pl * tilePlane + std::ptrdiff_t(tileRowBytes) * rowInTile,
                                      m - (m / tw) * tw, buffer + pl * planeBlock + r * rb, c);
                    }
                }
            }
            ReleaseTileRow(image, acquired.data(), count, lo, tr, 1);
            if (failed) {
                AlignedFree(buffer);
                return nullptr;
            }
        }
    }
    return buffer;
}

void FreeRectBuffer(char* buffer) { AlignedFree(buffer); }
