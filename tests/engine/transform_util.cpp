// Double-precision reference transforms and random blocks for the transform tests.
#include "transform_util.h"

#include <cmath>
#include <numbers>

namespace transform_test {

namespace {

// basis[k][n] = C(k) / 2 cos((2n + 1) k pi / 16)
std::array<std::array<double, 8>, 8> Basis() {
    std::array<std::array<double, 8>, 8> basis{};
    for (int k = 0; k < 8; ++k) {
        const double scale = k == 0 ? std::sqrt(0.125) : 0.5;
        for (int n = 0; n < 8; ++n) basis[k][n] = scale * std::cos((2 * n + 1) * k * std::numbers::pi / 16.0);
    }
    return basis;
}

}  // namespace

DoubleBlock ReferenceForwardDct(const DoubleBlock& samples) {
    static const auto basis = Basis();
    DoubleBlock vertical{}, result{};
    for (int v = 0; v < 8; ++v)
        for (int x = 0; x < 8; ++x) {
            double sum = 0;
            for (int y = 0; y < 8; ++y) sum += basis[v][y] * samples[8 * y + x];
            vertical[8 * v + x] = sum;
        }
    for (int v = 0; v < 8; ++v)
        for (int u = 0; u < 8; ++u) {
            double sum = 0;
            for (int x = 0; x < 8; ++x) sum += basis[u][x] * vertical[8 * v + x];
            result[8 * v + u] = sum;
        }
    return result;
}

DoubleBlock ReferenceInverseDct(const DoubleBlock& coefficients) {
    static const auto basis = Basis();
    DoubleBlock horizontal{}, result{};
    for (int v = 0; v < 8; ++v)
        for (int x = 0; x < 8; ++x) {
            double sum = 0;
            for (int u = 0; u < 8; ++u) sum += basis[u][x] * coefficients[8 * v + u];
            horizontal[8 * v + x] = sum;
        }
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            double sum = 0;
            for (int v = 0; v < 8; ++v) sum += basis[v][y] * horizontal[8 * v + x];
            result[8 * y + x] = sum;
        }
    return result;
}

Block RandomBlock(std::mt19937& random, int low, int high) {
    std::uniform_int_distribution<int> value(low, high);
    Block block{};
    for (auto& v : block) v = static_cast<int16_t>(value(random));
    return block;
}

}  // namespace transform_test
