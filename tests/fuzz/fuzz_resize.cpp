// The resize library's exports and its mask combination with caller values: headers of any
// size, depth, order and region, hand-edited fields, odd row steps, alpha channels, masks,
// tiles (some not to be had), border modes, any ratios and interpolation. Errors come back as
// statuses (error mode 1) so that the run goes on; anything else the library does is a finding.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "resize/ipl.h"
#include "resize/iplcore.h"

namespace {

constexpr int64_t kLargestImage = 16 << 20;
constexpr int kDepths[] = {IPL_DEPTH_1U,  IPL_DEPTH_8U,  IPL_DEPTH_8S, IPL_DEPTH_16U,
                           IPL_DEPTH_16S, IPL_DEPTH_32S, IPL_DEPTH_32F};
constexpr int kAlignments[] = {IPL_ALIGN_4BYTES, IPL_ALIGN_8BYTES, IPL_ALIGN_16BYTES, IPL_ALIGN_32BYTES};

int Size(FuzzedDataProvider& in) {
    return in.ConsumeBool() ? in.ConsumeIntegralInRange(1, 80) : in.ConsumeIntegral<int>();
}

// One image: its header, its region, its mask and the pixel data or tiles the caller owns.
struct Image {
    ImageHeader* header = nullptr;
    ImageRoi roi{};
    std::vector<char> bytes;
    TileInfo tiles{};
    std::map<std::pair<int, int>, std::vector<char>> tileStore;
    int tilesLeft = 0;  // tiles handed out before the caller fails to give one
    std::unique_ptr<Image> mask;

    // The tile the library asks for; a tile outside the image is a finding.
    static void TileCallBack(const ImageHeader* image, int x, int y, int mode) {
        Image& self = *static_cast<Image*>(image->userImageId);
        if (x < 0 || y < 0 || x * int64_t(self.tiles.tileWidth) >= image->width ||
            y * int64_t(self.tiles.tileHeight) >= image->height || mode < 1 || mode > 4 || mode == 3)
            __builtin_trap();
        const int64_t bytes = TilePlaneBytes(image) * (image->dataOrder == IPL_DATA_ORDER_PLANE ? image->nChannels : 1);
        if (mode == IPL_RELEASE_TILE) return;
        std::vector<char>& tile = self.tileStore[{x, y}];
        const bool given = bytes > 0 && bytes <= kLargestImage && self.tilesLeft-- > 0;
        if (given) tile.resize(size_t(bytes), char(x * 7 + y));
        self.tiles.tileData = given ? tile.data() : nullptr;
    }

    Image(FuzzedDataProvider& in, int depth, int channels, int level = 0) {
        const int alpha = in.ConsumeIntegralInRange(0, 7) == 0 ? channels : 0;
        int order = in.ConsumeBool() ? IPL_DATA_ORDER_PIXEL : in.ConsumeIntegralInRange(0, 2);
        int origin = in.ConsumeIntegralInRange(0, 1);
        int align = in.PickValueInArray(kAlignments);
        int width = Size(in), height = Size(in);
        bool useRoi = in.ConsumeBool();
        if (useRoi) {
            roi.coi = in.ConsumeIntegralInRange(-1, 5);
            roi.xOffset = in.ConsumeBool() ? in.ConsumeIntegralInRange(0, 8) : in.ConsumeIntegral<int>();
            roi.yOffset = in.ConsumeBool() ? in.ConsumeIntegralInRange(0, 8) : in.ConsumeIntegral<int>();
            roi.width = Size(in);
            roi.height = Size(in);
        }
        const char* model = channels == 1 ? "GRAY" : "RGB";
        const char* names = channels == 1 ? "G" : channels == 3 ? "BGR" : "BGRA";
        if (level < 2 && in.ConsumeBool()) mask = std::make_unique<Image>(in, IPL_DEPTH_1U, 1, level + 1);
        const bool tiled = in.ConsumeIntegralInRange(0, 3) == 0;
        tiles = {TileCallBack, nullptr, nullptr, 8 * in.ConsumeIntegralInRange(0, 4), 8 * in.ConsumeIntegralInRange(1, 4)};
        tilesLeft = in.ConsumeBool() ? 1 << 20 : in.ConsumeIntegralInRange(0, 8);
        header = iplCreateImageHeader(channels, alpha, depth, model, names, order, origin, align, width, height,
                                      useRoi ? &roi : nullptr, mask ? mask->header : nullptr, this,
                                      tiled ? &tiles : nullptr);
        if (!header) return;
        if (in.ConsumeBool())
            SetBorderMode(header, in.ConsumeIntegral<int>(), in.ConsumeIntegralInRange(0, 15), in.ConsumeIntegral<int>());
        // Fields a caller changes by hand after making the header, rows laid out with a step of
        // its own down to odd byte counts among them.
        for (int edits = in.ConsumeIntegralInRange(0, 3); edits > 0; --edits) {
            int* fields[] = {&header->nChannels, &header->alphaChannelIndex, &header->depth,  &header->dataOrder,
                             &header->origin,    &header->rowAlignment,      &header->width,  &header->height,
                             &header->widthStep, &header->imageByteSize,     &roi.coi,        &roi.xOffset,
                             &roi.width,         &tiles.tileWidth};
            int& field = *in.PickValueInArray(fields);
            field = in.ConsumeBool() ? int(unsigned(field) + unsigned(in.ConsumeIntegralInRange(-3, 9)))
                                     : in.ConsumeIntegral<int>();
        }
        if (tiled ? header->width > 256 || header->height > 256
                  : header->imageByteSize < 0 || header->imageByteSize > kLargestImage) {
            iplDeallocate(header, IPL_IMAGE_HEADER);
            header = nullptr;
        }
        if (tiled || !header) return;
        bytes.resize(size_t(header->imageByteSize) + 32);
        const size_t misalign = in.ConsumeIntegralInRange(0, 3);
        uintptr_t base = (uintptr_t(bytes.data()) + 15) & ~uintptr_t(15);
        header->imageData = reinterpret_cast<char*>(base + misalign);
        for (size_t i = 0; i + 32 < bytes.size(); i += 7) bytes[i] = char(i * 31);
    }
    ~Image() {
        if (header) iplDeallocate(header, IPL_IMAGE_HEADER);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    IplErrorContext* context = GetIplContext();
    context->errorMode = 1;
    context->status = 0;

    FuzzedDataProvider in(data, size);
    const int depth = in.ConsumeBool() ? in.PickValueInArray(kDepths) : in.ConsumeIntegral<int>();
    const int channels = in.ConsumeBool() ? in.PickValueInArray({1, 3, 4}) : in.ConsumeIntegral<int>();
    const int dstDepth = in.ConsumeIntegralInRange(0, 7) == 0 ? in.PickValueInArray(kDepths) : depth;
    Image source(in, depth, channels);
    Image target(in, dstDepth, channels);
    auto ratio = [&in] { return in.ConsumeBool() ? in.ConsumeIntegralInRange(-2, 16) : in.ConsumeIntegral<int>(); };
    const int xDst = ratio(), xSrc = ratio(), yDst = ratio(), ySrc = ratio();
    const int interpolate = in.ConsumeIntegralInRange(-1, 4);
    if (!source.header || !target.header) return 0;
    switch (in.ConsumeIntegralInRange(0, 2)) {  // the mask combination apart, or into its first source
    case 0: iplResize(source.header, target.header, xDst, xSrc, yDst, ySrc, interpolate); break;
    case 1: iplAnd(source.header, target.header, target.header); break;
    case 2: iplAnd(target.header, source.header, target.header); break;
    }
    iplGetErrStatus();
    iplGetLibVersion();
    return 0;
}
