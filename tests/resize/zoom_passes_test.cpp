// Every SSE2 zoom pass against its plain twin on random input, pass by pass.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "resize/ZoomKernels.h"

namespace {

struct PassInput {
    PassInput(std::mt19937& rng, int dstW, int n, int step)
        : dstW(dstW), n(n), step(step)
    {
        const int sourceCols = dstW + 8;
        row8.resize(std::size_t(sourceCols * step + 8));
        row16.resize(row8.size());
        row32.resize(row8.size());
        for (std::size_t i = 0; i < row8.size(); ++i) {
            row8[i] = uint8_t(rng());
            row16[i] = uint16_t(rng());
            row32[i] = std::uniform_real_distribution<float>(-500.0f, 500.0f)(rng);
        }
        for (int j = 0; j < dstW; ++j) {
            // Windows start one column in, so the cubic's column before exists.
            colIndex.push_back((1 + int(rng() % unsigned(sourceCols - 4))) * step);
            const uint16_t w1 = uint16_t(rng() % 16385);
            wx.push_back(uint16_t(16384 - w1));
            wx.push_back(w1);
            const float t = std::uniform_real_distribution<float>(-1.0f, 2.0f)(rng);
            fx.push_back(t);
            coef.push_back(MakeCubicCoef(t));
        }
        for (int k = 0; k < 4; ++k) {
            lines16[k].resize(std::size_t(dstW * n + 8));
            lines16wide[k].resize(std::size_t(dstW * n + 8));
            lines32[k].resize(std::size_t(dstW * n + 8));
            // Line values as the horizontal passes make them: 8U samples x 64,
            // halved 16U samples.
            for (auto& v : lines16[k])
                v = uint16_t(rng() % 16321);
            for (auto& v : lines16wide[k])
                v = uint16_t(rng() % 32768);
            for (auto& v : lines32[k])
                v = std::uniform_real_distribution<float>(-80.0f, 340.0f)(rng);
        }
        wy = int(rng() % 16385);
        t = std::uniform_real_distribution<float>(-1.0f, 2.0f)(rng);
    }
    const float* const* rows() const
    {
        rowPtr[0] = lines32[0].data();
        rowPtr[1] = lines32[1].data();
        rowPtr[2] = lines32[2].data();
        rowPtr[3] = lines32[3].data();
        return rowPtr;
    }
    int dstW, n, step, wy;
    float t;
    std::vector<uint8_t> row8;
    std::vector<uint16_t> row16;
    std::vector<float> row32;
    std::vector<int> colIndex;
    std::vector<uint16_t> wx;
    std::vector<float> fx;
    std::vector<CubicCoef> coef;
    std::vector<uint16_t> lines16[4];
    std::vector<uint16_t> lines16wide[4];
    std::vector<float> lines32[4];
    mutable const float* rowPtr[4];
};

// Runs one pass of a table into fresh output bytes.
using PassRun = std::function<std::vector<char>(const ZoomPassTable&, const PassInput&)>;

template <typename T>
std::vector<char> Bytes(const std::vector<T>& v)
{
    std::vector<char> b(v.size() * sizeof(T));
    std::memcpy(b.data(), v.data(), b.size());
    return b;
}

struct NamedPass {
    const char* name;
    PassRun run;
};

std::vector<NamedPass> Passes()
{
    auto count = [](const PassInput& in) { return in.dstW * in.n; };
    auto roundLimit = [](const PassInput& in) {
        const int c = in.dstW * in.n;
        return c - c % 4 - (in.dstW % 3 == 0 ? 4 : 0) < 0 ? 0 : c - c % 4 - (in.dstW % 3 == 0 ? 4 : 0);
    };
    auto stridedOut = [](const PassInput& in) { return std::size_t(in.dstW * (in.n + 1) + 8); };
    return {
        {"linearH8", [=](const ZoomPassTable& t, const PassInput& in) {
             std::vector<uint16_t> out(std::size_t(count(in) + 8));
             t.linearH8(in.row8.data(), in.colIndex.data(), in.wx.data(), in.dstW, in.n, in.step, out.data());
             return Bytes(out);
         }},
        {"linearH16", [=](const ZoomPassTable& t, const PassInput& in) {
             std::vector<uint16_t> out(std::size_t(count(in) + 8));
             t.linearH16(in.row16.data(), in.colIndex.data(), in.wx.data(), in.dstW, in.n, in.step, out.data());
             return Bytes(out);
         }},
        {"linearH32", [=](const ZoomPassTable& t, const PassInput& in) {
             std::vector<float> out(std::size_t(count(in) + 8));
             t.linearH32(in.row32.data(), in.colIndex.data(), in.fx.data(), in.dstW, in.n, in.step, out.data());
             return Bytes(out);
         }},
        {"linearV8", [=](const ZoomPassTable& t, const PassInput& in) {
             std::vector<uint8_t> out(std::size_t(count(in) + 8));
             t.linearV8(in.lines16[0].data(), in.lines16[1].data(), in.wy, count(in), out.data());
             return Bytes(out);
         }},
        {"linearV8Strided", [=](const ZoomPassTable& t, const PassInput& in) {
             std::vector<uint8_t> out(stridedOut(in), 7);
             t.linearV8Strided(in.lines16[0].data(), in.lines16[1].data(), in.wy, in.dstW, in.n, in.n + 1, out.data());
             return Bytes(out);
         }},
        {"linearV16", [=](const ZoomPassTable& t, const PassInput& in) {
             std::vector<uint16_t> out(std::size_t(count(in) + 8));
             t.linearV16(in.lines16wide[0].data(), in.lines16wide[1].data(), in.wy, count(in), out.data());
             return Bytes(out);
         }},
        {"linearV16Strided", [=](const ZoomPassTable& t, const PassInput& in) {
             std::vector<uint16_t> out(stridedOut(in), 7);
             t.linearV16Strided(in.lines16wide[0].data(), in.lines16wide[1].data(), in.wy, in.dstW, in.n, in.n + 1, out.data());
             return Bytes(out);
         }},
        {"linearV32", [=](const ZoomPassTable& t, const PassInput& in) {
             std::vector<float> out(std::size_t(count(in) + 8));
             t.linearV32(in.lines32[0].data(), in.lines32[1].data(), in.t, count(in), out.data());
             return Bytes(out);
         }},
        {"cubicH8", [=](const ZoomPassTable& t, const PassInput& in) {
             std::vector<float> out(std::size_t(count(in) + 8));
             t.cubicH8(in.row8.data(), in.colIndex.data(), in.coef.data(), in.dstW, in.n, in.step, out.data());
             return Bytes(out);
         }},
        {"cubicH16", [=](const ZoomPassTable& t, const PassInput& in) {
             std::vector<float> out(std::size_t(count(in) + 8));
             t.cubicH16(in.row16.data(), in.colIndex.data(), in.coef.data(), in.dstW, in.n, in.step, out.data());
             return Bytes(out);
         }},
        {"cubicH32", [=](const ZoomPassTable& t, const PassInput& in) {
             std::vector<float> out(std::size_t(count(in) + 8));
             t.cubicH32(in.row32.data(), in.colIndex.data(), in.coef.data(), in.dstW, in.n, in.step, out.data());
             return Bytes(out);
         }},
        {"cubicV8", [=](const ZoomPassTable& t, const PassInput& in) {
             std::vector<uint8_t> out(std::size_t(count(in) + 8));
             t.cubicV8(in.rows(), MakeCubicCoef(in.t), count(in), roundLimit(in), out.data());
             return Bytes(out);
         }},
        {"cubicV8Strided", [=](const ZoomPassTable& t, const PassInput& in) {
             std::vector<uint8_t> out(stridedOut(in), 7);
             t.cubicV8Strided(in.rows(), MakeCubicCoef(in.t), in.dstW, in.n, in.n + 1, roundLimit(in), out.data());
             return Bytes(out);
         }},
        {"cubicV16", [=](const ZoomPassTable& t, const PassInput& in) {
             std::vector<uint16_t> out(std::size_t(count(in) + 8));
             t.cubicV16(in.rows(), MakeCubicCoef(in.t), count(in), roundLimit(in), out.data());
             return Bytes(out);
         }},
        {"cubicV32", [=](const ZoomPassTable& t, const PassInput& in) {
             std::vector<float> out(std::size_t(count(in) + 8));
             t.cubicV32(in.rows(), MakeCubicCoef(in.t), count(in), out.data());
             return Bytes(out);
         }},
    };
}

TEST(ZoomPasses, EverySse2PassMatchesItsPlainTwin)
{
    ZoomPassTable plain, simd;
    ZoomPasses_init(false, plain);
    ZoomPasses_init(true, simd);
    EXPECT_NE(plain.cubicV8, simd.cubicV8);  // the SSE2 forms are in this build
    std::mt19937 rng(21);
    for (const NamedPass& pass : Passes()) {
        for (int trial = 0; trial < 60; ++trial) {
            const int n = 1 + trial % 4;
            const int dstW = 1 + int(rng() % 40);
            const int step = trial % 2 == 0 ? n : n + 1;
            PassInput in(rng, dstW, n, step);
            ASSERT_EQ(pass.run(plain, in), pass.run(simd, in))
                << pass.name << " dstW " << dstW << " n " << n;
        }
    }
}

TEST(ZoomPasses, VectorRoundingAndScalarTruncationMeetAtTheRoundLimit)
{
    ZoomPassTable table;
    ZoomPasses_init(true, table);
    // Every value 2.5 - 0.00001 + 0.00001: nearest-even of 2.5 is 2, floor is 2;
    // 3.6 rounds to 4 but truncates to 3.
    std::vector<float> rows[4];
    for (auto& r : rows)
        r.assign(16, 3.6f);
    const float* p[4] = {rows[0].data(), rows[1].data(), rows[2].data(), rows[3].data()};
    std::vector<uint8_t> out(11);
    table.cubicV8(p, MakeCubicCoef(0.25f), 11, 8, out.data());
    const std::vector<uint8_t> expected = {4, 4, 4, 4, 4, 4, 4, 4, 3, 3, 3};
    EXPECT_EQ(out, expected);
}

}  // namespace
