// Helpers of the transform tests: double-precision reference DCTs and random blocks.
#pragma once

#include <array>
#include <cstdint>
#include <random>

namespace transform_test {

using Block = std::array<int16_t, 64>;
using DoubleBlock = std::array<double, 64>;

// The orthonormal 8x8 DCT and its inverse, in double precision, natural order
// (row = vertical frequency).
DoubleBlock ReferenceForwardDct(const DoubleBlock& samples);
DoubleBlock ReferenceInverseDct(const DoubleBlock& coefficients);

// A block of independent values in [low, high].
Block RandomBlock(std::mt19937& random, int low, int high);

}  // namespace transform_test
