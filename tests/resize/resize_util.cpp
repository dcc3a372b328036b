// Helpers of the resize library's tests.
#include "tests/resize/ResizeTestUtil.h"

#include <cstring>

namespace resizetest {

namespace {
thread_local std::vector<Raise> recorded;

int RecordingReport(int status, const char* function, const char* context, const char* file, int)
{
    recorded.push_back(Raise{status, function, context, file});
    return status;
}
}  // namespace

TestImage::TestImage(int channels, int depth, int width, int height, int order, int alignment,
                     int alpha)
{
    header = iplCreateImageHeader(channels, alpha, depth, "RGB", "BGR", order, IPL_ORIGIN_TL,
                                  alignment, width, height, nullptr, nullptr, nullptr, nullptr);
    data.assign(std::size_t(header->imageByteSize) + 64, 0);
    // 32-byte alignment inside the vector, so rows keep the header's alignment.
    uintptr_t p = (uintptr_t(data.data()) + 31) & ~uintptr_t(31);
    header->imageData = reinterpret_cast<char*>(p);
}

TestImage::~TestImage() { iplDeallocate(header, IPL_IMAGE_HEADER); }

void TestImage::FillRandom(std::mt19937& rng)
{
    const int depth = header->depth;
    const int size = header->imageByteSize;
    if (depth == IPL_DEPTH_32F) {
        std::uniform_real_distribution<float> value(-100.0f, 400.0f);
        for (int i = 0; i + 4 <= size; i += 4) {
            float v = value(rng);
            std::memcpy(header->imageData + i, &v, 4);
        }
        return;
    }
    for (int i = 0; i < size; ++i)
        header->imageData[i] = char(rng() & 0xff);
}

void TestImage::Fill(uint8_t byte) { std::memset(header->imageData, byte, std::size_t(header->imageByteSize)); }

RecordRaises::RecordRaises()
{
    IplErrorContext* ctx = GetIplContext();
    saved_ = *ctx;
    ctx->errorMode = 1;
    ctx->report = RecordingReport;
    ctx->status = 0;
    recorded.clear();
}

RecordRaises::~RecordRaises()
{
    *GetIplContext() = saved_;
    recorded.clear();
}

const std::vector<Raise>& RecordRaises::raises() const { return recorded; }

std::vector<int> RecordRaises::statuses() const
{
    std::vector<int> s;
    for (const Raise& r : recorded)
        s.push_back(r.status);
    return s;
}

void RecordRaises::clear()
{
    recorded.clear();
    GetIplContext()->status = 0;
}

}  // namespace resizetest
