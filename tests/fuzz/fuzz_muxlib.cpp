// Elementary streams into the multiplexer library's run (MPEG-1 system stream,
// Video-CD, MPEG-2 program stream, transport stream, SVCD with either way of
// patching the scan information, DVD title alone, as a volume and as a split
// volume). The first byte picks the type, the rate mode and the decoder buffer
// sizes (mostly the type's own, sometimes values a damaged profile could hold,
// which the library must refuse or still end on); the rest is split into a
// video and an audio stream.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "muxlib/MuxLib.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {
int32_t Quiet(int32_t status, int32_t, int32_t) { return status; }

std::string OutputPath() { return (fuzz::WorkDir() / "out" / "output.mpg").string(); }

// The SVCD patch in the written file asks for the output's name.
int32_t OutputName(char** name) {
    *name = strdup(OutputPath().c_str());
    return 0;
}

struct Kind {
    int32_t type;
    int32_t dvdOutput;  // option 11
};
constexpr Kind Kinds[8] = {
    {MuxTypeMpeg1System, 0},
    {MuxTypeVideoCd, 0},
    {MuxTypeMpeg2Program, 0},
    {MuxTypeSvcd, 0},
    {MuxTypeTransport, 0},
    {MuxTypeDvdVolume, MuxDvdClockFromPictures},
    {MuxTypeDvdVolume, MuxDvdVolume},
    {MuxTypeDvdVolume, MuxDvdSplitVolume | MuxDvdClockFromPictures},
};
// Video buffer (kB) and audio buffer (128-byte units) outside any usable range.
constexpr int32_t OddVideo[4] = {0, 1, 3000000, -4};
constexpr int32_t OddAudio[4] = {32, 0, 1, 3000000};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // The DVD engine's hints files go to the work folder.
    setenv("TMPDIR", fuzz::WorkDir().c_str(), 1);
    const uint8_t mode = data[0];
    auto [video, audio] = fuzz::SplitInput(data + 1, size - 1);
    const auto videoFile = fuzz::WriteInput("input.m1v", video);
    const auto audioFile = fuzz::WriteInput("input.mp2", audio);
    // Every run writes into a fresh folder: a DVD volume is made only where none is.
    std::error_code ec;
    std::filesystem::remove_all(fuzz::WorkDir() / "out", ec);
    std::filesystem::create_directory(fuzz::WorkDir() / "out", ec);
    const Kind kind = Kinds[mode & 7];
    // A volume that is not split is written into the folders the caller made.
    if (kind.dvdOutput == MuxDvdVolume) std::filesystem::create_directory(fuzz::WorkDir() / "out" / "VIDEO_TS", ec);
    MuxHandle session = MuxCreateSession();
    MuxSelectSession(session);
    MuxBegin();
    MuxSetOption(MuxOptionType, kind.type);
    MuxSetParameter(MuxOptionFixedRate, (mode >> 3) & 1);
    if (kind.dvdOutput != 0) MuxSetOption(MuxOptionDvdOutput, kind.dvdOutput);
    if (kind.type == MuxTypeSvcd) {
        MuxSetFileNameCallback(OutputName);
        MuxSetOption(MuxOptionSvcdPatchAtFinish, (mode >> 3) & 1);
    }
    const int odd = mode >> 4;
    if (odd >= 12) {
        MuxSetOption(MuxOptionVideoBufferBound, OddVideo[odd - 12]);
        MuxSetOption(MuxOptionAudioBufferBound, OddAudio[odd - 12]);
    }
    MuxSetMessageCallback(Quiet, 0);
    MuxRun(videoFile.c_str(), audioFile.c_str(), OutputPath().c_str(), nullptr);
    MuxEnd();
    MuxDestroySession(session);
    return 0;
}
