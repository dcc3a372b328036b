// Synthetic luma planes and set-up shared by the motion-estimation tests:
// smooth textured pictures, copies shifted by whole or half samples, and the
// per-mode search settings the encoder set-up derives.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "engine/MotionEstimation.h"
#include "engine/MotionSearch.h"

namespace motiontest {

// A luma plane with the spare line below it that the frame stores have.
struct Plane {
    int width = 0, height = 0;
    std::vector<uint8_t> samples;
    Plane(int w, int h) : width(w), height(h), samples(size_t(w) * (h + 1), 0) {}
    uint8_t& at(int x, int y) { return samples[size_t(y) * width + x]; }
    uint8_t at(int x, int y) const { return samples[size_t(y) * width + x]; }
    uint8_t* data() { return samples.data(); }
    const uint8_t* data() const { return samples.data(); }
};

inline Plane RandomPlane(int w, int h, uint32_t seed) {
    Plane p(w, h);
    std::mt19937 rng(seed);
    for (auto& s : p.samples) s = uint8_t(rng() & 0xFF);
    return p;
}

// A slowly varying field with a ripple of period 16 on top. The ripple makes
// the error surfaces steep, but it cancels in every 16-sample sum, so the
// block features follow the slow field and change little from one position to
// the next; the slow field tells apart positions a ripple period apart. Samples are multiples of 4: halving before or after
// adding then gives the same half-sample values, so a moved copy matches
// exactly under both roundings.
inline Plane TexturedPlane(int w, int h, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> phase(0.0, 6.283);
    const double p1 = phase(rng), p2 = phase(rng), p3 = phase(rng), p4 = phase(rng);
    const double kRipple = 6.283185307179586 / 16.0;
    Plane p(w, h);
    for (int y = 0; y <= h; ++y) {
        for (int x = 0; x < w; ++x) {
            double v = 128.0 + 40.0 * std::sin(x * 0.021 + y * 0.008 + p1) +
                       30.0 * std::sin(y * 0.027 - x * 0.011 + p2) +
                       30.0 * std::sin(x * kRipple + p3) * std::sin(y * kRipple + p4);
            p.samples[size_t(y) * w + x] = uint8_t(std::clamp(int(v / 4) * 4, 0, 252));
        }
    }
    return p;
}

// The picture a camera pan by (vx, vy) half samples would give: sample (x, y)
// is the reference at (x + vx / 2, y + vy / 2), half positions averaged with
// truncation; positions outside the reference repeat its border.
inline Plane ShiftedPlane(const Plane& ref, int vx, int vy) {
    Plane out(ref.width, ref.height);
    auto sample = [&](int x, int y) {
        x = std::clamp(x, 0, ref.width - 1);
        y = std::clamp(y, 0, ref.height - 1);
        return int(ref.at(x, y));
    };
    auto floorHalf = [](int v) { return v >= 0 ? v / 2 : -((-v + 1) / 2); };
    for (int y = 0; y < ref.height; ++y) {
        for (int x = 0; x < ref.width; ++x) {
            const int ix = x + floorHalf(vx), iy = y + floorHalf(vy);
            const int hx = vx & 1, hy = vy & 1;
            int v = sample(ix, iy);
            if (hx && hy)
                v = (v + sample(ix + 1, iy) + sample(ix, iy + 1) + sample(ix + 1, iy + 1)) >> 2;
            else if (hx)
                v = (v + sample(ix + 1, iy)) >> 1;
            else if (hy)
                v = (v + sample(ix, iy + 1)) >> 1;
            out.at(x, y) = uint8_t(v);
        }
    }
    return out;
}

// Search settings of a performance mode as the encoder set-up derives them.
struct ModeTuning {
    int searchLevel, searchPoints, threshold;
};
inline ModeTuning TuningForMode(int mode, int rangeX, int rangeY) {
    const int h = std::max(8, rangeX), v = std::max(8, rangeY);
    const double a = 4.0 * h * v;
    static const int level[6] = {0, 1, 2, 2, 3, 4};
    static const double points[6] = {0, 0.025, 0.05, 0.2, 0.25, 0.3};
    static const int threshold[6] = {0, 64, 25, 9, 4, 0};
    return {level[mode], std::max(32, int(a * points[mode])), threshold[mode]};
}

// Installs a mode's tuning in the words the search reads.
inline void ApplyPerformanceMode(int mode, int rangeX, int rangeY) {
    const ModeTuning t = TuningForMode(mode, rangeX, rangeY);
    MotionState.MeExhaustive = t.threshold == 0 ? 1 : 0;
    MotionState.MeSearchPoints = t.searchPoints;
    MotionState.MeThresholdScaled = t.threshold * 256;
    MotionState.MeWindowTolerance = t.searchLevel;
}

// Everything a search of w x h pictures needs, for one mode and kernel kind.
// Returns the size of one motion-table buffer (0 when the set-up refused).
inline int SetUpMotion(int mode, bool simd, int w, int h, int range = 16) {
    ApplyPerformanceMode(mode, range, range);
    int bytes = 0;
    if (!InitMotionEstimation(w, h, mode, simd ? 1 : 0, range, range, range, range, &bytes, 4, 0))
        return 0;
    return bytes;
}

}  // namespace motiontest
