// The AVI reader against ffmpeg and ffprobe: counts and rates, decoded frames in
// and out of order, PCM samples, and damaged files.
#include "platform/AviFile.h"
#include "tests/platform/avi_media_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

using namespace platform;
using avitest::MakeMedia;
using avitest::VideoSource;

namespace {

struct Opened {
    std::unique_ptr<AviFile> file;
    AviStream* video = nullptr;
    AviStream* audio = nullptr;
};

Opened OpenOrFail(const std::filesystem::path& path) {
    Opened o;
    EXPECT_EQ(AviFile::Open(path.string(), &o.file), AviStatus::Ok) << path;
    if (o.file) {
        o.video = o.file->GetStream(kAviStreamVideo, 0);
        o.audio = o.file->GetStream(kAviStreamAudio, 0);
    }
    return o;
}

std::vector<uint8_t> PixelsOf(const uint8_t* dib) {
    BitmapInfoHeader h = BitmapInfoHeader::Load(dib);
    return std::vector<uint8_t>(dib + BitmapInfoHeader::kSize, dib + BitmapInfoHeader::kSize + h.PixelBytes());
}

class AviReader : public ::testing::Test {
protected:
    void SetUp() override {
        if (!avitest::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    }
    testsupport::TempDir dir;
};

// Frames of uncompressed and lossless streams are exactly ffmpeg's own RGB
// output, turned bottom-up and padded; the order of reading does not matter.
TEST_F(AviReader, FramesEqualFfmpegRgbInAnyOrder) {
    struct Case {
        const char* name;
        int width, height;
        const char* rate;
        const char* codec;
    };
    const Case cases[] = {
        {"bgr24", 350, 38, "25", "-c:v rawvideo -pix_fmt bgr24"},
        {"rgb555", 350, 38, "30000/1001", "-c:v rawvideo -pix_fmt rgb555le"},
        {"pal8", 62, 20, "25", "-c:v rawvideo -pix_fmt pal8"},
        {"ffv1", 350, 38, "25", "-c:v ffv1"},
        {"huffyuv", 64, 36, "30000/1001", "-c:v huffyuv"},
        {"mjpeg", 96, 64, "25", "-c:v mjpeg -q:v 4"},
        {"mpeg4b", 176, 144, "25", "-c:v mpeg4 -bf 2 -g 5 -q:v 4"},
    };
    const int frames = 7;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto path = dir / (std::string(c.name) + ".avi");
        ASSERT_TRUE(MakeMedia(path, VideoSource(c.width, c.height, c.rate, frames) + " " + c.codec));
        Opened o = OpenOrFail(path);
        ASSERT_TRUE(o.video);
        AviStreamInfo info;
        ASSERT_EQ(o.video->GetInfo(&info), AviStatus::Ok);
        EXPECT_EQ(std::to_string(info.length), avitest::Probe(path, "v", "nb_frames"));
        EXPECT_EQ(std::to_string(info.rate) + "/" + std::to_string(info.scale),
                  avitest::Probe(path, "v", "r_frame_rate"));
        EXPECT_EQ(info.width, c.width);
        EXPECT_EQ(info.height, c.height);
        EXPECT_EQ(o.file->Info().width, c.width);
        EXPECT_EQ(o.file->Info().length, frames);

        std::string ref = avitest::FfmpegOutput(path, "-f rawvideo -pix_fmt bgr24");
        size_t frameBytes = size_t(c.width) * c.height * 3;
        ASSERT_EQ(ref.size(), frameBytes * frames);
        BitmapInfoHeader want = Rgb24Header(c.width, c.height);
        std::unique_ptr<AviFrameGetter> getter;
        ASSERT_EQ(AviFrameGetter::Open(o.video, &want, &getter), AviStatus::Ok);
        std::vector<std::vector<uint8_t>> inOrder;
        for (int n = 0; n < frames; ++n) {
            const uint8_t* dib = getter->GetFrame(n);
            ASSERT_TRUE(dib) << n << ": " << getter->LastError();
            BitmapInfoHeader h = BitmapInfoHeader::Load(dib);
            EXPECT_EQ(h.bitCount, 24);
            EXPECT_EQ(h.width, c.width);
            EXPECT_EQ(h.height, c.height);
            EXPECT_EQ(int64_t(h.sizeImage), h.PixelBytes());
            inOrder.push_back(PixelsOf(dib));
            auto expected = avitest::BottomUpRows(reinterpret_cast<const uint8_t*>(ref.data()) + n * frameBytes,
                                                  c.width, c.height);
            EXPECT_TRUE(inOrder.back() == expected) << "frame " << n;
        }
        const int jumps[] = {5, 2, 6, 0, 3, 3, 1, 6, 4};
        for (int n : jumps) {
            const uint8_t* dib = getter->GetFrame(n);
            ASSERT_TRUE(dib) << n << ": " << getter->LastError();
            EXPECT_TRUE(PixelsOf(dib) == inOrder[size_t(n)]) << "frame " << n << " out of order";
        }
        EXPECT_EQ(getter->GetFrame(frames), nullptr);
        EXPECT_EQ(getter->GetFrame(-1), nullptr);

        // A second getter that starts with a jump sees the same pictures.
        std::unique_ptr<AviFrameGetter> jumper;
        ASSERT_EQ(AviFrameGetter::Open(o.video, &want, &jumper), AviStatus::Ok);
        for (int n : {6, 4, 5}) {
            const uint8_t* dib = jumper->GetFrame(n);
            ASSERT_TRUE(dib) << n;
            EXPECT_TRUE(PixelsOf(dib) == inOrder[size_t(n)]) << "frame " << n << " reached by a jump";
        }
    }
}

// An index that marks every picture of a codec with B pictures as a key picture: the getter
// starts only at pictures the decoder finds to be key pictures, so that every frame, read
// forwards, backwards or by a jump, is ffmpeg's own.
TEST_F(AviReader, AllKeyFlaggedReorderingStreamReadsTheSameInAnyOrder) {
    const int width = 96, height = 64, frames = 30;
    auto path = dir / "allkey.avi";
    ASSERT_TRUE(MakeMedia(path, VideoSource(width, height, "25", frames) + " -c:v mpeg4 -bf 2 -g 12 -q:v 4"));
    const std::string ref = avitest::FfmpegOutput(path, "-f rawvideo -pix_fmt bgr24");
    const size_t frameBytes = size_t(width) * height * 3;
    ASSERT_EQ(ref.size(), frameBytes * frames);
    std::string bytes = testsupport::ReadFile(path);
    const size_t index = bytes.rfind("idx1");
    ASSERT_NE(index, std::string::npos);
    int keys = 0;
    for (size_t e = index + 8; e + 16 <= bytes.size(); e += 16) {
        keys += (bytes[e + 4] & 0x10) != 0;
        bytes[e + 4] = char(bytes[e + 4] | 0x10);
    }
    ASSERT_LT(keys, 5);
    testsupport::WriteFile(path, bytes);

    Opened o = OpenOrFail(path);
    ASSERT_TRUE(o.video);
    BitmapInfoHeader want = Rgb24Header(width, height);
    std::vector<int> order;
    for (int n = frames - 1; n >= 0; --n) order.push_back(n);
    for (int n = 0; n < frames; ++n) order.push_back(n);
    for (int n : {17, 3, 29, 12, 11, 24, 0, 23}) order.push_back(n);
    std::unique_ptr<AviFrameGetter> getter;
    ASSERT_EQ(AviFrameGetter::Open(o.video, &want, &getter), AviStatus::Ok);
    for (int n : order) {
        const uint8_t* dib = getter->GetFrame(n);
        ASSERT_TRUE(dib) << n << ": " << getter->LastError();
        auto expected = avitest::BottomUpRows(reinterpret_cast<const uint8_t*>(ref.data()) + n * frameBytes, width,
                                              height);
        EXPECT_TRUE(PixelsOf(dib) == expected) << "frame " << n;
    }
}

// Without a wanted format the getter hands out the stream's own RGB layout.
TEST_F(AviReader, DefaultFormatKeepsUncompressedLayouts) {
    struct Case {
        const char* name;
        const char* codec;
        int bits;
        uint32_t compression;
    };
    const Case cases[] = {
        {"pal8", "-c:v rawvideo -pix_fmt pal8", 8, kBiRgb},
        {"rgb555", "-c:v rawvideo -pix_fmt rgb555le", 16, kBiRgb},
        {"bgr24", "-c:v rawvideo -pix_fmt bgr24", 24, kBiRgb},
        {"mjpeg", "-c:v mjpeg", 24, kBiRgb},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto path = dir / (std::string(c.name) + ".avi");
        ASSERT_TRUE(MakeMedia(path, VideoSource(34, 20, "25", 2) + " " + c.codec));
        Opened o = OpenOrFail(path);
        ASSERT_TRUE(o.video);
        AviStreamInfo info;
        ASSERT_EQ(o.video->GetInfo(&info), AviStatus::Ok);
        EXPECT_EQ(info.handler == kAviHandlerDib, std::string(c.name) != "mjpeg");
        std::unique_ptr<AviFrameGetter> getter;
        ASSERT_EQ(AviFrameGetter::Open(o.video, nullptr, &getter), AviStatus::Ok);
        const uint8_t* dib = getter->GetFrame(1);
        ASSERT_TRUE(dib);
        BitmapInfoHeader h = BitmapInfoHeader::Load(dib);
        EXPECT_EQ(h.bitCount, c.bits);
        EXPECT_EQ(h.compression, c.compression);
        EXPECT_EQ(h.width, 34);
        EXPECT_EQ(h.height, 20);
        if (c.bits == 8) {
            // Palette entries map the indices to ffmpeg's own RGB.
            std::string ref = avitest::FfmpegOutput(path, "-f rawvideo -pix_fmt bgr24");
            ASSERT_EQ(ref.size(), size_t(34 * 20 * 3 * 2));
            const uint8_t* table = dib + 40;
            const uint8_t* pixels = table + 1024;
            const uint8_t* top = reinterpret_cast<const uint8_t*>(ref.data()) + 34 * 20 * 3;
            for (int x = 0; x < 34; ++x) {
                uint8_t index = pixels[19 * h.RowBytes() + x];  // last row in memory is the top
                EXPECT_EQ(table[4 * index], top[3 * x]);
                EXPECT_EQ(table[4 * index + 2], top[3 * x + 2]);
            }
        }
    }
}

// PCM comes out as the stream holds it, sample-exact at every start and count,
// also across chunk boundaries.
TEST_F(AviReader, PcmSamplesEqualFfmpegAtAnyPosition) {
    struct Case {
        const char* codec;
        int rate, channels, bytesPerSample;
        const char* raw;
    };
    const Case cases[] = {
        {"pcm_s16le", 44100, 2, 2, "s16le"}, {"pcm_s16le", 48000, 1, 2, "s16le"},
        {"pcm_u8", 11025, 1, 1, "u8"},       {"pcm_u8", 22050, 2, 1, "u8"},
    };
    std::mt19937 rng(7);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.codec) + " " + std::to_string(c.rate) + " " + std::to_string(c.channels));
        auto path = dir / "sound.avi";
        std::string audio = "-f lavfi -i aevalsrc='0.8*sin(440*2*PI*t)|0.5*sin(1250*2*PI*t)':s=" +
                            std::to_string(c.rate) + ":d=1.0";
        ASSERT_TRUE(MakeMedia(path, VideoSource(32, 16, "25", 25) + " " + audio + " -c:v rawvideo -c:a " + c.codec +
                                        " -ac " + std::to_string(c.channels)));
        Opened o = OpenOrFail(path);
        ASSERT_TRUE(o.audio);
        AviWaveFormat w;
        ASSERT_TRUE(AviWaveFormat::Load(o.audio->Format().data(), o.audio->Format().size(), &w));
        EXPECT_EQ(w.formatTag, kWaveFormatPcm);
        EXPECT_EQ(w.channels, c.channels);
        EXPECT_EQ(int(w.samplesPerSec), c.rate);
        EXPECT_EQ(w.bitsPerSample, c.bytesPerSample * 8);
        int align = c.channels * c.bytesPerSample;
        EXPECT_EQ(w.blockAlign, align);

        std::string ref = avitest::FfmpegOutput(path, "-map 0:a -f " + std::string(c.raw));
        ASSERT_EQ(o.audio->Length() * align, int64_t(ref.size()));
        std::vector<uint8_t> buf(ref.size() + 64);
        int64_t bytes = 0, samples = 0;
        ASSERT_EQ(o.audio->ReadSamples(0, o.audio->Length(), buf.data(), int64_t(buf.size()), &bytes, &samples),
                  AviStatus::Ok);
        EXPECT_EQ(samples, o.audio->Length());
        EXPECT_EQ(std::memcmp(buf.data(), ref.data(), ref.size()), 0);
        for (int i = 0; i < 20; ++i) {
            int64_t start = std::uniform_int_distribution<int64_t>(0, o.audio->Length() - 1)(rng);
            int64_t count = std::uniform_int_distribution<int64_t>(1, 3000)(rng);
            ASSERT_EQ(o.audio->ReadSamples(start, count, buf.data(), int64_t(buf.size()), &bytes, &samples),
                      AviStatus::Ok);
            int64_t expect = std::min(count, o.audio->Length() - start);
            ASSERT_EQ(samples, expect);
            ASSERT_EQ(bytes, expect * align);
            EXPECT_EQ(std::memcmp(buf.data(), ref.data() + start * align, size_t(bytes)), 0) << start << "+" << count;
        }
        // A buffer too small for the request gets what fits.
        ASSERT_EQ(o.audio->ReadSamples(10, 100, buf.data(), 7 * align + align - 1, &bytes, &samples), AviStatus::Ok);
        EXPECT_EQ(samples, 7);
    }
}

TEST_F(AviReader, FilesThatAreNotAviAreRefused) {
    std::unique_ptr<AviFile> file;
    EXPECT_EQ(AviFile::Open((dir / "missing.avi").string(), &file), AviStatus::FileOpenFailed);
    EXPECT_EQ(AviFile::Open("", &file), AviStatus::BadArgument);
    testsupport::WriteFile(dir / "text.avi", "this is not a video file at all");
    EXPECT_EQ(AviFile::Open((dir / "text.avi").string(), &file), AviStatus::FileOpenFailed);
    auto wav = dir / "sound.avi";
    ASSERT_TRUE(MakeMedia(wav, "-f lavfi -i sine=d=0.2 -f wav"));
    EXPECT_EQ(AviFile::Open(wav.string(), &file), AviStatus::FileOpenFailed);
    EXPECT_FALSE(file);
}

// Truncated and damaged files never crash the reader: whatever opens reads or
// fails cleanly (run under the address sanitizer).
TEST_F(AviReader, DamagedFilesFailCleanly) {
    auto path = dir / "good.avi";
    ASSERT_TRUE(MakeMedia(path, VideoSource(48, 32, "25", 6) +
                                    " -f lavfi -i sine=r=22050:d=0.3 -c:v mpeg4 -bf 1 -g 3 -c:a pcm_s16le"));
    std::string good = testsupport::ReadFile(path);
    std::mt19937 rng(11);
    auto exercise = [&](const std::string& bytes) {
        auto bad = dir / "bad.avi";
        testsupport::WriteFile(bad, bytes);
        std::unique_ptr<AviFile> file;
        if (AviFile::Open(bad.string(), &file) != AviStatus::Ok) return;
        if (AviStream* v = file->GetStream(kAviStreamVideo, 0)) {
            AviStreamInfo info;
            if (v->GetInfo(&info) == AviStatus::Ok) {
                BitmapInfoHeader want = Rgb24Header(info.width, info.height);
                std::unique_ptr<AviFrameGetter> g;
                if (AviFrameGetter::Open(v, &want, &g) == AviStatus::Ok)
                    for (int64_t n : {int64_t(3), int64_t(0), info.length - 1, int64_t(1), info.length}) g->GetFrame(n);
            }
        }
        if (AviStream* a = file->GetStream(kAviStreamAudio, 0)) {
            std::vector<uint8_t> buf(20000);
            int64_t bytes, samples;
            a->ReadSamples(0, 4000, buf.data(), int64_t(buf.size()), &bytes, &samples);
            a->ReadSamples(a->Length() - 10, 4000, buf.data(), int64_t(buf.size()), &bytes, &samples);
        }
    };
    for (size_t cut : {size_t(100), good.size() / 3, good.size() / 2, good.size() - 700, good.size() - 1})
        exercise(good.substr(0, cut));
    for (int round = 0; round < 60; ++round) {
        std::string bytes = good;
        int flips = 1 + round % 8;
        for (int i = 0; i < flips; ++i) {
            // Damage the headers more often than the pictures: they hold the sizes.
            size_t limit = round % 2 ? bytes.size() : std::min<size_t>(bytes.size(), 4096);
            size_t at = std::uniform_int_distribution<size_t>(0, limit - 1)(rng);
            bytes[at] = char(std::uniform_int_distribution<int>(0, 255)(rng));
        }
        exercise(bytes);
    }
    // The index points past the data of a truncated file: those chunks are not counted.
    auto cutPath = dir / "cut.avi";
    testsupport::WriteFile(cutPath, good.substr(0, good.size() * 3 / 4));
    std::unique_ptr<AviFile> file;
    if (AviFile::Open(cutPath.string(), &file) == AviStatus::Ok) {
        if (AviStream* v = file->GetStream(kAviStreamVideo, 0)) {
            EXPECT_LT(v->Length(), 6);
        }
    }
}

}  // namespace


namespace {

// A file cut short has lost its index: the chunks still in it are found by
// reading through them, and they decode as before.
TEST_F(AviReader, CutFileKeepsTheChunksItStillHas) {
    auto path = dir / "whole.avi";
    ASSERT_TRUE(MakeMedia(path, VideoSource(64, 48, "25", 20) + " -c:v rawvideo -pix_fmt bgr24"));
    std::string whole = testsupport::ReadFile(path);
    auto cut = dir / "cut.avi";
    testsupport::WriteFile(cut, whole.substr(0, whole.size() * 3 / 4));
    std::string readable;
    testsupport::RunCommand("ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets "
                            "-of default=nw=1:nk=1 " + avitest::Quote(cut), &readable);
    Opened o = OpenOrFail(cut);
    ASSERT_TRUE(o.video);
    // ffprobe also counts the last chunk, of which only a part is left.
    EXPECT_EQ(o.video->Length(), std::stoi(readable) - 1);
    Opened full = OpenOrFail(path);
    BitmapInfoHeader want = Rgb24Header(64, 48);
    std::unique_ptr<AviFrameGetter> a, b;
    ASSERT_EQ(AviFrameGetter::Open(o.video, &want, &a), AviStatus::Ok);
    ASSERT_EQ(AviFrameGetter::Open(full.video, &want, &b), AviStatus::Ok);
    for (int64_t n = o.video->Length() - 1; n >= 0; n -= 3) {
        const uint8_t* x = a->GetFrame(n);
        ASSERT_TRUE(x) << n << ": " << a->LastError();
        std::vector<uint8_t> px = PixelsOf(x);
        const uint8_t* y = b->GetFrame(n);
        ASSERT_TRUE(y) << n;
        EXPECT_TRUE(px == PixelsOf(y)) << n;
    }
}

}  // namespace
