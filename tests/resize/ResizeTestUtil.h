// Helpers of the resize library's tests: owned images, random fills and a
// report callback that records raises instead of ending the process.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "resize/iplcore.h"

namespace resizetest {

// A header from iplCreateImageHeader with pixel data owned by the test.
struct TestImage {
    TestImage(int channels, int depth, int width, int height, int order = IPL_DATA_ORDER_PIXEL,
              int alignment = 4, int alpha = 0);
    ~TestImage();
    TestImage(const TestImage&) = delete;
    TestImage& operator=(const TestImage&) = delete;

    template <typename T>
    T* Row(int y, int plane = 0)
    {
        return reinterpret_cast<T*>(header->imageData +
                                    std::ptrdiff_t(header->widthStep) *
                                        (y + std::ptrdiff_t(plane) * header->height));
    }
    void FillRandom(std::mt19937& rng);
    void Fill(uint8_t byte);
    std::vector<char> Bytes() const { return data; }

    ImageHeader* header = nullptr;
    std::vector<char> data;
    ImageRoi roi{};
};

struct Raise {
    int status;
    std::string function;
    std::string context;
    std::string file;
};

// While alive: the calling thread's raises are recorded and returned to the
// raiser (error mode 1) instead of ending the process; the status starts at 0.
class RecordRaises {
public:
    RecordRaises();
    ~RecordRaises();
    const std::vector<Raise>& raises() const;
    std::vector<int> statuses() const;
    void clear();

private:
    IplErrorContext saved_;
};

}  // namespace resizetest
