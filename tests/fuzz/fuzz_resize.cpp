// The resize library's exports with caller values: image headers of any size,
// depth, order and region, rows with odd steps, and any ratios and
// interpolation. Errors are taken back as statuses (error mode 1) so that the
// run goes on; anything else the library does with the values is a finding.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
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

// One image: its header, its region and the pixel data the caller owns.
struct Image {
    ImageHeader* header = nullptr;
    ImageRoi roi{};
    std::vector<char> bytes;

    Image(FuzzedDataProvider& in, int depth, int channels) {
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
        header = iplCreateImageHeader(channels, 0, depth, model, names, order, origin, align, width, height,
                                      useRoi ? &roi : nullptr, nullptr, nullptr, nullptr);
        if (!header) return;
        // A caller may lay rows out with a step of its own, down to odd byte counts.
        if (in.ConsumeBool()) {
            int64_t step = int64_t(header->widthStep) + in.ConsumeIntegralInRange(-3, 9);
            int64_t planes = header->dataOrder == IPL_DATA_ORDER_PLANE ? header->nChannels : 1;
            int64_t total = step * header->height * planes;
            if (step > 0 && total > 0 && total <= kLargestImage) {
                header->widthStep = int(step);
                header->imageByteSize = int(total);
            }
        }
        if (header->imageByteSize < 0 || header->imageByteSize > kLargestImage) {
            iplDeallocate(header, IPL_IMAGE_HEADER);
            header = nullptr;
            return;
        }
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
    if (source.header && target.header) iplResize(source.header, target.header, xDst, xSrc, yDst, ySrc, interpolate);
    iplGetErrStatus();
    return 0;
}
