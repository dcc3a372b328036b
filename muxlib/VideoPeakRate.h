// The real rate of a variable-rate video stream, whose sequence header carries
// the code 0x3FFFF instead: the highest rate over one second of pictures.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>

// Bit_rate field value of a variable-rate stream.
inline constexpr uint32_t VariableBitRateCode = 0x3FFFF;

// Sums picture sizes over a window of one second of pictures (decode order) and
// keeps the largest sum.
class PeakRateMeter {
public:
    explicit PeakRateMeter(double picturesPerSecond)
        : picturesPerSecond_(picturesPerSecond),
          window_(picturesPerSecond >= 1.0 ? static_cast<size_t>(picturesPerSecond + 0.5) : 1)
    {
    }

    void AddPicture(uint64_t bytes)
    {
        sizes_.push_back(bytes);
        sum_ += bytes;
        if (sizes_.size() > window_) {
            sum_ -= sizes_.front();
            sizes_.pop_front();
        }
        if (sum_ > peak_) peak_ = sum_;
    }

    // In units of 400 bit/s, rounded up; 0 without pictures or a picture rate.
    uint32_t PeakBitRate() const
    {
        if (picturesPerSecond_ <= 0.0 || peak_ == 0) return 0;
        // A stream shorter than the window is measured over its own length.
        const double pictures = static_cast<double>(sizes_.size() < window_ ? sizes_.size() : window_);
        const double bitsPerSecond = static_cast<double>(peak_) * 8.0 * picturesPerSecond_ / pictures;
        const double units = bitsPerSecond / 400.0;
        return units >= VariableBitRateCode ? VariableBitRateCode - 1 : static_cast<uint32_t>(units) + 1;
    }

private:
    double picturesPerSecond_;
    size_t window_;
    std::deque<uint64_t> sizes_;
    uint64_t sum_ = 0;
    uint64_t peak_ = 0;
};

// Scans the video elementary stream from the file's current position and puts the
// position back. The peak rate in units of 400 bit/s when the first sequence header
// says the rate is variable; 0 when it does not, or the stream gives no rate.
uint32_t MeasureVariableVideoRate(FILE* file);
