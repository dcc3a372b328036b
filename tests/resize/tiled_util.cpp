// A tiled view of an ordinary test image for the tile tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "tests/resize/TiledImage.h"

namespace resizetest {

TiledImage::TiledImage(TestImage& plain, int tileWidth, int tileHeight) : plain_(plain)
{
    header_ = *plain.header;
    tiles_ = TileInfo{};
    tiles_.callBack = CallBack;
    tiles_.tileId = this;
    tiles_.tileWidth = tileWidth;
    tiles_.tileHeight = tileHeight;
    header_.tileInfo = &tiles_;
    header_.imageData = nullptr;
    rowBytes_ = TileRowBytes(&header_);
}

TiledImage::~TiledImage() = default;

int TiledImage::outstanding() const
{
    int n = 0;
    for (const auto& [key, list] : held_)
        n += int(list.size());
    return n;
}

void TiledImage::CallBack(const ImageHeader* image, int col, int row, int mode)
{
    auto* self = static_cast<TiledImage*>(image->tileInfo->tileId);
    if (mode == IPL_RELEASE_TILE)
        self->Release(col, row);
    else
        self->Acquire(col, row, mode);
}

// Copies the part of tile (col, row) that lies inside the image.
void TiledImage::CopyTile(int col, int row, std::vector<char>& tile, bool toTile)
{
    const ImageHeader& h = *plain_.header;
    const int bits = DepthBits(h.depth);
    const bool plane = h.dataOrder == IPL_DATA_ORDER_PLANE;
    const int planes = plane ? h.nChannels : 1;
    const int perPixel = plane ? 1 : h.nChannels;
    const int x0 = col * tiles_.tileWidth, y0 = row * tiles_.tileHeight;
    const int w = std::min(tiles_.tileWidth, h.width - x0);
    const int hh = std::min(tiles_.tileHeight, h.height - y0);
    for (int p = 0; p < planes; ++p)
        for (int y = 0; y < hh; ++y) {
            char* img = h.imageData + std::ptrdiff_t(h.widthStep) * (y0 + y + p * h.height);
            char* t = tile.data() + std::ptrdiff_t(rowBytes_) * (y + p * tiles_.tileHeight);
            for (int x = 0; x < w; ++x) {
                if (bits == 1) {
                    const int sb = x0 + x;
                    char* from = toTile ? img : t;
                    char* to = toTile ? t : img;
                    const int fb = toTile ? sb : x, tb = toTile ? x : sb;
                    const bool bit = (static_cast<unsigned char>(from[fb >> 3]) >> (7 - (fb & 7))) & 1;
                    const char m = char(0x80 >> (tb & 7));
                    to[tb >> 3] = char(bit ? (to[tb >> 3] | m) : (to[tb >> 3] & ~m));
                    continue;
                }
                const int bytes = bits / 8 * perPixel;
                if (toTile)
                    std::memcpy(t + bytes * x, img + bytes * (x0 + x), std::size_t(bytes));
                else
                    std::memcpy(img + bytes * (x0 + x), t + bytes * x, std::size_t(bytes));
            }
        }
}

void TiledImage::Acquire(int col, int row, int mode)
{
    ++acquires_;
    const ImageHeader& h = *plain_.header;
    const int planes = h.dataOrder == IPL_DATA_ORDER_PLANE ? h.nChannels : 1;
    Held held;
    held.mode = mode;
    // Bytes outside the image are filled with a marker that must never be read
    // into a result.
    held.data.assign(std::size_t(rowBytes_) * tiles_.tileHeight * planes, char(0xA5));
    const int tilesX = (h.width + tiles_.tileWidth - 1) / tiles_.tileWidth;
    const int tilesY = (h.height + tiles_.tileHeight - 1) / tiles_.tileHeight;
    EXPECT_TRUE(col >= 0 && row >= 0 && col < tilesX && row < tilesY) << col << "," << row;
    if (col < 0 || row < 0 || col >= tilesX || row >= tilesY) {
        tiles_.tileData = nullptr;
        held_[{col, row}].push_back(std::move(held));
        return;
    }
    CopyTile(col, row, held.data, true);
    auto& list = held_[{col, row}];
    list.push_back(std::move(held));
    tiles_.tileData = list.back().data.data();
}

void TiledImage::Release(int col, int row)
{
    ++releases_;
    auto it = held_.find({col, row});
    ASSERT_TRUE(it != held_.end() && !it->second.empty()) << "release without acquire";
    Held held = std::move(it->second.back());
    it->second.pop_back();
    if (it->second.empty())
        held_.erase(it);
    if (held.mode == IPL_GET_TILE_TO_WRITE)
        CopyTile(col, row, held.data, false);
}

}  // namespace resizetest
