// The streams of a few fixed profiles, in every performance mode, are pinned
// by their hashes: a faster kernel, another thread count or the plain kernels
// instead of the SIMD ones must give the very same bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "engine/Deinterlace.h"
#include "engine/EngineState.h"
#include "engine/MotionEstimation.h"
#include "engine/PreviewConvert.h"
#include "engine/Threads.h"
#include "platform/MessageBox.h"
#include "settings/EncoderSettings.h"
#include "settings/Preview.h"
#include "tests/engine/encode_util.h"
#include "tests/support/TestSupport.h"

using namespace encodetest;
using testsupport::HaveTool;
using testsupport::RunCommand;
using testsupport::TempDir;

namespace {

uint64_t Fnv1a(const std::string& bytes) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
    return h;
}

struct Profile {
    const char* name;
    int mpeg1, width, height, frames, interlace;
    double bitRate;
    uint64_t golden[5];  // by performance mode 1..5
};

// TESSMAR_PRINT_GOLDEN=1 prints the hashes of today's streams.
const Profile kProfiles[] = {
    {"mpeg1_cif", 1, 352, 288, 7, 0, 1150000.0,
     {0x24449a716774ee9aull, 0x9012ba173cac0aa2ull, 0x3581af8f1367af51ull, 0xd542b94a1cd7c23dull, 0x3600bffcf9865ae6ull}},
    {"mpeg2_576_progressive", 0, 720, 576, 7, 0, 6000000.0,
     {0xc7bb686671a921b4ull, 0x16ddcd32e64f244cull, 0xabd007c7d195e35cull, 0x54b70d65c3ccfea4ull, 0xb640abb566c419e0ull}},
    {"mpeg2_576_interlaced", 0, 720, 576, 7, 1, 6000000.0,
     {0x302d15fe3d2e36d9ull, 0xb2597b3228d27ba4ull, 0x9a353fa662d24531ull, 0xda2fb27712a7693eull, 0x24e627db68daa2e4ull}},
};

// The settings every stream of this file shares.
void UseGoldenProfile(int mpeg1, double bitRate, int interlace) {
    EncoderSettings.mpeg1 = mpeg1;
    EncoderSettings.streamType = mpeg1 ? 1 : 2;
    EncoderSettings.ipDistance = 3;
    EncoderSettings.gopSize = 12;
    EncoderSettings.bitRate = EncoderSettings.maxBitRate = bitRate;
    EncoderSettings.interlaceMode = interlace;
    EncoderSettings.constrainedParameters = 0;
    EncoderSettings.mpegLevel = 8;
    EncoderSettings.videoFormat = 1;
}

struct Variant {
    int simd, avx2, threads, flags;
};
// The first is the reference; the others must give its bytes. (AVX2 is used
// only where the processor has it.)
const Variant kVariants[] = {{1, 1, 1, 0}, {0, 0, 1, 0}, {1, 0, 4, 1}, {1, 1, 16, 1}, {0, 0, 16, 1}};

class GoldenStreams : public ::testing::TestWithParam<Profile> {};

TEST_P(GoldenStreams, EveryModeGivesItsPinnedBytesWithAnyKernelsAndThreads) {
    if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    const Profile p = GetParam();
    const bool print = std::getenv("TESSMAR_PRINT_GOLDEN") != nullptr;
    TempDir dir;
    platform::ScriptedMessageBoxes boxes;
    const std::string pattern = MakeRawFrames(dir.path(), p.width, p.height, p.frames, "testsrc2");
    std::string hashes;
    for (int mode = 1; mode <= 5; ++mode) {
        std::string reference;
        for (const Variant& v : kVariants) {
            const auto out = dir / "out.mpv";
            EncodeResult r = Encode(pattern, out, p.width, p.height, p.frames, [&] {
                UseGoldenProfile(p.mpeg1, p.bitRate, p.interlace);
                EncoderSettings.performanceMode = mode;
                EncoderSettings.disableMmx = v.simd ? 0 : 1;
                MmxEnabled = v.simd;
                UseAvx2Kernels = v.avx2;
                MeThreadCount = v.threads;
                ThreadReadFlag = ThreadDrawFlag = ThreadEncodeFlag = ThreadTablesFlag = v.flags;
            });
            ASSERT_EQ(r.begin, 0) << "mode " << mode;
            ASSERT_EQ(r.pictures, p.frames) << "mode " << mode;
            if (reference.empty()) {
                reference = r.bytes;
                char text[32];
                std::snprintf(text, sizeof text, "0x%016llxull", static_cast<unsigned long long>(Fnv1a(r.bytes)));
                hashes += (mode > 1 ? ", " : "") + std::string(text);
                if (!print) {
                    EXPECT_EQ(Fnv1a(r.bytes), p.golden[mode - 1]) << "mode " << mode;
                }
            } else {
                EXPECT_TRUE(r.bytes == reference)
                    << "mode " << mode << " simd " << v.simd << " avx2 " << v.avx2 << " threads " << v.threads
                    << " flags " << v.flags;
            }
        }
    }
    if (print) std::printf("%s: {%s}\n", p.name, hashes.c_str());
    MmxEnabled = 1;
    UseAvx2Kernels = 1;
    MeThreadCount = 1;
    ThreadReadFlag = ThreadDrawFlag = ThreadEncodeFlag = ThreadTablesFlag = 0;
}

INSTANTIATE_TEST_SUITE_P(Profiles, GoldenStreams, ::testing::ValuesIn(kProfiles),
                         [](const ::testing::TestParamInfo<Profile>& info) { return std::string(info.param.name); });

// AVI input made by ffmpeg, its frame rate converted (40 frames at 24/s give
// 42 pictures, B pictures 37 and 38 both showing frame 36) or its 3:2 film
// cadence woven back.
struct AviInput {
    const char *name, *source;
    int frameRateCode, film;
};
const AviInput kAviInputs[] = {
    {"rate_24_to_25", "testsrc2=size=320x240:rate=24:duration=1.667", 3, 0},
    {"rate_30000_1001_to_25", "testsrc2=size=320x240:rate=30000/1001:duration=1.2", 3, 0},
    {"film_cadence", "testsrc2=size=320x240:rate=24000/1001:duration=1.3,telecine=pattern=23", 4, 1},
};

class GoldenAviStreams : public ::testing::TestWithParam<AviInput> {};

// Previews on or off, the stream is the same; the output previews drawn are
// the same whoever draws them, the last one the last reconstruction.
TEST_P(GoldenAviStreams, SameBytesWithAnyKernelsThreadsAndPreviews) {
    if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    const AviInput in = GetParam();
    TempDir dir;
    platform::ScriptedMessageBoxes boxes;
    const auto avi = dir / "in.avi";
    ASSERT_EQ(RunCommand(std::string("ffmpeg -v error -f lavfi -i ") + in.source + " -c:v rawvideo -pix_fmt bgr24 '" +
                         avi.string() + "'"),
              0);
    static std::vector<std::string> drawn[2];  // by pane
    const PreviewWindowHooks saved = PreviewWindows;
    PreviewWindows.acquireSurface = [](int pane) -> void* { return &drawn[pane]; };
    PreviewWindows.blit = [](void* pane, const PreviewBlit& b) {
        static_cast<std::vector<std::string>*>(pane)->emplace_back(reinterpret_cast<const char*>(b.pixels),
                                                                   static_cast<size_t>(b.imageBytes));
    };
    std::string reference, lastRecon(320 * 240 * 3, '\0');
    std::vector<std::string> referenceDrawn;
    for (int simd = 1; simd >= 0; --simd)
        for (int threads : {1, 4, 16})
            for (int previews = 0; previews < 2; ++previews) {
                drawn[0].clear();
                drawn[1].clear();
                EncodeResult r = Encode(
                    avi.string(), dir / "out.m2v", 320, 240, 1,
                    [&] {
                        UseGoldenProfile(0, 3000000.0, 0);
                        EncoderSettings.inputType = 2;
                        EncoderSettings.frameRateCode = in.frameRateCode;
                        EncoderSettings.keepOriginalDuration = !in.film;
                        EncoderSettings.deinterlace = EncoderSettings.inverseTelecine = in.film;
                        EncoderSettings.smartDeinterlaceMode = in.film ? DEINTERLACE_FILM : 0;
                        EncoderSettings.showInput = EncoderSettings.showOutput = previews;
                        EncoderSettings.disableMmx = !simd;
                        MmxEnabled = simd;
                        MeThreadCount = threads;
                        ThreadReadFlag = ThreadDrawFlag = ThreadEncodeFlag = ThreadTablesFlag = threads > 1;
                    },
                    [&] {  // the last picture in display order is the last anchor
                        std::lock_guard<std::mutex> lock(PreviewPictures.OutputPreviewLock);
                        int done = 0;
                        ConvertYuvToRgbPreview(Sequence.NextAnchorRecon, reinterpret_cast<uint8_t*>(lastRecon.data()),
                                               &done);
                    });
                const std::string label = "simd " + std::to_string(simd) + " threads " + std::to_string(threads) +
                                          " previews " + std::to_string(previews);
                ASSERT_EQ(r.begin, 0) << label;
                EXPECT_EQ(r.failedPictures, 0) << label;
                EXPECT_GT(r.pictures, 20) << label;
                if (reference.empty()) {
                    EXPECT_EQ(DecodeErrors(dir / "out.m2v"), "");
                    reference = r.bytes;
                }
                EXPECT_TRUE(r.bytes == reference) << label;
                if (!previews) continue;
                EXPECT_FALSE(drawn[kInputPane].empty()) << label;
                ASSERT_FALSE(drawn[kOutputPane].empty()) << label;
                EXPECT_TRUE(drawn[kOutputPane].back() == lastRecon) << label;
                if (referenceDrawn.empty()) referenceDrawn = drawn[kOutputPane];
                EXPECT_TRUE(drawn[kOutputPane] == referenceDrawn) << label;
            }
    PreviewWindows = saved;
    for (const auto& b : boxes.Shown())
        if (b.buttons != platform::MbButtons::YesNo) ADD_FAILURE() << b.text;
    MmxEnabled = 1;
    MeThreadCount = 1;
    ThreadReadFlag = ThreadDrawFlag = ThreadEncodeFlag = ThreadTablesFlag = 0;
}

INSTANTIATE_TEST_SUITE_P(Inputs, GoldenAviStreams, ::testing::ValuesIn(kAviInputs),
                         [](const ::testing::TestParamInfo<AviInput>& info) { return std::string(info.param.name); });

}  // namespace

// Variable rate with activity masking moves the quantiser inside a row: the
// bytes are the same on one thread and on many.
TEST(GoldenStreams, QuantiserMovingWithinRowsGivesTheSameBytesOnAnyThreads) {
    if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    TempDir dir;
    platform::ScriptedMessageBoxes boxes;
    const int frames = 7;
    const std::string pattern = MakeRawFrames(dir.path(), 720, 576, frames, "testsrc2");
    std::string bytes[2];
    for (int threaded = 0; threaded < 2; ++threaded) {
        EncodeResult r = Encode(pattern, dir / "out.mpv", 720, 576, frames, [&] {
            UseGoldenProfile(0, 6000000.0, 0);
            EncoderSettings.rateControl = kRateVariable;
            EncoderSettings.vbrMode = kVbrAverage;
            EncoderSettings.averageBitRate = 3000000.0;
            MeThreadCount = threaded ? 16 : 1;
            ThreadReadFlag = ThreadDrawFlag = ThreadEncodeFlag = ThreadTablesFlag = threaded;
        });
        ASSERT_EQ(r.begin, 0);
        ASSERT_EQ(r.pictures, frames);
        bytes[threaded] = r.bytes;
    }
    EXPECT_TRUE(bytes[0] == bytes[1]);
    MeThreadCount = 1;
    ThreadReadFlag = ThreadDrawFlag = ThreadEncodeFlag = ThreadTablesFlag = 0;
}
