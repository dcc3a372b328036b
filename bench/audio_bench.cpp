// Encodes 16-bit little-endian stereo PCM (a raw file, 44.1 or 48 kHz) into a
// Layer II stream and prints the encoding time.
//
//   audio_bench <input.raw> <rate> <kbit/s> <output.mp2> [s|j|d|m] [plain]
//
// "plain" turns the packed kernels off.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "audio/AudioEncoder.h"
#include "engine/EngineState.h"
#include "settings/EncoderSettings.h"
#include "settings/RunState.h"

namespace {

FILE* Input = nullptr;

int ReadPcm(int16_t* destination, int wanted) {
    return static_cast<int>(std::fread(destination, sizeof(int16_t), static_cast<size_t>(wanted), Input));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s input.raw rate kbit/s output.mp2 [s|j|d|m] [plain]\n", argv[0]);
        return 2;
    }
    Input = std::fopen(argv[1], "rb");
    if (!Input) {
        std::perror(argv[1]);
        return 1;
    }
    EncoderSettings.audioSampleRate = std::atoi(argv[2]);
    const int kbit = std::atoi(argv[3]);
    const char mode = argc > 5 ? argv[5][0] : 's';
    AudioPcmSource = ReadPcm;
    MmxEnabled = argc > 6 && std::string(argv[6]) == "plain" ? 0 : 1;
    RunState = 2;
    const auto start = std::chrono::steady_clock::now();
    const int result = EncodeAudioFile(argv[4], kbit, mode);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fclose(Input);
    if (result != 0) {
        std::fprintf(stderr, "the encoding failed\n");
        return 1;
    }
    std::printf("time %.3f s\n", seconds);
    return 0;
}
