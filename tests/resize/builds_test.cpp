// The five builds of the shared library: their exports, common SONAME and
// names, and a plain model of each build's zoom arithmetic, written apart
// from the library, that every build must match bit for bit.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "resize/ipl.h"
#include "tests/support/TestSupport.h"

namespace {

enum class Build { W7, A6, M6, P6, PX };
const char* const kBuildNames[] = {"W7", "A6", "M6", "P6", "PX"};

std::string LibraryPath(Build b)
{
    return std::string(TESSMAR_RESIZE_BUILD_DIR) + "/" + kBuildNames[int(b)] + "/libzrnrslib.so";
}

// The exports of one build, loaded on their own.
struct Library {
    explicit Library(Build b)
    {
        handle = dlopen(LibraryPath(b).c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr)
            return;
        create = reinterpret_cast<decltype(create)>(dlsym(handle, "iplCreateImageHeader"));
        deallocate = reinterpret_cast<decltype(deallocate)>(dlsym(handle, "iplDeallocate"));
        status = reinterpret_cast<decltype(status)>(dlsym(handle, "iplGetErrStatus"));
        version = reinterpret_cast<decltype(version)>(dlsym(handle, "iplGetLibVersion"));
        resize = reinterpret_cast<decltype(resize)>(dlsym(handle, "iplResize"));
    }
    void* handle = nullptr;
    decltype(&iplCreateImageHeader) create = nullptr;
    decltype(&iplDeallocate) deallocate = nullptr;
    decltype(&iplGetErrStatus) status = nullptr;
    decltype(&iplGetLibVersion) version = nullptr;
    decltype(&iplResize) resize = nullptr;
};

const Library& LoadedBuild(Build b)
{
    static std::vector<Library> libs = [] {
        std::vector<Library> v;
        for (int k = 0; k < 5; ++k)
            v.emplace_back(Build(k));
        return v;
    }();
    return libs[int(b)];
}

// --- the model ----------------------------------------------------------------

struct Picture {
    int width, height, channels, depth;
    bool plane;
    bool alpha;
    std::vector<double> v;  // values, index (y * width + x) * channels + c
    double At(int x, int y, int c) const { return v[(std::size_t(y) * width + x) * channels + c]; }
};

struct Axis {
    std::vector<int> r;
    std::vector<double> frac;  // double fraction (fixed-point weights, fractions)
};

// Source positions along one axis, from the rules of the zoom.
Axis ModelAxis(int method, int srcSize, int dstSize, int num, int den)
{
    Axis a;
    const bool remainder = std::max(num, den) % std::min(num, den) != 0;
    const double span = double(num) * srcSize / den;
    double step;
    if (method != IPL_INTER_NN || remainder)
        step = span <= 1.0 ? 0.0 : (srcSize - 1) / (span - 1.0);
    else
        step = srcSize / span;
    for (int k = 0; k < dstSize; ++k) {
        double p = 0.0 + k * step;
        int r;
        double f = 0;
        if (method == IPL_INTER_NN) {
            if (remainder)
                p += 0.5;
            r = int(std::floor(p + 0.00001));
        } else if (method == IPL_INTER_LINEAR) {
            r = int(std::floor(p + 0.00001));
            if (r == srcSize - 1) {
                r -= 1;
                f = 1.0;
            } else {
                f = p - r;
            }
        } else {
            r = int(std::floor(p + 0.00001));
            if (r == srcSize - 1) {
                r -= 2;
                f = 2.0;
            } else {
                if (r == 0)
                    r = 1;
                else if (r == srcSize - 2)
                    r -= 1;
                f = p - r;
            }
        }
        a.r.push_back(r);
        a.frac.push_back(f);
    }
    return a;
}

float ModelCubic(float a, float b, float c, float d, float t)
{
    const float u = t + 1.0f;
    const float k2 = u * (t * 0.5f);
    const float k3 = k2 * (t - 1.0f) * 0.33333334f;
    const float d1 = b - a;
    const float d2 = c - 2.0f * b + a;
    const float d3 = d - 3.0f * c + 3.0f * b - a;
    return a + u * d1 + k2 * d2 + k3 * d3;
}

double Clamp(double v, double hi) { return v < 0 ? 0 : v > hi ? hi : v; }

// Destination values of a zoom without regions or masks, as `build` computes them.
std::vector<double> ModelZoom(Build build, const Picture& s, int dw, int dh, int method)
{
    const int n = s.channels - (s.alpha ? 1 : 0);
    const double maxValue = s.depth == 8 ? 255 : 65535;
    if (method == IPL_INTER_CUBIC && (s.width < 4 || s.height < 4))
        method = IPL_INTER_LINEAR;
    const Axis xs = ModelAxis(method, s.width, dw, dw, s.width);
    const Axis ys = ModelAxis(method, s.height, dh, dh, s.height);
    std::vector<double> out(std::size_t(dw) * dh * s.channels, -1.0);
    // Values of a destination row counted by the passes, and whether this
    // build's pass for it rounds its leading groups of four.
    const bool strided = !s.plane && n != s.channels;
    const int rowValues = s.plane ? dw : dw * n;
    const int limit = rowValues - rowValues % 4;
    bool rounds = false;
    if (method == IPL_INTER_CUBIC && s.depth != 32) {
        if (build == Build::A6)
            rounds = true;
        if (build == Build::W7)
            rounds = !(strided && s.depth == 16);
    }
    for (int i = 0; i < dh; ++i) {
        for (int j = 0; j < dw; ++j) {
            for (int c = 0; c < n; ++c) {
                const int r = ys.r[i], k = xs.r[j];
                double value;
                if (method == IPL_INTER_NN) {
                    value = s.At(k, r, c);
                } else if (method == IPL_INTER_LINEAR) {
                    if (s.depth == 32 || build == Build::PX) {
                        const float fx = float(xs.frac[j]), fy = float(ys.frac[i]);
                        float h[2];
                        for (int m = 0; m < 2; ++m) {
                            const float p0 = float(s.At(k, r + m, c)), p1 = float(s.At(k + 1, r + m, c));
                            h[m] = p0 + fx * (p1 - p0);
                        }
                        const float mix = (1.0f - fy) * h[0] + fy * h[1];
                        value = s.depth == 32 ? double(mix)
                                              : Clamp(std::trunc(double(mix) + 0.0000001), maxValue);
                    } else {
                        auto weight = [](double f) {
                            return uint32_t(Clamp(std::floor(f * 16384 + 0.00001), 16384));
                        };
                        const uint32_t w1 = weight(xs.frac[j]), w0 = 16384 - w1;
                        const uint32_t wy = weight(ys.frac[i]);
                        uint32_t h[2];
                        for (int m = 0; m < 2; ++m) {
                            const uint32_t p0 = uint32_t(s.At(k, r + m, c));
                            const uint32_t p1 = uint32_t(s.At(k + 1, r + m, c));
                            if (s.depth == 8)
                                h[m] = (w0 * p0 + w1 * p1) >> 8;
                            else if (build == Build::P6)
                                h[m] = (w0 * p0 + w1 * p1) >> 14;
                            else
                                h[m] = (w0 * (p0 >> 1) + w1 * (p1 >> 1)) >> 14;
                        }
                        const uint32_t mix = h[0] * (16384 - wy) + h[1] * wy;
                        value = s.depth == 8 ? (mix >> 20) : build == Build::P6 ? (mix >> 14) : (mix >> 13);
                    }
                } else {
                    const float fx = float(xs.frac[j]), fy = float(ys.frac[i]);
                    float h[4];
                    for (int m = 0; m < 4; ++m) {
                        const int row = r - 1 + m;
                        h[m] = ModelCubic(float(s.At(k - 1, row, c)), float(s.At(k, row, c)),
                                          float(s.At(k + 1, row, c)), float(s.At(k + 2, row, c)), fx);
                    }
                    const float v = ModelCubic(h[0], h[1], h[2], h[3], fy);
                    const int index = s.plane ? j : j * n + c;
                    if (s.depth == 32)
                        value = v;
                    else if (rounds && index < limit)
                        value = std::nearbyint(Clamp(v + 0.00001f, maxValue));
                    else if (build == Build::PX)
                        value = Clamp(std::trunc(double(v) + 0.0000001), maxValue);
                    else
                        value = Clamp(std::floor(double(v) + 0.00001), maxValue);
                }
                out[(std::size_t(i) * dw + j) * s.channels + c] = value;
            }
        }
    }
    return out;
}

// --- images in a build's own headers -------------------------------------------

struct BuildImage {
    BuildImage(const Library& lib, int channels, int depth, int w, int h, bool plane, bool alpha)
        : lib(lib)
    {
        header = lib.create(channels, alpha ? channels : 0, depth, "RGB", "BGR", plane ? 1 : 0, 0,
                            4, w, h, nullptr, nullptr, nullptr, nullptr);
        bytes.assign(std::size_t(header->imageByteSize), 0x5a);
        header->imageData = bytes.data();
    }
    ~BuildImage() { lib.deallocate(header, IPL_IMAGE_HEADER); }
    char* Value(int x, int y, int c)
    {
        const int size = header->depth / 8;
        if (header->dataOrder == 1)
            return bytes.data() + std::ptrdiff_t(header->widthStep) * (y + c * header->height) + size * x;
        return bytes.data() + std::ptrdiff_t(header->widthStep) * y + size * (x * header->nChannels + c);
    }
    double Get(int x, int y, int c)
    {
        const char* p = Value(x, y, c);
        if (header->depth == 8)
            return uint8_t(*p);
        if (header->depth == 16) {
            uint16_t v;
            std::memcpy(&v, p, 2);
            return v;
        }
        float f;
        std::memcpy(&f, p, 4);
        return f;
    }
    void Set(int x, int y, int c, double v)
    {
        char* p = Value(x, y, c);
        if (header->depth == 8) {
            *p = char(uint8_t(v));
        } else if (header->depth == 16) {
            uint16_t u = uint16_t(v);
            std::memcpy(p, &u, 2);
        } else {
            float f = float(v);
            std::memcpy(p, &f, 4);
        }
    }
    const Library& lib;
    ImageHeader* header;
    std::vector<char> bytes;
};

Picture RandomPicture(std::mt19937& rng, int w, int h, int channels, int depth, bool plane,
                      bool alpha)
{
    Picture p{w, h, channels, depth, plane, alpha, {}};
    p.v.resize(std::size_t(w) * h * channels);
    for (double& v : p.v) {
        if (depth == 8)
            v = double(rng() & 0xff);
        else if (depth == 16)
            v = double(rng() & 0xffff);
        else
            v = double(float(std::uniform_real_distribution<float>(-300.0f, 300.0f)(rng)));
    }
    return p;
}

TEST(ResizeBuilds, EachBuildExportsExactlyTheFiveFunctionsUnderTheCommonSoname)
{
    const std::set<std::string> expected = {"iplCreateImageHeader", "iplDeallocate",
                                            "iplGetErrStatus", "iplGetLibVersion", "iplResize"};
    for (int b = 0; b < 5; ++b) {
        const std::string path = LibraryPath(Build(b));
        std::string out;
        ASSERT_EQ(testsupport::RunCommand("nm -D --defined-only '" + path + "'", &out), 0);
        std::set<std::string> names;
        std::istringstream lines(out);
        std::string addr, kind, name;
        while (lines >> addr >> kind >> name)
            names.insert(name);
        EXPECT_EQ(names, expected) << kBuildNames[b];
        ASSERT_EQ(testsupport::RunCommand("readelf -d '" + path + "'", &out), 0);
        EXPECT_NE(out.find("Library soname: [libzrnrslib.so]"), std::string::npos) << out;
    }
}

TEST(ResizeBuilds, VersionRecordsDifferOnlyInTheLibraryName)
{
    for (int b = 0; b < 5; ++b) {
        const Library& lib = LoadedBuild(Build(b));
        ASSERT_NE(lib.handle, nullptr) << dlerror();
        const IplLibVersion* v = lib.version();
        EXPECT_EQ(v, lib.version());
        EXPECT_EQ(std::string(v->libraryName), std::string("zrnrslib") + kBuildNames[b]);
        EXPECT_EQ(v->majorVersion * 100 + v->minorVersion * 10 + v->buildNumber, 252);
        EXPECT_STREQ(v->versionText, "2.5 Release");
        EXPECT_STREQ(v->buildDateText, "Sep  7 2000");
        EXPECT_EQ(lib.status(), 0);
    }
}

TEST(ResizeBuilds, EveryBuildMatchesItsModelBitForBit)
{
    std::mt19937 rng(11);
    struct Shape { int channels; bool alpha; };
    const Shape shapes[] = {{1, false}, {3, false}, {4, false}, {4, true}};
    int compared = 0;
    for (int b = 0; b < 5; ++b) {
        const Library& lib = LoadedBuild(Build(b));
        ASSERT_NE(lib.handle, nullptr);
        for (int depth : {8, 16, 32}) {
            for (const Shape& shape : shapes) {
                for (bool plane : {false, true}) {
                    if (plane && shape.alpha)
                        continue;
                    for (int method : {IPL_INTER_NN, IPL_INTER_LINEAR, IPL_INTER_CUBIC}) {
                        // Widths whose value counts leave every remainder mod 4,
                        // enlarged and shrunk.
                        for (auto [sw, sh, dw, dh] :
                             {std::array{9, 7, 21, 16}, std::array{11, 9, 22, 19},
                              std::array{30, 25, 13, 10}, std::array{17, 21, 7, 8},
                              std::array{5, 6, 14, 11}, std::array{7, 5, 20, 12}}) {
                            Picture src = RandomPicture(rng, sw, sh, shape.channels, depth, plane,
                                                        shape.alpha);
                            BuildImage s(lib, shape.channels, depth, sw, sh, plane, shape.alpha);
                            BuildImage d(lib, shape.channels, depth, dw, dh, plane, shape.alpha);
                            for (int y = 0; y < sh; ++y)
                                for (int x = 0; x < sw; ++x)
                                    for (int c = 0; c < shape.channels; ++c)
                                        s.Set(x, y, c, src.At(x, y, c));
                            lib.resize(s.header, d.header, dw, sw, dh, sh, method);
                            ASSERT_EQ(lib.status(), 0);
                            const std::vector<double> want = ModelZoom(Build(b), src, dw, dh, method);
                            for (int y = 0; y < dh; ++y)
                                for (int x = 0; x < dw; ++x)
                                    for (int c = 0; c < shape.channels; ++c) {
                                        const double m = want[(std::size_t(y) * dw + x) * shape.channels + c];
                                        if (m < 0 && c == shape.channels - 1 && shape.alpha)
                                            continue;  // alpha: untouched
                                        const double got = d.Get(x, y, c);
                                        ASSERT_EQ(got, m)
                                            << kBuildNames[b] << " depth " << depth << " ch "
                                            << shape.channels << (plane ? " plane" : "")
                                            << " method " << method << " " << sw << "->" << dw
                                            << " at " << x << "," << y << "," << c;
                                        ++compared;
                                    }
                        }
                    }
                }
            }
        }
    }
    EXPECT_GT(compared, 100000);
}

TEST(ResizeBuilds, BuildsDifferOnlyWhereTheirArithmeticDoes)
{
    std::mt19937 rng(12);
    auto run = [&](Build b, int depth, int method, const Picture& src, int dw, int dh) {
        const Library& lib = LoadedBuild(b);
        BuildImage s(lib, 3, depth, src.width, src.height, false, false);
        BuildImage d(lib, 3, depth, dw, dh, false, false);
        for (int y = 0; y < src.height; ++y)
            for (int x = 0; x < src.width; ++x)
                for (int c = 0; c < 3; ++c)
                    s.Set(x, y, c, src.At(x, y, c));
        lib.resize(s.header, d.header, dw, src.width, dh, src.height, method);
        return d.bytes;
    };
    for (int depth : {8, 16, 32}) {
        Picture src = RandomPicture(rng, 64, 48, 3, depth, false, false);
        for (int method : {IPL_INTER_NN, IPL_INTER_SUPER}) {
            const int dw = method == IPL_INTER_SUPER ? 27 : 101, dh = method == IPL_INTER_SUPER ? 20 : 77;
            const auto w7 = run(Build::W7, depth, method, src, dw, dh);
            for (Build b : {Build::A6, Build::M6, Build::P6, Build::PX})
                EXPECT_EQ(run(b, depth, method, src, dw, dh), w7) << depth << " " << method;
        }
        if (depth == 32) {
            for (Build b : {Build::A6, Build::M6, Build::P6, Build::PX})
                EXPECT_EQ(run(b, depth, IPL_INTER_CUBIC, src, 101, 77),
                          run(Build::W7, depth, IPL_INTER_CUBIC, src, 101, 77));
        }
    }
    Picture src = RandomPicture(rng, 64, 48, 3, 8, false, false);
    EXPECT_NE(run(Build::W7, 8, IPL_INTER_CUBIC, src, 101, 77),
              run(Build::M6, 8, IPL_INTER_CUBIC, src, 101, 77));
    EXPECT_NE(run(Build::W7, 8, IPL_INTER_LINEAR, src, 101, 77),
              run(Build::PX, 8, IPL_INTER_LINEAR, src, 101, 77));
}

TEST(ResizeBuilds, SixteenThreadsResizingAtOnceGiveTheBytesOfOne)
{
    for (int b = 0; b < 5; ++b) {
        const Library& lib = LoadedBuild(Build(b));
        std::mt19937 rng(13);
        BuildImage src(lib, 3, 8, 360, 240, false, false);
        for (char& c : src.bytes)
            c = char(rng());
        auto resize = [&](int method, std::vector<char>* out) {
            const bool shrink = method == IPL_INTER_SUPER;
            BuildImage dst(lib, 3, 8, shrink ? 160 : 352, shrink ? 100 : 288, false, false);
            lib.resize(src.header, dst.header, dst.header->width, 360, dst.header->height, 240, method);
            *out = dst.bytes;
        };
        for (int method : {IPL_INTER_CUBIC, IPL_INTER_SUPER}) {
            std::vector<char> single;
            resize(method, &single);
            std::vector<std::vector<char>> results(16);
            std::vector<std::thread> threads;
            for (int t = 0; t < 16; ++t)
                threads.emplace_back(resize, method, &results[t]);
            for (std::thread& t : threads)
                t.join();
            for (const auto& r : results)
                ASSERT_EQ(r, single) << kBuildNames[b] << " " << method;
        }
    }
}


// --- refusals: a raise ends the process with exit code 1 -----------------------

// In a death test's child: the build whose stored status the exit reports.
const Library* exitingBuild = nullptr;
void PrintStatusAtExit() { std::fprintf(stderr, "status %d\n", exitingBuild->status()); }

// Runs `call` in the child so that its end prints the build's status; a call
// that returns ends the child with code 0.
template <typename Call>
void RunReportingStatus(const Library& lib, Call&& call)
{
    exitingBuild = &lib;
    std::atexit(PrintStatusAtExit);
    call();
    std::exit(0);
}

TEST(ResizeBuildsDeathTest, HeadersWhoseSizeDoesNotFitAreRefusedAlikeInEveryBuild)
{
    struct Case {
        const char* what;
        int channels, depth, order, width, height;
    };
    const Case cases[] = {
        // A plane-order size that wrapped to a small positive value.
        {"plane size", 16, IPL_DEPTH_8U, IPL_DATA_ORDER_PLANE, 1073709060, 1073774589},
        {"row step", 1 << 30, IPL_DEPTH_32F, IPL_DATA_ORDER_PIXEL, 1 << 30, 1},
        {"row of bits", 1, IPL_DEPTH_32F, IPL_DATA_ORDER_PIXEL, INT_MAX, 1},
        {"image size", 3, IPL_DEPTH_8U, IPL_DATA_ORDER_PIXEL, 65536, 65536},
        {"planes", 3, IPL_DEPTH_16U, IPL_DATA_ORDER_PLANE, 32768, 32768},
    };
    for (int b = 0; b < 5; ++b) {
        const Library& lib = LoadedBuild(Build(b));
        ASSERT_NE(lib.handle, nullptr);
        for (const Case& c : cases) {
            EXPECT_EXIT(RunReportingStatus(lib,
                                           [&] {
                                               ImageRoi roi{1, 0, 0, 4, 4};
                                               ImageHeader* src = lib.create(
                                                   c.channels, 0, c.depth, "GRAY", "G", c.order,
                                                   IPL_ORIGIN_TL, IPL_ALIGN_4BYTES, c.width,
                                                   c.height, &roi, nullptr, nullptr, nullptr);
                                               if (src == nullptr)
                                                   return;
                                               // What a caller trusting the header does next.
                                               std::vector<char> data(
                                                   std::size_t(src->imageByteSize));
                                               src->imageData = data.data();
                                               BuildImage dst(lib, 1, c.depth, 4, 4, false, false);
                                               lib.resize(src, dst.header, 4, 4, 4, 4,
                                                          IPL_INTER_NN);
                                           }),
                        testing::ExitedWithCode(1), "^status -10\n")
                << kBuildNames[b] << " " << c.what;
        }
    }
}

TEST(ResizeBuildsDeathTest, RatiosThatScalePastAPixelCountAreRefusedAlikeInEveryBuild)
{
    for (int b = 0; b < 5; ++b) {
        const Library& lib = LoadedBuild(Build(b));
        ASSERT_NE(lib.handle, nullptr);
        BuildImage src(lib, 1, 8, 4, 4, false, false);
        BuildImage dst(lib, 1, 8, 8, 8, false, false);
        for (int method : {IPL_INTER_NN, IPL_INTER_LINEAR, IPL_INTER_CUBIC}) {
            EXPECT_EXIT(RunReportingStatus(
                            lib, [&] { lib.resize(src.header, dst.header, INT_MAX, 1, 2, 1, method); }),
                        testing::ExitedWithCode(1), "^status -5\n")
                << kBuildNames[b] << " " << method;
            EXPECT_EXIT(RunReportingStatus(
                            lib, [&] { lib.resize(src.header, dst.header, 2, 1, INT_MAX, 3, method); }),
                        testing::ExitedWithCode(1), "^status -5\n")
                << kBuildNames[b] << " " << method;
        }
        // The largest ratio whose scaled region still counts is done.
        EXPECT_EXIT(RunReportingStatus(
                        lib, [&] { lib.resize(src.header, dst.header, INT_MAX / 4 - 1, 1, 2, 1, IPL_INTER_NN); }),
                    testing::ExitedWithCode(0), "^status 0\n")
            << kBuildNames[b];
    }
}

// A caller's layout whose rows start at odd addresses: every `pad` bytes more
// per row, the data one byte past an aligned address.
struct OddLayout {
    OddLayout(BuildImage& image, int pad)
        : header(image.header), rowBytes(image.header->widthStep)
    {
        const int planes = header->dataOrder == 1 ? header->nChannels : 1;
        oddStep = rowBytes + pad;
        const int rows = header->height * planes;
        bytes.assign(std::size_t(oddStep) * rows + 8, 0x5a);
        for (int r = 0; r < rows; ++r)
            std::memcpy(bytes.data() + 1 + std::ptrdiff_t(oddStep) * r,
                        image.bytes.data() + std::ptrdiff_t(rowBytes) * r, std::size_t(rowBytes));
        header->widthStep = oddStep;
        header->imageByteSize = oddStep * rows;
        header->imageData = bytes.data() + 1;
    }
    // The rows back in the image's own aligned layout.
    std::vector<char> Packed() const
    {
        const int planes = header->dataOrder == 1 ? header->nChannels : 1;
        std::vector<char> out(std::size_t(rowBytes) * header->height * planes);
        for (int r = 0; r < header->height * planes; ++r)
            std::memcpy(out.data() + std::ptrdiff_t(rowBytes) * r,
                        bytes.data() + 1 + std::ptrdiff_t(oddStep) * r, std::size_t(rowBytes));
        return out;
    }
    ImageHeader* header;
    int rowBytes, oddStep;
    std::vector<char> bytes;
};

TEST(ResizeBuilds, RowsAtOddAddressesGiveTheBytesOfAlignedRows)
{
    std::mt19937 rng(14);
    int compared = 0;
    for (int b = 0; b < 5; ++b) {
        const Library& lib = LoadedBuild(Build(b));
        ASSERT_NE(lib.handle, nullptr);
        for (int depth : {16, 32}) {
            for (bool plane : {false, true}) {
                for (int method : {IPL_INTER_NN, IPL_INTER_LINEAR, IPL_INTER_CUBIC, IPL_INTER_SUPER}) {
                    const bool shrink = method == IPL_INTER_SUPER;
                    const int sw = 23, sh = 17, dw = shrink ? 10 : 37, dh = shrink ? 7 : 29;
                    Picture pic = RandomPicture(rng, sw, sh, 3, depth, plane, false);
                    auto source = [&] {
                        auto image = std::make_unique<BuildImage>(lib, 3, depth, sw, sh, plane, false);
                        for (int y = 0; y < sh; ++y)
                            for (int x = 0; x < sw; ++x)
                                for (int c = 0; c < 3; ++c)
                                    image->Set(x, y, c, pic.At(x, y, c));
                        return image;
                    };
                    auto alignedSrc = source(), oddSrc = source();
                    BuildImage alignedDst(lib, 3, depth, dw, dh, plane, false);
                    BuildImage oddDst(lib, 3, depth, dw, dh, plane, false);
                    lib.resize(alignedSrc->header, alignedDst.header, dw, sw, dh, sh, method);
                    // Row pads that are odd, and a multiple of 2 but not of 4.
                    OddLayout s(*oddSrc, depth == 16 ? 1 : 3), d(oddDst, depth == 16 ? 3 : 2);
                    lib.resize(s.header, d.header, dw, sw, dh, sh, method);
                    ASSERT_EQ(lib.status(), 0);
                    EXPECT_EQ(d.Packed(), alignedDst.bytes)
                        << kBuildNames[b] << " depth " << depth << (plane ? " plane" : "")
                        << " method " << method;
                    ++compared;
                }
            }
        }
    }
    EXPECT_EQ(compared, 80);
}

}  // namespace
