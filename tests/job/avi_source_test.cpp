// The AVI input as the job and the engine use it: the open's checks and
// messages, the size decision, frames of the encoded size, and the
// information texts.
#include "job/AviSource.h"

#include "engine/Input.h"
#include "platform/Format.h"
#include "platform/MessageBox.h"
#include "platform/ResStrings.h"
#include "settings/EncoderSettings.h"
#include "settings/Report.h"
#include "tests/platform/avi_media_util.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <random>
#include <set>
#include <thread>

using avitest::MakeMedia;
using avitest::VideoSource;
using platform::MbIcon;

namespace {

const char kInterlacedRefusal[] =
    "Vertical resizing of interlaced picture is not supported.\nTemporal reference on fields can not remain "
    "intact\nif fields are scaled vertically.\n\nPlease match vertical frame size of input and output\nvideo.";

class AviSourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!avitest::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
        EncoderSettings = EncoderSettingsRecord();
        EncoderSettings.inputType = 2;
        BatchMode = 0;
        AviProbeActive = 0;
        MessageOwnerWindow = &ownerToken;
    }
    void TearDown() override {
        AviCloseInputFile();
        MessageOwnerWindow = nullptr;
        AviProbeActive = 0;
        BatchMode = 0;
    }
    std::filesystem::path Make(const std::string& name, const std::string& args) {
        auto path = dir / name;
        EXPECT_TRUE(MakeMedia(path, args));
        return path;
    }
    void UseSize(int width, int height) {
        EncoderSettings.horizontalSize = width;
        EncoderSettings.verticalSize = height;
    }
    int ownerToken = 0;
    testsupport::TempDir dir;
    platform::ScriptedMessageBoxes boxes;
};

// Every refusal of the open: its text, caption and owner, and silence in batch mode.
TEST_F(AviSourceTest, OpenRefusalsTellTheUser) {
    auto audioOnly = Make("sound.avi", "-f lavfi -i sine=d=0.2 -c:a pcm_s16le");
    testsupport::WriteFile(dir / "junk.avi", std::string(5000, 'x'));
    struct Case {
        std::string path;
        int id;
        const char* reason;  // for 64375: the file and why it did not open
    };
    const Case cases[] = {
        {"", 64374, ""},
        {(dir / "missing.avi").string(), 64375, "The file does not exist."},
        {(dir / "junk.avi").string(), 64375, "This is not an AVI file."},
        {dir.path().string(), 64375, "This is a folder, not a file."},
        {audioOnly.string(), 64377, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        boxes.Clear();
        EXPECT_EQ(AviOpenInputFile(c.path.c_str()), 0);
        ASSERT_EQ(boxes.Shown().size(), 1u);
        EXPECT_EQ(boxes.Shown()[0].text, *c.reason ? platform::Format(LoadResString(c.id), c.path.c_str(), c.reason)
                                                   : LoadResString(c.id));
        EXPECT_FALSE(boxes.Shown()[0].text.empty());
        EXPECT_EQ(boxes.Shown()[0].caption, "Tessmar Error");
        EXPECT_EQ(boxes.Shown()[0].owner, &ownerToken);
        EXPECT_EQ(AviHasVideoStream(), 0);
        AviCloseInputFile();

        boxes.Clear();
        BatchMode = 2;
        EXPECT_EQ(AviOpenInputFile(c.path.c_str()), 0);
        EXPECT_TRUE(boxes.Shown().empty());
        BatchMode = 0;
        AviCloseInputFile();
    }
    EXPECT_EQ(AviOpenInputFile(nullptr), 0);
}

// Frame rates no conversion can map, down to one frame in 68 years (scale 0x7FFFFFFF, rate 1), are
// refused at the open with a message that names the rate; the rates at the edges open.
TEST_F(AviSourceTest, FrameRatesOutsideTheConvertibleOnesAreRefused) {
    auto path = Make("rate.avi", VideoSource(32, 16, "25", 2) + " -c:v rawvideo -pix_fmt bgr24");
    const std::string original = testsupport::ReadFile(path);
    UseSize(32, 16);
    struct Case {
        uint32_t scale, rate;
        const char* named;  // in the message; nullptr: opens
    };
    for (const Case& c : {Case{0x7FFFFFFF, 1, "4.65661e-10 frames per second (1/2147483647)"},
                          Case{1, 1001, "1001 frames per second (1001/1)"}, Case{100, 1, nullptr},
                          Case{1, 1000, nullptr}}) {
        SCOPED_TRACE(c.scale);
        std::string bytes = original;
        const size_t strh = bytes.find("strh");
        ASSERT_NE(strh, std::string::npos);
        for (int i = 0; i < 4; ++i) {
            bytes[strh + 28 + size_t(i)] = char(c.scale >> (8 * i));
            bytes[strh + 32 + size_t(i)] = char(c.rate >> (8 * i));
        }
        testsupport::WriteFile(path, bytes);
        boxes.Clear();
        EXPECT_EQ(AviOpenInputFile(path.c_str()), c.named ? 0 : 1);
        if (c.named) {
            ASSERT_EQ(boxes.Shown().size(), 1u);
            EXPECT_NE(boxes.Shown()[0].text.find(c.named), std::string::npos) << boxes.Shown()[0].text;
            EXPECT_NE(boxes.Shown()[0].text.find("0.01 to 1000 frames per second"), std::string::npos);
        } else {
            EXPECT_TRUE(boxes.Shown().empty());
        }
        AviCloseInputFile();
    }
}

// Names of any length are accepted.
TEST_F(AviSourceTest, LongPathsOpen) {
    std::filesystem::path deep = dir.path();
    for (int i = 0; i < 6; ++i) deep /= std::string(100, char('a' + i));
    std::filesystem::create_directories(deep);
    auto path = deep / "clip.avi";
    ASSERT_TRUE(MakeMedia(path, VideoSource(32, 16, "25", 2) + " -c:v rawvideo -pix_fmt bgr24"));
    ASSERT_GT(path.string().size(), 600u);
    UseSize(32, 16);
    EXPECT_EQ(AviOpenInputFile(path.string().c_str()), 1);
    EXPECT_TRUE(boxes.Shown().empty());
}

// Sound the encoder cannot use leaves the video usable; the user hears of it only while probing.
TEST_F(AviSourceTest, UnusableSoundIsToldOnlyWhileProbing) {
    struct Case {
        const char* name;
        std::string audio;
        int id;
    };
    const Case cases[] = {
        {"mp2", "-f lavfi -i sine=r=44100:d=0.3 -c:a mp2", 64390},
        {"adpcm", "-f lavfi -i sine=r=22050:d=0.3 -c:a adpcm_ms", 64390},
        {"rate", "-f lavfi -i sine=r=32000:d=0.3 -c:a pcm_s16le", 64390},
        {"channels", "-f lavfi -i sine=r=44100:d=0.3 -c:a pcm_s16le -ac 3", 64390},
    };
    UseSize(32, 16);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto path = Make(std::string(c.name) + ".avi",
                         VideoSource(32, 16, "25", 3) + " " + c.audio + " -c:v rawvideo -pix_fmt bgr24");
        for (int probing : {0, 1}) {
            boxes.Clear();
            AviProbeActive = probing;
            EncoderSettings.inputHasAudio = 1;
            EXPECT_EQ(AviOpenInputFile(path.string().c_str()), 1);
            EXPECT_EQ(EncoderSettings.inputHasAudio, 0);
            EXPECT_EQ(AviInput.AviAudioUsable, 0);
            EXPECT_EQ(AviAudioChannelMode, 0);
            if (probing) {
                ASSERT_EQ(boxes.Shown().size(), 1u);
                EXPECT_EQ(boxes.Shown()[0].text, LoadResString(c.id));
                EXPECT_EQ(boxes.Shown()[0].caption, "Tessmar");
                EXPECT_EQ(boxes.Shown()[0].icon, MbIcon::Information);
                EXPECT_EQ(boxes.Shown()[0].owner, nullptr);
            } else {
                EXPECT_TRUE(boxes.Shown().empty());
            }
            AviCloseInputFile();
        }
    }
}

TEST_F(AviSourceTest, UsableSoundSetsTheAudioSettings) {
    UseSize(32, 16);
    auto stereo = Make("stereo.avi", VideoSource(32, 16, "25", 3) +
                                         " -f lavfi -i sine=r=22050:d=0.3 -c:v rawvideo -c:a pcm_u8 -ac 2");
    auto mono = Make("mono.avi", VideoSource(32, 16, "25", 3) +
                                     " -f lavfi -i sine=r=48000:d=0.3 -c:v rawvideo -c:a pcm_s16le -ac 1");
    for (int preset : {0, 1, 3, 7}) {
        EncoderSettings.audioMode = preset;
        ASSERT_EQ(AviOpenInputFile(stereo.string().c_str()), 1);
        EXPECT_EQ(EncoderSettings.audioMode, preset >= 1 && preset <= 3 ? preset : 1);
        EXPECT_EQ(AviAudioChannelMode, 2);
        EXPECT_EQ(EncoderSettings.audioSampleRate, 22050);
        EXPECT_EQ(EncoderSettings.inputHasAudio, 1);
        EXPECT_EQ(AviInput.AviAudioBits, 8);
        EXPECT_EQ(AviInput.AviAudioBlockAlign, 2);
        EXPECT_EQ(AviHasAudioStream(), 1);
        AviCloseInputFile();
    }
    EncoderSettings.audioMode = 3;
    ASSERT_EQ(AviOpenInputFile(mono.string().c_str()), 1);
    EXPECT_EQ(EncoderSettings.audioMode, 0);
    EXPECT_EQ(AviAudioChannelMode, 1);
    EXPECT_EQ(EncoderSettings.audioSampleRate, 48000);
    EXPECT_EQ(AudioPosition, 0);
    EXPECT_TRUE(boxes.Shown().empty());
}

// The size decision and the refusal to scale interlaced MPEG-2 fields vertically.
TEST_F(AviSourceTest, SizeDecision) {
    auto path = Make("clip.avi", VideoSource(320, 240, "25", 2) + " -c:v rawvideo -pix_fmt bgr24");
    struct Case {
        int width, height, inputType, mode;
    };
    const Case cases[] = {
        {320, 240, 2, 0}, {352, 240, 2, 2}, {352, 288, 2, 1}, {320, 288, 2, 1}, {352, 288, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        UseSize(c.width, c.height);
        EncoderSettings.inputType = c.inputType;
        ASSERT_EQ(AviOpenInputFile(path.string().c_str()), 1);
        EXPECT_EQ(AviInput.AviResizeMode, c.mode);
        EXPECT_EQ(AviInput.AviNeedsConversion, c.mode != 0);
        EXPECT_EQ(AviGetFrameWidth(), 320);
        EXPECT_EQ(AviGetFrameHeight(), 240);
        AviCloseInputFile();
    }
    EncoderSettings.inputType = 2;
    EncoderSettings.mpeg1 = 0;
    EncoderSettings.progressiveSequence = 0;
    EncoderSettings.progressiveFrame = 0;
    UseSize(352, 240);  // the height matches: allowed
    EXPECT_EQ(AviOpenInputFile(path.string().c_str()), 1);
    EXPECT_TRUE(boxes.Shown().empty());
    AviCloseInputFile();
    UseSize(320, 288);
    EXPECT_EQ(AviOpenInputFile(path.string().c_str()), 0);
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].text, kInterlacedRefusal);
    EXPECT_EQ(boxes.Shown()[0].caption, "Tessmar Error");
    AviCloseInputFile();
    EncoderSettings.progressiveFrame = 1;
    EXPECT_EQ(AviOpenInputFile(path.string().c_str()), 1);
}

// Same-size frames are ffmpeg's decoding, bottom-up and padded, whatever the
// order of reading and whichever thread reads.
TEST_F(AviSourceTest, SameSizeFramesAndTheirHeader) {
    const int w = 350, h = 30, frames = 6;
    auto path = Make("clip.avi", VideoSource(w, h, "30000/1001", frames) + " -c:v rawvideo -pix_fmt rgb555le");
    UseSize(w, h);
    ASSERT_EQ(AviOpenInputFile(path.string().c_str()), 1);
    EXPECT_EQ(AviInput.AviSourceBitDepth, 24);
    EXPECT_EQ(AviGetVideoStartFrame(), 0);
    EXPECT_EQ(AviGetVideoEndFrame(), frames);
    EXPECT_EQ(AviGetVideoRate(), 30000);
    EXPECT_EQ(AviGetVideoScale(), 1001);
    std::string ref = avitest::FfmpegOutput(path, "-f rawvideo -pix_fmt bgr24");
    ASSERT_EQ(ref.size(), size_t(w) * h * 3 * frames);
    size_t row = (w * 3 + 3) / 4 * 4;
    auto expected = [&](int n) {
        return avitest::BottomUpRows(reinterpret_cast<const uint8_t*>(ref.data()) + size_t(n) * w * h * 3, w, h);
    };
    platform::AviFrameGetter* getter = AviInput.AviFrameGetter.get();
    for (int n : {0, 1, 2, 3, 4, 5, 3, 0, 5}) {
        uint8_t* dib = AviReadVideoFrame(getter, n);
        ASSERT_TRUE(dib) << n;
        platform::BitmapInfoHeader hd = platform::BitmapInfoHeader::Load(dib);
        EXPECT_EQ(hd.size, 40u);
        EXPECT_EQ(hd.width, w);
        EXPECT_EQ(hd.height, h);
        EXPECT_EQ(hd.bitCount, 24);
        EXPECT_EQ(hd.compression, 0u);
        EXPECT_EQ(hd.sizeImage, row * h);
        EXPECT_EQ(std::memcmp(dib + 40, expected(n).data(), row * h), 0) << "frame " << n;
    }
    EXPECT_EQ(AviReadVideoFrame(getter, frames), nullptr);
    EXPECT_EQ(AviReadVideoFrame(nullptr, 0), nullptr);

    // The engine's input path reads through the open input.
    ASSERT_TRUE(InputAvi.readFrame && InputAvi.isOpen);
    EXPECT_EQ(InputAvi.isOpen(), 1);
    EXPECT_EQ(InputAvi.endFrame(), frames);
    EXPECT_EQ(InputAvi.deinterlacesItself(), 0);
    const uint8_t* viaEngine = InputAvi.readFrame(2);
    ASSERT_TRUE(viaEngine);
    EXPECT_EQ(std::memcmp(viaEngine + 40, expected(2).data(), row * h), 0);

    // A worker's frame lives in its own buffer: the engine thread's stays intact.
    uint8_t* mine = AviReadVideoFrame(getter, 1);
    ASSERT_TRUE(mine);
    uint8_t* theirs = nullptr;
    std::thread worker([&] { theirs = AviReadVideoFrame(getter, 4); });
    worker.join();
    ASSERT_TRUE(theirs);
    EXPECT_NE(mine, theirs);
    EXPECT_EQ(std::memcmp(mine + 40, expected(1).data(), row * h), 0);
    EXPECT_EQ(std::memcmp(theirs + 40, expected(4).data(), row * h), 0);
    EXPECT_TRUE(boxes.Shown().empty());
}

// A frame the converter cannot take: a box on the thread that opened the input,
// only a recorded error on a worker.
TEST_F(AviSourceTest, WorkersRecordProblemsInsteadOfShowingThem) {
    auto path = Make("tiny.avi", VideoSource(4, 4, "25", 2) + " -c:v rawvideo -pix_fmt bgr24");
    UseSize(8, 8);
    ASSERT_EQ(AviOpenInputFile(path.string().c_str()), 1);
    ASSERT_EQ(AviInput.AviResizeMode, 1);
    platform::AviFrameGetter* getter = AviInput.AviFrameGetter.get();
    uint8_t* frame = reinterpret_cast<uint8_t*>(1);
    std::thread worker([&] { frame = AviReadVideoFrame(getter, 0); });
    worker.join();
    EXPECT_EQ(frame, nullptr);
    EXPECT_TRUE(boxes.Shown().empty());
    EXPECT_EQ(AviTakeReadError(), LoadResString(64419));
    EXPECT_EQ(AviTakeReadError(), "");

    EXPECT_EQ(AviReadVideoFrame(getter, 0), nullptr);
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].text, LoadResString(64419));
    EXPECT_EQ(boxes.Shown()[0].caption, "");
    EXPECT_EQ(boxes.Shown()[0].owner, &ownerToken);
}

TEST_F(AviSourceTest, InformationTexts) {
    std::setlocale(LC_ALL, "de_DE.UTF-8");  // decimal points stay points
    struct Case {
        const char* name;
        std::string args;
        int width, height;
        const char* rate;
        const char* count;
        const char* compression;
        const char* duration;
        const char* audioRate;  // null: no audio texts
        const char* bits;
        const char* channels;
    };
    const Case cases[] = {
        {"rgb", VideoSource(350, 38, "25", 7) + " -c:v rawvideo -pix_fmt bgr24", 350, 38, "25.000  f/sec", "7",
         "RGB 24 bit  ", "0:00:00 ", nullptr, nullptr, nullptr},
        {"mjpeg", VideoSource(64, 48, "30000/1001", 95) + " -f lavfi -i sine=r=22050:d=4 -c:v mjpeg -c:a pcm_u8 -ac 1",
         64, 48, "29.970  f/sec", "95", "MJPG   ", "0:00:03 ", "22050 Hz", "8 bits", "Mono"},
        {"mpeg4", VideoSource(96, 64, "25", 10) + " -f lavfi -i sine=r=48000:d=0.4 -c:v mpeg4 -c:a pcm_s16le -ac 2",
         96, 64, "25.000  f/sec", "10", "FMP4   ", "0:00:00 ", "48000 Hz", "16 bits", "Stereo"},
        // A clip of 12.0 seconds plays 12 seconds.
        {"twelve", VideoSource(64, 48, "25", 300) + " -c:v mpeg4", 64, 48, "25.000  f/sec", "300", "FMP4   ",
         "0:00:12 ", nullptr, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto path = Make(std::string(c.name) + ".avi", c.args);
        UseSize(c.width, c.height);
        AviProbeActive = 1;
        ASSERT_EQ(AviOpenInputFile(path.string().c_str()), 1);
        ShowAviInfoUnlessBatch = nullptr;
        AviInfoTexts t;
        AviFormatFileInfo(&t);
        EXPECT_EQ(t.frameSize, std::to_string(c.width) + " x " + std::to_string(c.height));
        EXPECT_EQ(t.frameRate, c.rate);
        EXPECT_EQ(t.frameCount, c.count);
        EXPECT_EQ(t.compression, c.compression);
        EXPECT_EQ(t.duration, c.duration);
        EXPECT_EQ(t.hasAudio, c.audioRate != nullptr);
        if (c.audioRate) {
            EXPECT_EQ(t.audioFormat, "PCM");
            EXPECT_EQ(t.audioRate, c.audioRate);
            EXPECT_EQ(t.audioBits, c.bits);
            EXPECT_EQ(t.audioChannels, c.channels);
        }
        // The ratio: raw picture bytes over the file's bytes less the sound's.
        int frames = std::stoi(c.count);
        double fps = std::stod(std::string(c.rate).substr(0, 6));
        double seconds = (frames - 1) / (fps + 0.0001);
        double sound = 0;
        if (c.audioRate) sound = std::stod(c.audioRate) * std::stoi(c.bits) / 8 * (t.audioChannels == "Stereo" ? 2 : 1) * seconds;
        double fileBytes = double(std::filesystem::file_size(path));
        double raw = double(c.width) * c.height * 3 * (frames - 1);
        double share = fileBytes - sound;
        int ratio = share > 100 && share < raw ? int(raw / share) : 1;
        EXPECT_EQ(t.compressionRatio, platform::Format("%d :1  ", ratio));
        EXPECT_EQ(t.highCompression, ratio > 5);
        AviCloseInputFile();
    }
    std::setlocale(LC_ALL, "C");
}

TEST_F(AviSourceTest, InformationHookSeesTheTexts) {
    auto path = Make("clip.avi", VideoSource(32, 16, "25", 3) + " -c:v ffv1");
    UseSize(32, 16);
    ASSERT_EQ(AviOpenInputFile(path.string().c_str()), 1);
    static AviInfoTexts seen;
    ShowAviInfoUnlessBatch = [](const AviInfoTexts& t) { seen = t; };
    AviInfoTexts t;
    AviFormatFileInfo(&t);
    ShowAviInfoUnlessBatch = nullptr;
    EXPECT_EQ(seen.compression, "FFV1   ");
    EXPECT_EQ(seen.frameCount, "3");
    EXPECT_FALSE(seen.hasAudio);
}

// Damaged files: the open either refuses with one of its messages or gives an
// input whose frames and sound read or fail cleanly (run under the sanitizers).
TEST_F(AviSourceTest, DamagedFilesNeverCrash) {
    auto path = Make("good.avi", VideoSource(48, 32, "25", 5) +
                                     " -f lavfi -i sine=r=22050:d=0.25 -c:v mpeg4 -bf 1 -g 3 -c:a pcm_u8");
    std::string good = testsupport::ReadFile(path);
    std::set<std::string> known;
    for (int id : {64374, 64375, 64376, 64377, 64378, 64381, 64382, 64383, 64384, 64386, 64389, 64390, 64401, 64402,
                   64403, 64405})
        known.insert(LoadResString(id));
    auto bad = dir / "bad.avi";
    for (const char* reason : {"This is not an AVI file.",
                               "The AVI file is damaged, or its contents are of a kind this program does not support."})
        known.insert(platform::Format(LoadResString(64375), bad.c_str(), reason));
    UseSize(48, 32);
    AviProbeActive = 1;
    std::mt19937 rng(5);
    for (int round = 0; round < 50; ++round) {
        std::string bytes = good;
        if (round % 5 == 4) {
            bytes.resize(std::uniform_int_distribution<size_t>(1, bytes.size() - 1)(rng));
        } else {
            for (int i = 0; i <= round % 6; ++i) {
                size_t limit = round % 2 ? bytes.size() : std::min<size_t>(bytes.size(), 2048);
                bytes[std::uniform_int_distribution<size_t>(0, limit - 1)(rng)] =
                    char(std::uniform_int_distribution<int>(0, 255)(rng));
            }
        }
        testsupport::WriteFile(bad, bytes);
        boxes.Clear();
        if (AviOpenInputFile(bad.string().c_str())) {
            for (int n = AviGetVideoStartFrame(); n <= AviGetVideoEndFrame(); ++n)
                AviReadVideoFrame(AviInput.AviFrameGetter.get(), n);
            if (AviInput.AviAudioUsable) {
                AudioPosition = 0;
                AudioEndSample = AviInput.AviAudioLength;
                std::vector<int16_t> block(1152);
                while (AviGetAudioData(block.data(), 1152) == 1152) {
                }
            }
            AviInfoTexts t;
            AviFormatFileInfo(&t);
        }
        for (const auto& box : boxes.Shown()) EXPECT_TRUE(known.count(box.text)) << box.text;
        AviCloseInputFile();
    }
}

}  // namespace
