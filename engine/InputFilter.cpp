// The optional luma filters of progressive input: a 3x3 median blended with
// the centre by strength, and a 3x3 low-pass.
#include <algorithm>
#include <cstring>

#include "engine/Input.h"
#include "job/EncoderSettings.h"

int InputFilterOn = 0;
uint8_t* FilterPlane = nullptr;

namespace {

inline void Order(int& a, int& b) {
    if (a > b) std::swap(a, b);
}

// The fifth smallest of nine values (a known 19-exchange network).
int Median9(int p[9]) {
    Order(p[1], p[2]); Order(p[4], p[5]); Order(p[7], p[8]);
    Order(p[0], p[1]); Order(p[3], p[4]); Order(p[6], p[7]);
    Order(p[1], p[2]); Order(p[4], p[5]); Order(p[7], p[8]);
    Order(p[0], p[3]); Order(p[5], p[8]); Order(p[4], p[7]);
    Order(p[3], p[6]); Order(p[1], p[4]); Order(p[2], p[5]);
    Order(p[4], p[7]); Order(p[4], p[2]); Order(p[6], p[4]);
    Order(p[4], p[2]);
    return p[4];
}

// Copies the outermost lines and columns, which the filters leave as they are.
void CopyFrame(const uint8_t* source, uint8_t* target, int width, int height, int lineLength) {
    std::memcpy(target, source, static_cast<size_t>(width));
    const std::ptrdiff_t last = static_cast<std::ptrdiff_t>(height - 1) * lineLength;
    std::memcpy(target + last, source + last, static_cast<size_t>(width));
    for (int y = 1; y < height - 1; ++y) {
        const std::ptrdiff_t o = static_cast<std::ptrdiff_t>(y) * lineLength;
        target[o] = source[o];
        target[o + width - 1] = source[o + width - 1];
    }
}

}  // namespace

void MedianFilterPlane(const uint8_t* source, uint8_t* target, int width, int height, int lineLength, int strength) {
    if (width < 1 || height < 1) return;
    CopyFrame(source, target, width, height, lineLength);
    const int s = std::clamp(strength, 0, 100);
    for (int y = 1; y < height - 1; ++y) {
        const uint8_t* row = source + static_cast<std::ptrdiff_t>(y) * lineLength;
        uint8_t* out = target + static_cast<std::ptrdiff_t>(y) * lineLength;
        for (int x = 1; x < width - 1; ++x) {
            const uint8_t* a = row + x - lineLength;
            const uint8_t* b = row + x;
            const uint8_t* c = row + x + lineLength;
            int p[9] = {a[-1], a[0], a[1], b[-1], b[0], b[1], c[-1], c[0], c[1]};
            const int m = Median9(p);
            out[x] = static_cast<uint8_t>((m * (s + 28) + b[0] * (100 - s) + 64) >> 7);
        }
    }
}

void LowPassFilterPlane(const uint8_t* source, uint8_t* target, int width, int height, int lineLength, int strength) {
    if (width < 1 || height < 1) return;
    CopyFrame(source, target, width, height, lineLength);
    const int s = std::clamp(strength, 0, 100);
    const int k = 1024 - static_cast<int>(1024.0 - 7.74 * s);
    const int b = static_cast<int>(k * 150.0 / 1023.0);
    const int c = static_cast<int>(b * 5.0 / 7.0);
    const int centre = 4 * (256 - b - c);
    for (int y = 1; y < height - 1; ++y) {
        const uint8_t* row = source + static_cast<std::ptrdiff_t>(y) * lineLength;
        uint8_t* out = target + static_cast<std::ptrdiff_t>(y) * lineLength;
        for (int x = 1; x < width - 1; ++x) {
            const uint8_t* up = row + x - lineLength;
            const uint8_t* here = row + x;
            const uint8_t* down = row + x + lineLength;
            const int direct = up[0] + down[0] + here[-1] + here[1];
            const int diagonal = up[-1] + up[1] + down[-1] + down[1];
            out[x] = static_cast<uint8_t>((b * direct + c * diagonal + centre * here[0]) >> 10);
        }
    }
}

// Filters the width x height picture from FilterPlane into `luma`; the
// strengths are clamped and written back to the settings.
void FilterInputLuma(uint8_t* luma, int width, int height, int lineLength) {
    if (EncoderSettings.medianFilter) {
        EncoderSettings.medianFilterStrength = std::clamp(EncoderSettings.medianFilterStrength, 0, 100);
        MedianFilterPlane(FilterPlane, luma, width, height, lineLength, EncoderSettings.medianFilterStrength);
    } else if (EncoderSettings.lowPassFilter) {
        EncoderSettings.lowPassFilterStrength = std::clamp(EncoderSettings.lowPassFilterStrength, 0, 100);
        LowPassFilterPlane(FilterPlane, luma, width, height, lineLength, EncoderSettings.lowPassFilterStrength);
    } else {
        for (int y = 0; y < height; ++y)
            std::memcpy(luma + static_cast<std::ptrdiff_t>(y) * lineLength,
                        FilterPlane + static_cast<std::ptrdiff_t>(y) * lineLength, static_cast<size_t>(width));
    }
}
