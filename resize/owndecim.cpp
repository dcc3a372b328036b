// Decimation kernels. Positions advance by repeated addition of the scale to
// the phase in single precision; every block of one call reads the same plan,
// so a region computed in blocks equals the region computed at once.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "resize/iplcore.h"
#include "resize/owndecim.h"

namespace {

const char kModule[] = "owndecim";

template <typename T>
inline T StoreValue(float v)
{
    if constexpr (std::is_same_v<T, float>) {
        return v;
    } else {
        constexpr float kMax = std::is_same_v<T, uint8_t> ? 255.0f : 65535.0f;
        float t = std::trunc(v);
        return T(t < 0.0f ? 0.0f : t > kMax ? kMax : t);
    }
}

inline float Cubic1(float e, float a, float d, float g, float t)
{
    float t2 = t * t;
    float t3 = t2 * t;
    return (6.0f * a + t * (6.0f * d - 2.0f * e - 3.0f * a - g) +
            t2 * (3.0f * d + 3.0f * e - 6.0f * a) + t3 * (g + 3.0f * a - e - 3.0f * d)) /
           6.0f;
}

// Samples are read and written through memcpy: a caller's row step or data
// pointer need not be a multiple of the sample size.
template <typename T>
struct Reader {
    const DecimateView& v;
    explicit Reader(const DecimateView& view) : v(view) {}
    T operator()(int row, int col, int ch) const
    {
        T value;
        std::memcpy(&value,
                    v.base + std::ptrdiff_t(row - v.by) * v.rowStep +
                        std::ptrdiff_t(col - v.bx) * v.pixelStep + ch * v.channelStep,
                    sizeof(T));
        return value;
    }
};

template <typename T>
inline void Put(const DecimateBlockOut& out, int i, int j, int ch, T value)
{
    std::memcpy(out.data + std::ptrdiff_t(i) * out.rowStep + std::ptrdiff_t(j) * out.pixelStep +
                    ch * out.channelStep,
                &value, sizeof(T));
}

template <typename T>
bool Interpolating(const DecimatePlan& plan, const DecimateView& view, int i0, int i1, int j0,
                   int j1, const DecimateBlockOut& out)
{
    Reader<T> s(view);
    const DecimateAxis& xa = plan.x;
    const DecimateAxis& ya = plan.y;
    for (int ch = 0; ch < plan.channels; ++ch) {
        for (int i = i0; i < i1; ++i) {
            const int* ry = &ya.index[4 * i];
            const float ty = ya.t[i];
            for (int j = j0; j < j1; ++j) {
                const int* cx = &xa.index[4 * j];
                const float tx = xa.t[j];
                float v;
                switch (plan.method) {
                case DecimateMethod::Nearest: v = float(s(ry[0], cx[0], ch)); break;
                case DecimateMethod::LinearX:
                    v = tx * float(s(ry[0], cx[1], ch)) + (1.0f - tx) * float(s(ry[0], cx[0], ch));
                    break;
                case DecimateMethod::LinearY:
                    v = ty * float(s(ry[1], cx[0], ch)) + (1.0f - ty) * float(s(ry[0], cx[0], ch));
                    break;
                case DecimateMethod::Linear:
                    v = ty * (tx * float(s(ry[1], cx[1], ch)) +
                              (1.0f - tx) * float(s(ry[1], cx[0], ch))) +
                        (1.0f - ty) * (tx * float(s(ry[0], cx[1], ch)) +
                                       (1.0f - tx) * float(s(ry[0], cx[0], ch)));
                    break;
                case DecimateMethod::CubicX:
                    v = Cubic1(float(s(ry[0], cx[0], ch)), float(s(ry[0], cx[1], ch)),
                               float(s(ry[0], cx[2], ch)), float(s(ry[0], cx[3], ch)), tx);
                    break;
                case DecimateMethod::CubicY:
                    v = Cubic1(float(s(ry[0], cx[0], ch)), float(s(ry[1], cx[0], ch)),
                               float(s(ry[2], cx[0], ch)), float(s(ry[3], cx[0], ch)), ty);
                    break;
                default: {
                    float r[4];
                    for (int k = 0; k < 4; ++k)
                        r[k] = Cubic1(float(s(ry[k], cx[0], ch)), float(s(ry[k], cx[1], ch)),
                                      float(s(ry[k], cx[2], ch)), float(s(ry[k], cx[3], ch)), tx);
                    v = Cubic1(r[0], r[1], r[2], r[3], ty);
                    break;
                }
                }
                if (plan.method == DecimateMethod::Nearest)
                    Put<T>(out, i - i0, j - j0, ch, s(ry[0], cx[0], ch));
                else
                    Put<T>(out, i - i0, j - j0, ch, StoreValue<T>(v));
            }
        }
    }
    return true;
}

template <typename T>
bool Super(const DecimatePlan& plan, const DecimateView& view, int i0, int i1, int j0, int j1,
           const DecimateBlockOut& out)
{
    Reader<T> s(view);
    const DecimateAxis& xa = plan.x;
    const DecimateAxis& ya = plan.y;
    int clo = 0, chi = -1;
    DecimateAxisSpan(plan, xa, true, j0, j1, &clo, &chi);
    const int cols = chi >= clo ? chi - clo + 1 : 0;
    const int rows = i1 - i0;
    float* sums = static_cast<float*>(AlignedMalloc(std::ptrdiff_t(rows) * cols * 4));
    float* column = static_cast<float*>(AlignedMalloc(std::ptrdiff_t(rows) * 4));
    if ((cols > 0 && sums == nullptr) || column == nullptr) {
        AlignedFree(sums);
        AlignedFree(column);
        IPL_RAISE(kIplStsNoMem, "iplDecimate",
                  "Can't create temporary buffer for interpolate = IPL_INTER_SUPER", kModule);
        return false;
    }
    for (int ch = 0; ch < plan.channels; ++ch) {
        // Vertical pass: per destination row, the weighted sum of its source rows.
        for (int i = i0; i < i1; ++i) {
            float* sum = sums + std::ptrdiff_t(i - i0) * cols;
            std::fill(sum, sum + cols, 0.0f);
            for (int k = ya.first[i]; k < ya.first[i + 1]; ++k) {
                const int r = ya.src[k];
                const float w = ya.weight[k];
                for (int c = 0; c < cols; ++c)
                    sum[c] += w * float(s(r, clo + c, ch));
            }
        }
        // Horizontal pass over those sums, all rows of a destination column at once.
        for (int j = j0; j < j1; ++j) {
            std::fill(column, column + rows, 0.0f);
            for (int k = xa.first[j]; k < xa.first[j + 1]; ++k) {
                const int c = xa.src[k] - clo;
                const float w = xa.weight[k];
                for (int i = 0; i < rows; ++i)
                    column[i] += w * sums[std::ptrdiff_t(i) * cols + c];
            }
            for (int i = 0; i < rows; ++i) {
                if constexpr (std::is_same_v<T, float>)
                    Put<T>(out, i, j - j0, ch, column[i] * plan.norm);
                else
                    Put<T>(out, i, j - j0, ch, StoreValue<T>(column[i] * plan.norm + 0.5f));
            }
        }
    }
    AlignedFree(sums);
    AlignedFree(column);
    return true;
}

inline bool Bit(const char* row, int bit)
{
    return (static_cast<unsigned char>(row[bit >> 3]) >> (7 - (bit & 7))) & 1;
}

inline void PutBit(const DecimateBlockOut& out, int i, int j, bool value)
{
    int b = out.bitOffset + j;
    unsigned char* p = reinterpret_cast<unsigned char*>(out.data) + std::ptrdiff_t(i) * out.rowStep;
    unsigned char mask = static_cast<unsigned char>(0x80u >> (b & 7));
    if (value)
        p[b >> 3] |= mask;
    else
        p[b >> 3] &= static_cast<unsigned char>(~mask);
}

inline const char* BitRow(const DecimateView& v, int row)
{
    return v.base + std::ptrdiff_t(row - v.by) * v.rowStep;
}

// Walks the source positions of one axis for supersampling: each destination
// position collects the source indices it covers with the length covered.
void BuildSuperAxis(float phase, float scale, int count, int available, DecimateAxis& axis)
{
    axis.first.assign(std::size_t(count) + 1, 0);
    axis.src.clear();
    axis.weight.clear();
    std::vector<std::vector<std::pair<int, float>>> lists(static_cast<std::size_t>(count));
    const int x0 = int(std::trunc(phase));
    // More than `available` is cut below anyway; the cap keeps the count an int.
    const float usedSpan = std::trunc(float(count + 1) * scale);
    int used = usedSpan >= float(available) ? available : int(usedSpan) + 1;
    while (used > 0 && x0 + used > available)
        --used;
    float boundary = phase;
    int counter = int(std::trunc(phase + 0.0001f));
    int d = 0;
    for (int k = 0; k < used && count > 0; ++k, ++counter) {
        const int source = x0 + k;
        const float end = float(counter + 1);
        if (boundary + 0.0001f > end) {
            lists[d].emplace_back(source, 1.0f);
            if (!(boundary > end)) {
                if (d == count - 1)
                    break;
                ++d;
                boundary += scale;
            }
        } else {
            float w;
            if (k != 0) {
                const float f = boundary - std::trunc(boundary);
                lists[d].emplace_back(source, f);
                if (d == count - 1)
                    break;
                ++d;
                w = 1.0f - f;
            } else {
                w = 1.0f - (phase - std::trunc(phase + 0.0001f));
            }
            boundary += scale;
            lists[d].emplace_back(source, w);
        }
    }
    for (int j = 0; j < count; ++j) {
        axis.first[j] = int(axis.src.size());
        for (auto [source, w] : lists[j]) {
            axis.src.push_back(source);
            axis.weight.push_back(w);
        }
    }
    axis.first[count] = int(axis.src.size());
}

}  // namespace

void BuildDecimateAxis(DecimateMethod method, bool axisInterpolated, float phase, float scale,
                       int count, int minIndex, int available, DecimateAxis& axis)
{
    if (method == DecimateMethod::Super) {
        BuildSuperAxis(phase, scale, count, available, axis);
        return;
    }
    const bool cubic = method == DecimateMethod::Cubic || method == DecimateMethod::CubicX ||
                       method == DecimateMethod::CubicY;
    axis.index.assign(std::size_t(count) * 4, 0);
    axis.t.assign(std::size_t(count), 0.0f);
    auto clampIndex = [&](int i) { return std::clamp(i, minIndex, available - 1); };
    float p = phase;
    for (int j = 0; j < count; ++j, p += scale) {
        int k = int(std::trunc(p));
        float t = p - float(k);
        int* idx = &axis.index[4 * std::size_t(j)];
        if (!axisInterpolated || method == DecimateMethod::Nearest) {
            idx[0] = std::clamp(k, 0, available - 1);
        } else if (!cubic) {
            idx[0] = clampIndex(k);
            idx[1] = clampIndex(k + 1);
            axis.t[j] = t;
        } else {
            if (k + 2 >= available) {
                k -= 1;
                t += 1.0f;
            }
            for (int m = 0; m < 4; ++m)
                idx[m] = clampIndex(k - 1 + m);
            axis.t[j] = t;
        }
    }
}

void DecimateAxisSpan(const DecimatePlan& plan, const DecimateAxis& axis, bool interpolated,
                      int k0, int k1, int* lo, int* hi)
{
    *lo = 0;
    *hi = -1;
    bool any = false;
    auto take = [&](int v) {
        if (!any) {
            *lo = *hi = v;
            any = true;
        } else {
            *lo = std::min(*lo, v);
            *hi = std::max(*hi, v);
        }
    };
    if (plan.method == DecimateMethod::Super) {
        for (int k = axis.first[k0]; k < axis.first[k1]; ++k)
            take(axis.src[k]);
        return;
    }
    const bool cubic = plan.method == DecimateMethod::Cubic ||
                       plan.method == DecimateMethod::CubicX ||
                       plan.method == DecimateMethod::CubicY;
    const int used = !interpolated || plan.method == DecimateMethod::Nearest ? 1 : cubic ? 4 : 2;
    for (int k = k0; k < k1; ++k)
        for (int m = 0; m < used; ++m)
            take(axis.index[4 * std::size_t(k) + m]);
}

bool DecimateNearest1u(const DecimatePlan& plan, const DecimateView& view, int i0, int i1, int j0,
                       int j1, const DecimateBlockOut& out)
{
    for (int i = i0; i < i1; ++i) {
        const char* row = BitRow(view, plan.y.index[4 * std::size_t(i)]);
        for (int j = j0; j < j1; ++j)
            PutBit(out, i - i0, j - j0, Bit(row, plan.x.index[4 * std::size_t(j)] - view.bx));
    }
    return true;
}

bool DecimateSuper1u(const DecimatePlan& plan, const DecimateView& view, int i0, int i1, int j0,
                     int j1, const DecimateBlockOut& out)
{
    const DecimateAxis& xa = plan.x;
    const DecimateAxis& ya = plan.y;
    for (int i = i0; i < i1; ++i) {
        for (int j = j0; j < j1; ++j) {
            float count = 0.0f;
            for (int a = ya.first[i]; a < ya.first[i + 1]; ++a) {
                if (ya.weight[a] <= 0.0001f)
                    continue;
                const char* row = BitRow(view, ya.src[a]);
                for (int b = xa.first[j]; b < xa.first[j + 1]; ++b) {
                    if (xa.weight[b] <= 0.0001f)
                        continue;
                    if (Bit(row, xa.src[b] - view.bx))
                        count += ya.weight[a] * xa.weight[b];
                }
            }
            PutBit(out, i - i0, j - j0, std::trunc(count * plan.norm + 0.5f) >= 1.0f);
        }
    }
    return true;
}

#define DECIMATE_KERNEL(name, body)                                                           \
    bool name(const DecimatePlan& plan, const DecimateView& view, int i0, int i1, int j0,     \
              int j1, const DecimateBlockOut& out)                                            \
    {                                                                                         \
        return body(plan, view, i0, i1, j0, j1, out);                                         \
    }

DECIMATE_KERNEL(DecimateNearest8u, Interpolating<uint8_t>)
DECIMATE_KERNEL(DecimateNearest16u, Interpolating<uint16_t>)
DECIMATE_KERNEL(DecimateNearest32f, Interpolating<float>)
DECIMATE_KERNEL(DecimateLinear8u, Interpolating<uint8_t>)
DECIMATE_KERNEL(DecimateLinear16u, Interpolating<uint16_t>)
DECIMATE_KERNEL(DecimateLinear32f, Interpolating<float>)
DECIMATE_KERNEL(DecimateCubic8u, Interpolating<uint8_t>)
DECIMATE_KERNEL(DecimateCubic16u, Interpolating<uint16_t>)
DECIMATE_KERNEL(DecimateCubic32f, Interpolating<float>)
DECIMATE_KERNEL(DecimateSuper8u, Super<uint8_t>)
DECIMATE_KERNEL(DecimateSuper16u, Super<uint16_t>)
DECIMATE_KERNEL(DecimateSuper32f, Super<float>)

DecimateKernel ChooseDecimateKernel(int depth, int method, bool xWhole, bool yWhole,
                                    DecimateMethod* chosen)
{
    // The axis variants (along x only, along y only, both) share one body per
    // depth; the plan's method tells them apart.
    auto axes = [&](DecimateMethod xOnly, DecimateMethod yOnly, DecimateMethod both) {
        return yWhole ? xOnly : xWhole ? yOnly : both;
    };
    if (depth == IPL_DEPTH_1U) {
        *chosen = method == IPL_INTER_SUPER ? DecimateMethod::Super : DecimateMethod::Nearest;
        return method == IPL_INTER_SUPER ? DecimateSuper1u : DecimateNearest1u;
    }
    const int k = depth == IPL_DEPTH_8U ? 0 : depth == IPL_DEPTH_16U ? 1 : 2;
    static const DecimateKernel kNearest[] = {DecimateNearest8u, DecimateNearest16u,
                                              DecimateNearest32f};
    static const DecimateKernel kLinear[] = {DecimateLinear8u, DecimateLinear16u,
                                             DecimateLinear32f};
    static const DecimateKernel kCubic[] = {DecimateCubic8u, DecimateCubic16u, DecimateCubic32f};
    static const DecimateKernel kSuper[] = {DecimateSuper8u, DecimateSuper16u, DecimateSuper32f};
    switch (method) {
    case IPL_INTER_LINEAR:
        *chosen = axes(DecimateMethod::LinearX, DecimateMethod::LinearY, DecimateMethod::Linear);
        return kLinear[k];
    case IPL_INTER_CUBIC:
        *chosen = axes(DecimateMethod::CubicX, DecimateMethod::CubicY, DecimateMethod::Cubic);
        return kCubic[k];
    case IPL_INTER_SUPER: *chosen = DecimateMethod::Super; return kSuper[k];
    default: *chosen = DecimateMethod::Nearest; return kNearest[k];
    }
}
