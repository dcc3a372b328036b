// MPEG-2 program streams and SVCD streams of the library, checked by ffmpeg and
// ffprobe and by walking their packs.
#include "muxlib/DecoderBuffer.h"
#include "muxlib/MuxLib.h"
#include "muxlib/MuxSession.h"
#include "muxlib/PackWriters.h"
#include "muxlib/ProgramMuxEngine.h"
#include "muxlib/ScanInformation.h"
#include "tests/muxlib/MuxTestUtil.h"
#include "tests/muxlib/StreamLayoutChecks.h"
#include "tests/support/SystemStreamCheck.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <sstream>

using namespace muxtest;
using testsupport::ReadFile;
using testsupport::RunCommand;

namespace {

// Stream ids of a pack's packets, system header and padding included.
std::vector<uint8_t> Ids(const streamcheck::Pack& pack)
{
    std::vector<uint8_t> ids;
    for (const streamcheck::Packet& k : pack.packets) ids.push_back(k.id);
    return ids;
}

class ProgramStreamTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!testsupport::HaveTool("ffmpeg") || !testsupport::HaveTool("ffprobe")) GTEST_SKIP() << "ffmpeg is needed";
    }

    // An MPEG-2 video and a 48 kHz Layer II audio elementary stream.
    void MakeStreams(const std::string& size, const std::string& rate, double seconds, const std::string& videoRate,
                     const std::string& buffer)
    {
        const std::string t = std::to_string(seconds);
        ASSERT_EQ(RunCommand("ffmpeg -v error -y -f lavfi -i testsrc2=size=" + size + ":rate=" + rate + " -t " + t +
                             " -c:v mpeg2video -g 12 -bf 2 -b:v " + videoRate + " -maxrate " + videoRate +
                             " -bufsize " + buffer + " -f mpeg2video '" + video_.string() + "'"),
                  0);
        ASSERT_EQ(RunCommand("ffmpeg -v error -y -f lavfi -i sine=frequency=440:sample_rate=48000 -t " + t +
                             " -ac 2 -c:a mp2 -b:a 224k -f mp2 '" + audio_.string() + "'"),
                  0);
    }

    // Codec name and decoded frame count of the first stream of a kind ("v" or "a").
    static std::string Probe(const std::filesystem::path& file, const std::string& kind)
    {
        std::string out;
        RunCommand("ffprobe -v error -count_frames -select_streams " + kind +
                       " -show_entries stream=codec_name,nb_read_frames -of default=nw=1:nk=1 '" + file.string() + "'",
                   &out);
        return out;
    }

    testsupport::TempDir dir_;
    std::filesystem::path video_ = dir_ / "v.m2v";
    std::filesystem::path audio_ = dir_ / "a.mp2";
    std::filesystem::path out_ = dir_ / "out.mpg";
};

TEST_F(ProgramStreamTest, Mpeg2StreamsPlayWithTheirFramesOnTime)
{
    struct Case {
        const char* size;
        const char* rate;
        int frames;
    };
    for (const Case& c : {Case{"720x576", "25", 100}, Case{"720x480", "30000/1001", 120}}) {
        SCOPED_TRACE(c.size);
        MakeStreams(c.size, c.rate, c.frames == 100 ? 4.0 : 4.004, "6M", "1835008");
        ASSERT_EQ(Probe(audio_, "a").substr(0, 4), "mp2\n");
        // Variable rate with the interleaving by shares; fixed rate with the one by time.
        for (int32_t fixedMode : {0, 1}) {
            SCOPED_TRACE(fixedMode);
            RunResult r = RunSession(MuxTypeMpeg2Program, {{4, fixedMode}, {10, fixedMode + 1}}, video_, audio_, out_);
            ASSERT_EQ(r.run, 0);
            ASSERT_EQ(r.end, 0);
            std::string errors;
            RunCommand("ffmpeg -v error -xerror -i '" + out_.string() + "' -f null - 2>&1", &errors);
            EXPECT_EQ(errors, "");
            EXPECT_EQ(Probe(out_, "v"), "mpeg2video\n" + std::to_string(c.frames) + "\n");
            EXPECT_EQ(Probe(out_, "a"), Probe(audio_, "a"));
            EXPECT_EQ(Probe(out_, "s").size() + Probe(out_, "d").size(), 0u);

            const std::string bytes = ReadFile(out_);
            const streamcheck::Report w = streamcheck::CheckSystemStream(bytes);
            ASSERT_TRUE(w.mpeg2);
            EXPECT_TRUE(w.Ok()) << w.Summary();
            EXPECT_TRUE(w.endsWithEndCode);
            EXPECT_EQ(w.streams.at(0xE0).bytes, std::filesystem::file_size(video_));
            EXPECT_EQ(w.streams.at(0xC0).bytes, std::filesystem::file_size(audio_));
            ASSERT_GE(w.packs.size(), 3u);
            // First pack: system header and padding; every pack 2048 bytes, clocks rising.
            EXPECT_EQ(Ids(w.packs[0]), (std::vector<uint8_t>{0xBB, 0xBE}));
            EXPECT_EQ(Ids(w.packs[1]).at(0), 0xE0);
            EXPECT_EQ(Ids(w.packs[2]).at(0), 0xC0);
            for (size_t i = 1; i < w.packs.size(); ++i) {
                EXPECT_EQ(w.packs[i].offset - w.packs[i - 1].offset, 2048u);
                EXPECT_GT(w.packs[i].scr, w.packs[i - 1].scr);
            }
            EXPECT_EQ(bytes.size() - w.packs.back().offset, 2048u + 4u);
        }
    }
}

}  // namespace

// Low-rate streams with a large buffer: many small pictures wait in the decoder's
// buffer at once, and every unit of both streams still reaches it in time. The three
// videos start differently: ffmpeg's constant-rate stream with a small buffer names a
// first wait of about 0.25 s in its vbv_delay and lets its early pictures arrive just in
// time; with a 224 KiB buffer the wait is longer than the field holds (0xFFFF); the
// variable-rate one names none.
TEST_F(ProgramStreamTest, LowRateStreamsWithALargeBufferAreScheduledOnTime)
{
    ASSERT_EQ(RunCommand("ffmpeg -v error -y -f lavfi -i sine=frequency=440:sample_rate=48000 -t 24 -ac 2 -c:a mp2 "
                         "-b:a 128k -f mp2 '" + audio_.string() + "'"),
              0);
    for (const char* rate : {"-b:v 1M -minrate 1M -maxrate 1M -bufsize 327680",
                             "-b:v 1M -minrate 1M -maxrate 1M -bufsize 1835008", "-b:v 800k -maxrate 1M -bufsize 1835008"}) {
        SCOPED_TRACE(rate);
        ASSERT_EQ(RunCommand("ffmpeg -v error -y -f lavfi -i testsrc2=size=352x288:rate=25 -vf 'setpts=N/25/TB' -t 24 "
                             "-c:v mpeg2video -g 15 -bf 2 " + std::string(rate) + " -f mpeg2video '" + video_.string() + "'"),
                  0);
        for (int32_t fixedMode : {0, 1, 3}) {
            for (int32_t rateMode : {1, 2}) {
                SCOPED_TRACE(fixedMode * 10 + rateMode);
                RunResult r = RunSession(MuxTypeMpeg2Program, {{3, 224}, {4, fixedMode}, {10, rateMode}}, video_, audio_, out_);
                ASSERT_EQ(r.run, 0);
                ASSERT_EQ(r.end, 0);
                const streamcheck::Report w = streamcheck::CheckSystemStreamFile(out_);
                EXPECT_TRUE(w.Ok()) << w.Summary();
                EXPECT_EQ(w.streams.at(0xE0).bytes, std::filesystem::file_size(video_));
                EXPECT_EQ(w.streams.at(0xC0).bytes, std::filesystem::file_size(audio_));
            }
        }
        std::string errors;
        RunCommand("ffmpeg -v error -xerror -i '" + out_.string() + "' -f null - 2>&1", &errors);
        EXPECT_EQ(errors, "");
        EXPECT_EQ(Probe(out_, "v"), "mpeg2video\n600\n");
    }
}

// A variable-rate stream names no rate in its sequence header (code 0x3FFFF): the
// stream is multiplexed at its measured peak rate, not at the code taken as 104 Mbit/s.
TEST_F(ProgramStreamTest, VariableRateVideoMultiplexesAtItsMeasuredPeakRate)
{
    // A calm second, then one of noise at several times the rate.
    ASSERT_EQ(RunCommand("ffmpeg -v error -y -f lavfi -i testsrc2=size=720x576:rate=25 -t 2 -vf "
                         "\"noise=alls=8:allf=t:enable='gte(t,1)'\" -c:v mpeg2video -q:v 4 -g 12 -bf 2 -f mpeg2video '" +
                         video_.string() + "'"),
              0);
    ASSERT_EQ(RunCommand("ffmpeg -v error -y -f lavfi -i sine=frequency=440:sample_rate=48000 -t 2 -ac 2 -c:a mp2 "
                         "-b:a 224k -f mp2 '" + audio_.string() + "'"),
              0);
    const std::string es = ReadFile(video_);
    ASSERT_EQ((uint8_t(es[8]) << 10 | uint8_t(es[9]) << 2 | uint8_t(es[10]) >> 6), 0x3FFFF);
    const double peak = testsupport::PeakPictureBytes(video_, 25);  // bytes over 25 pictures

    RunResult r = RunSession(MuxTypeMpeg2Program, {}, video_, audio_, out_);
    ASSERT_EQ(r.run, 0);
    ASSERT_EQ(r.end, 0);
    std::string errors;
    RunCommand("ffmpeg -v error -xerror -i '" + out_.string() + "' -f null - 2>&1", &errors);
    EXPECT_EQ(errors, "");
    EXPECT_EQ(Probe(out_, "v"), "mpeg2video\n50\n");
    const streamcheck::Report w = streamcheck::CheckSystemStreamFile(out_);
    EXPECT_TRUE(w.Ok()) << w.Summary();
    ASSERT_GE(w.packs.size(), 2u);
    // The peak video rate and the audio with header allowance and margin.
    const double expected = (peak + 28000.0) * (23.0 / 2034 + 1) * 1.085 / 50;
    EXPECT_GT(w.packs[1].muxRate, expected * 0.98);
    EXPECT_LT(w.packs[1].muxRate, expected * 1.05);
    EXPECT_LT(std::filesystem::file_size(out_), (std::filesystem::file_size(video_) + 56000) * 11 / 10);
}

namespace {

const std::string Placeholder = std::string("\0\0\1\xB2", 4) + std::string(14, '\1');

// Inserts our encoder's SVCD user-data placeholder after each I picture's coding extension.
std::string WithPlaceholders(const std::string& es)
{
    std::string out;
    bool iPicture = false;
    size_t start = 0;
    auto unit = [&](size_t from, size_t to) {
        const std::string u = es.substr(from, to - from);
        out += u;
        if (u.size() > 6 && u[3] == 0) iPicture = ((static_cast<uint8_t>(u[5]) >> 3) & 7) == 1;
        if (iPicture && u.size() > 4 && static_cast<uint8_t>(u[3]) == 0xB5 && (static_cast<uint8_t>(u[4]) >> 4) == 8) {
            out += Placeholder;
            iPicture = false;
        }
    };
    for (size_t i = 4; i + 3 <= es.size(); ++i) {
        if (es[i] == 0 && es[i + 1] == 0 && es[i + 2] == 1) {
            unit(start, i);
            start = i;
        }
    }
    unit(start, es.size());
    return out;
}

char* gOutputName = nullptr;
int32_t OutputName(char** name)
{
    *name = gOutputName != nullptr ? strdup(gOutputName) : nullptr;
    return 0;
}

// An SVCD run whose scan information is patched in the cache (inFinish 1) or in
// the closed file (0); it must end without a report.
void RunSvcd(const std::filesystem::path& video, const std::filesystem::path& audio, const std::filesystem::path& out,
             int32_t inFinish)
{
    ClearReported();
    const std::string outName = out.string();
    gOutputName = const_cast<char*>(outName.c_str());
    MuxHandle h = MuxCreateSession();
    ASSERT_EQ(MuxSelectSession(h), 0);
    ASSERT_EQ(MuxBegin(), 0);
    ASSERT_EQ(MuxSetOption(0, MuxTypeSvcd), 0);
    ASSERT_EQ(MuxSetFileNameCallback(OutputName), 0);
    ASSERT_EQ(MuxSetOption(12, inFinish), 0);
    ASSERT_EQ(MuxSetMessageCallback(RecordStatus, 0), 0);
    EXPECT_EQ(MuxRun(video.c_str(), audio.c_str(), out.c_str(), nullptr), 0);
    EXPECT_EQ(MuxEnd(), 0);
    MuxDestroySession(h);
    gOutputName = nullptr;
    EXPECT_TRUE(Reported.empty());
}

}  // namespace

// SVCD streams: whole sectors, an end pack, and in every I picture the sector addresses
// of its neighbours, whichever of the two ways the scan information is patched, from our
// placeholders or from the pre-filled records ffmpeg puts in every picture. In ffmpeg's
// streams an I picture without a record of its own, or whose record a packet boundary
// pushes into a later sector, is still pointed at where it begins.
TEST_F(ProgramStreamTest, SvcdStreamsCarryScanInformationThatAuthoringAccepts)
{
    if (!testsupport::HaveTool("vcdimager")) GTEST_SKIP() << "vcdimager is needed";
    enum Edit { AsMade, RecordRemoved, RecordPushed };
    struct Case {
        const char* size;
        const char* rate;
        int frames;
        bool ffmpegRecords;
        Edit edit;
    };
    for (const Case& c : {Case{"480x576", "25", 200, false, AsMade}, Case{"480x480", "30000/1001", 240, false, AsMade},
                          Case{"480x576", "25", 250, true, AsMade}, Case{"480x576", "25", 250, true, RecordRemoved},
                          Case{"480x576", "25", 250, true, RecordPushed}}) {
        SCOPED_TRACE(c.ffmpegRecords ? "ffmpeg's records, edit " + std::to_string(c.edit) : c.size);
        ASSERT_EQ(RunCommand("ffmpeg -v error -y -f lavfi -i testsrc2=size=" + std::string(c.size) + ":rate=" + c.rate +
                             " -frames:v " + std::to_string(c.frames) + (c.ffmpegRecords ? " -target pal-svcd -an" :
                             " -c:v mpeg2video -g 12 -bf 2 -b:v 2300k -maxrate 2500k -bufsize 1835008") +
                             " -f mpeg2video '" + video_.string() + "'"),
                  0);
        std::string es = c.ffmpegRecords ? ReadFile(video_) : WithPlaceholders(ReadFile(video_));
        if (c.edit != AsMade) {
            // The third I picture's record: removed, or pushed on by 2400 bytes of other user data.
            const std::string picture("\0\0\1\0", 4), record("\0\0\1\xB2\x10\x0E", 6);
            size_t at = 0;
            for (int i = 0; i < 3; ++at) {
                at = es.find(picture, at);
                ASSERT_NE(at, std::string::npos);
                if (((static_cast<uint8_t>(es[at + 5]) >> 3) & 7) == 1) ++i;
            }
            const size_t user = es.find(record, at);
            ASSERT_LT(user, es.find(picture, at + 4));
            if (c.edit == RecordRemoved)
                es.erase(user, 18);
            else
                es.insert(user, std::string("\0\0\1\xB2", 4) + std::string(2400, 'u'));
        }
        testsupport::WriteFile(video_, es);
        size_t iPictures = 0;
        for (size_t at = es.find(std::string("\0\0\1\0", 4)); at != std::string::npos; at = es.find(std::string("\0\0\1\0", 4), at + 1))
            iPictures += ((static_cast<uint8_t>(es[at + 5]) >> 3) & 7) == 1;
        ASSERT_GE(iPictures, 10u);
        ASSERT_EQ(RunCommand("ffmpeg -v error -y -f lavfi -i sine=frequency=440:sample_rate=44100 -t 8 -ac 2 -c:a mp2 "
                             "-b:a 224k -f mp2 '" + audio_.string() + "'"),
                  0);
        for (int32_t inFinish : {1, 0}) {
            SCOPED_TRACE(inFinish);
            ASSERT_NO_FATAL_FAILURE(RunSvcd(video_, audio_, out_, inFinish));

            std::string errors;
            RunCommand("ffmpeg -v error -xerror -i '" + out_.string() + "' -f null - 2>&1", &errors);
            EXPECT_EQ(errors, "");
            EXPECT_EQ(Probe(out_, "v"), "mpeg2video\n" + std::to_string(c.frames) + "\n");
            const std::string bytes = ReadFile(out_);
            ASSERT_EQ(bytes.size() % 2324, 0u);
            EXPECT_EQ(bytes.substr(bytes.size() - 4), std::string("\0\0\1\xB9", 4));
            const streamcheck::Report w = streamcheck::CheckSystemStream(bytes);
            EXPECT_TRUE(w.Ok()) << w.Summary();
            EXPECT_EQ(w.streams.at(0xE0).bytes, es.size());
            EXPECT_EQ(bytes.find(Placeholder), std::string::npos);
            // ffmpeg's records stand in every picture, pre-filled: all are patched.
            EXPECT_EQ(bytes.find(std::string("\x10\x0E\x00\x80\x81\x00\x80\x81\xFF\xFF\xFF", 11)), std::string::npos);

            size_t seen = 0;
            EXPECT_EQ(ScanInformationProblem(bytes, &seen, c.edit != AsMade), "");
            EXPECT_EQ(seen, iPictures);
            if (c.edit != AsMade) continue;  // vcdimager does not know the filler's tag

            std::string authored;
            std::filesystem::remove(dir_ / "image.bin");
            std::filesystem::remove(dir_ / "image.cue");
            RunCommand("cd '" + dir_.path().string() + "' && vcdimager -t svcd -c image.cue -b image.bin '" +
                           out_.string() + "' 2>&1",
                       &authored);
            EXPECT_EQ(authored.find("++ WARN"), std::string::npos) << authored;
            EXPECT_TRUE(std::filesystem::exists(dir_ / "image.bin")) << authored;
        }
    }
}

// Output that should be patched in the written file but cannot be is a failure, reported;
// MPEG-1 video is refused for an SVCD before any output is made, with a reason.
TEST_F(ProgramStreamTest, AnSvcdThatCannotBePatchedOrHoldsMpeg1IsRefused)
{
    MakeStreams("480x576", "25", 1.0, "2300k", "1835008");
    testsupport::WriteFile(video_, WithPlaceholders(ReadFile(video_)));
    ClearReported();
    MuxHandle h = MuxCreateSession();
    ASSERT_EQ(MuxSelectSession(h), 0);
    ASSERT_EQ(MuxBegin(), 0);
    ASSERT_EQ(MuxSetOption(0, MuxTypeSvcd), 0);
    ASSERT_EQ(MuxSetMessageCallback(RecordStatus, 0), 0);
    EXPECT_EQ(MuxRun(video_.c_str(), audio_.c_str(), out_.c_str(), nullptr), 0);
    EXPECT_EQ(MuxEnd(), MuxErrRead);
    EXPECT_EQ(Reported, std::vector<int32_t>{MuxErrRead});

    ASSERT_EQ(RunCommand("ffmpeg -v error -y -f lavfi -i testsrc2=size=352x288:rate=25 -t 1 -c:v mpeg1video "
                         "-f mpeg1video '" + video_.string() + "'"),
              0);
    std::filesystem::remove(out_);
    ClearReported();
    ASSERT_EQ(MuxBegin(), 0);
    ASSERT_EQ(MuxSetOption(0, MuxTypeSvcd), 0);
    EXPECT_EQ(MuxRun(video_.c_str(), audio_.c_str(), out_.c_str(), nullptr), MuxErrVideoStream);
    EXPECT_NE(std::string(MuxLastProblemText()).find("MPEG-1"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(out_));
    MuxEnd();
    MuxDestroySession(h);
}

// Small I pictures whose headers would share a packet: each gets a packet of its own, so that
// every placeholder is recorded and patched, whichever of the two ways, and reads back right.
TEST_F(ProgramStreamTest, EveryPlaceholderOfSmallIPicturesIsPatched)
{
    ASSERT_EQ(RunCommand("ffmpeg -v error -y -f lavfi -i testsrc2=size=64x48:rate=25 -frames:v 50 -c:v mpeg2video "
                         "-g 1 -q:v 12 -f mpeg2video '" + video_.string() + "'"),
              0);
    ASSERT_EQ(RunCommand("ffmpeg -v error -y -f lavfi -i sine=frequency=440:sample_rate=44100 -t 2 -ac 2 -c:a mp2 "
                         "-b:a 224k -f mp2 '" + audio_.string() + "'"),
              0);
    // One group of pictures: only the first sequence and group headers are kept, as a new
    // sequence header would start a packet of its own.
    const std::string intra = ReadFile(video_);
    std::string single;
    size_t start = 0, headers = 0;
    auto unit = [&](size_t from, size_t to) {
        const uint8_t code = static_cast<uint8_t>(intra[from + 3]);
        const bool sequence = code == 0xB3 || code == 0xB8 ||
                              (code == 0xB5 && (static_cast<uint8_t>(intra[from + 4]) >> 4) == 1);
        if (!sequence || headers++ < 3) single += intra.substr(from, to - from);
    };
    for (size_t i = 1; i + 3 <= intra.size(); ++i) {
        if (intra.compare(i, 3, std::string("\0\0\1", 3)) == 0) {
            unit(start, i);
            start = i;
        }
    }
    unit(start, intra.size());
    const std::string es = WithPlaceholders(single);
    testsupport::WriteFile(video_, es);
    ASSERT_LT(es.size() / 50, 1000u);  // two or more pictures to a packet
    for (int32_t inFinish : {1, 0}) {
        SCOPED_TRACE(inFinish);
        ASSERT_NO_FATAL_FAILURE(RunSvcd(video_, audio_, out_, inFinish));
        const std::string bytes = ReadFile(out_);
        EXPECT_EQ(bytes.find(Placeholder), std::string::npos);
        size_t seen = 0;
        EXPECT_EQ(ScanInformationProblem(bytes, &seen), "");
        EXPECT_EQ(seen, 50u);
    }
}

// A recorded I picture whose placeholder is not there to patch, or that lies beyond what the
// scan information can address, is an error, never a success.
TEST(ScanInformationPatch, AnUnpatchablePlaceholderIsAnError)
{
    testsupport::TempDir dir;
    std::string file(3 * 2324, '\0');
    file.replace(100, Placeholder.size(), Placeholder);
    testsupport::WriteFile(dir / "out.mpg", file);
    MuxHandle h = MuxCreateSession();
    UserDataPatchList list;
    ASSERT_EQ(list.RecordScanEntry(*h, 0, 0, 100), 0);
    ASSERT_EQ(list.RecordScanEntry(*h, 2324, 500, 2400), 0);
    EXPECT_EQ(list.PatchScanInformationInFile((dir / "out.mpg").c_str()), MuxErrGeneral);
    EXPECT_EQ(ReadFile(dir / "out.mpg").compare(100, 6, std::string("\0\0\1\xB2\x10\x0E", 6)), 0);
    // An I picture beyond the 99 minutes that two BCD digits address cannot be pointed at.
    EXPECT_EQ(list.RecordIPictureStart(*h, uint64_t{100} * 4500 * 2324, 6000000), MuxErrGeneral);
    EXPECT_NE(h->problemText.find("99 minutes"), std::string::npos) << h->problemText;
    MuxDestroySession(h);
}

// Mux type 5: a transport stream with its tables at least every 0.5 s and a clock
// reference at least every 100 ms, every packet whole.
TEST_F(ProgramStreamTest, TransportStreamsPlayWithTablesAndClockReferences)
{
    MakeStreams("720x576", "25", 4.0, "6M", "1835008");
    RunResult r = RunSession(MuxTypeTransport, {}, video_, audio_, out_);
    ASSERT_EQ(r.run, 0);
    ASSERT_EQ(r.end, 0);
    std::string errors;
    RunCommand("ffmpeg -v error -xerror -i '" + out_.string() + "' -f null - 2>&1", &errors);
    EXPECT_EQ(errors, "");
    // ffprobe lists the streams once in the program and once on their own.
    EXPECT_EQ(Probe(out_, "v"), "mpeg2video\n100\nmpeg2video\n100\n");
    EXPECT_EQ(Probe(out_, "a"), Probe(audio_, "a") + Probe(audio_, "a"));

    const TransportTiming t = CheckTransportTiming(ReadFile(out_));
    EXPECT_EQ(t.error, "");
    EXPECT_GT(t.lastTable, 3.0);
    EXPECT_LE(t.maxTableGap, 0.5);
    EXPECT_LE(t.maxPcrGap, 0.1);
    EXPECT_GT(t.maxPcrGap, 0.0);
}

// Decoder buffers that cannot take a packet, or that the system header cannot name, are
// refused before anything is written: they used to grow a 1 s input into hundreds of MB of padding.
TEST_F(ProgramStreamTest, BuffersThatCannotTakeAPacketAreRefused)
{
    MakeStreams("352x288", "25", 1.0, "1M", "327680");
    const std::vector<std::vector<std::pair<int32_t, int32_t>>> cases = {
        {{3, 0}}, {{3, 1}, {4, 1}}, {{3, 3000000}}, {{3, -4}}, {{2, 0}}, {{2, 3000000}, {4, 1}}};
    for (int32_t type : {MuxTypeMpeg2Program, MuxTypeTransport}) {
        for (const auto& parameters : cases) {
            SCOPED_TRACE(std::to_string(type) + ": " + std::to_string(parameters[0].first) + " = " +
                         std::to_string(parameters[0].second));
            ClearReported();
            std::filesystem::remove(out_);
            RunResult r = RunSession(type, parameters, video_, audio_, out_);
            EXPECT_EQ(r.run, MuxErrParameterValue);
            EXPECT_EQ(Reported, std::vector<int32_t>{MuxErrParameterValue});
            EXPECT_FALSE(std::filesystem::exists(out_) && std::filesystem::file_size(out_) > 0);
        }
    }
}

// The decoder-buffer model every scheduler uses takes a unit out at its decoding
// time; the stream checker must count the same stream as fitting. Two pictures of
// 3000 bytes in a 4096-byte buffer: the second fits once the clock has reached the
// first one's decoding time (9000), not before.
TEST(DecoderBufferRule, AUnitLeavesAtItsDecodingTimeAsTheCheckerCountsIt)
{
    constexpr uint64_t FirstDecode = 9000;
    constexpr uint32_t Picture = 3000, BufferBytes = 4096, MuxRate = 10000;
    auto packet = [](std::vector<uint8_t>& out, uint64_t decode) {
        std::vector<uint8_t> picture(Picture, 0x55);
        picture[0] = picture[1] = 0;
        picture[2] = 1;
        picture[3] = 0;
        packwriters::AppendPesHeader(out, {0xE0, Picture, 2, decode, decode});
        out.insert(out.end(), picture.begin(), picture.end());
    };
    auto pack = [](std::vector<uint8_t>& out, uint64_t clock90) {
        uint8_t header[packwriters::ProgramPackHeaderLength];
        packwriters::WriteProgramPackHeader(header, clock90 * 300, MuxRate);
        out.insert(out.end(), header, header + sizeof header);
    };
    for (const uint64_t secondPack : {8000u, 8999u, 9000u, 9500u}) {
        DecoderBuffer model(60);
        model.AddUnit(FirstDecode, Picture);
        model.Release(secondPack);
        const bool modelFits = model.Occupancy() + Picture <= BufferBytes;
        EXPECT_EQ(modelFits, secondPack >= FirstDecode) << secondPack;
        EXPECT_EQ(model.Continue(1), !modelFits) << "bytes of a unit taken out occupy nothing";

        std::vector<uint8_t> stream;
        pack(stream, 0);
        packwriters::SystemHeaderRecord system;
        system.rateBound = MuxRate;
        system.videoBound = 1;
        system.streams[0] = {0xE0, BufferBytes / 1024};
        system.streamCount = 1;
        uint8_t header[32];
        stream.insert(stream.end(), header, header + packwriters::WriteSystemHeader(system, header));
        packet(stream, FirstDecode);
        pack(stream, secondPack);
        packet(stream, FirstDecode + 3600);
        stream.insert(stream.end(), {0, 0, 1, 0xB9});
        const streamcheck::Report r = streamcheck::CheckSystemStream(std::string(stream.begin(), stream.end()));
        // The checker counts arrival to the last byte, so it may accept a little more.
        if (modelFits || secondPack == 8000) {
            EXPECT_EQ(r.Ok(), modelFits) << secondPack << ": " << r.Summary();
        }
    }
}
