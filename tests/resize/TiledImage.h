// A tiled view of an ordinary test image: the tile callback copies tiles out
// of the image and back, and counts every acquire and release.
#pragma once

#include <map>
#include <utility>
#include <vector>

#include "tests/resize/ResizeTestUtil.h"

namespace resizetest {

class TiledImage {
public:
    // Wraps `plain` (which keeps the pixels) in a second header with tiles.
    TiledImage(TestImage& plain, int tileWidth, int tileHeight);
    ~TiledImage();
    TiledImage(const TiledImage&) = delete;
    TiledImage& operator=(const TiledImage&) = delete;

    ImageHeader* header() { return &header_; }
    int acquires() const { return acquires_; }
    int releases() const { return releases_; }
    int outstanding() const;

private:
    static void CallBack(const ImageHeader* image, int col, int row, int mode);
    void Acquire(int col, int row, int mode);
    void Release(int col, int row);
    void CopyTile(int col, int row, std::vector<char>& tile, bool toTile);

    TestImage& plain_;
    ImageHeader header_;
    TileInfo tiles_;
    int rowBytes_;
    int acquires_ = 0, releases_ = 0;
    struct Held {
        std::vector<char> data;
        int mode;
    };
    std::map<std::pair<int, int>, std::vector<Held>> held_;
};

}  // namespace resizetest
