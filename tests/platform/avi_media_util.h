// Test inputs for the AVI reader: small AVI files made with ffmpeg, and what
// ffmpeg and ffprobe say about them, to compare against.
#pragma once

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace avitest {

inline std::string Quote(const std::filesystem::path& p) { return "'" + p.string() + "'"; }

// Runs ffmpeg with `args` and writes `file`; true on success.
inline bool MakeMedia(const std::filesystem::path& file, const std::string& args) {
    std::string out;
    int rc = testsupport::RunCommand("ffmpeg -nostdin -v error -y " + args + " " + Quote(file) + " 2>&1", &out);
    if (rc != 0) ADD_FAILURE() << "ffmpeg failed: " << args << "\n" << out;
    return rc == 0;
}

// A test-pattern video source of the given size, rate and frame count.
inline std::string VideoSource(int width, int height, const std::string& rate, int frames) {
    return "-f lavfi -i testsrc2=size=" + std::to_string(width) + "x" + std::to_string(height) + ":rate=" +
           rate + ",trim=end_frame=" + std::to_string(frames);
}

// The output of ffmpeg decoding `file` with `args` (e.g. "-f rawvideo -pix_fmt bgr24").
inline std::string FfmpegOutput(const std::filesystem::path& file, const std::string& args) {
    std::string out;
    int rc = testsupport::RunCommand("ffmpeg -nostdin -v error -i " + Quote(file) + " " + args + " - 2>/dev/null", &out);
    if (rc != 0) ADD_FAILURE() << "ffmpeg decoding failed: " << args;
    return out;
}

// One value of ffprobe for the first stream of a kind ("v" or "a"), e.g. "nb_frames".
inline std::string Probe(const std::filesystem::path& file, const std::string& stream, const std::string& entry,
                         const std::string& extra = "") {
    std::string out;
    testsupport::RunCommand("ffprobe -v error " + extra + " -select_streams " + stream + ":0 -show_entries stream=" +
                                entry + " -of default=nw=1:nk=1 " + Quote(file),
                            &out);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

// Top-down packed BGR rows (as ffmpeg writes them) turned into bottom-up rows
// padded to 4 bytes, the layout of a 24-bit DIB.
inline std::vector<uint8_t> BottomUpRows(const uint8_t* topDown, int width, int height) {
    size_t row = (size_t(width) * 3 + 3) / 4 * 4;
    std::vector<uint8_t> out(row * size_t(height), 0);
    for (int y = 0; y < height; ++y)
        std::copy(topDown + size_t(y) * width * 3, topDown + size_t(y + 1) * width * 3,
                  out.data() + size_t(height - 1 - y) * row);
    return out;
}

inline bool HaveFfmpeg() { return testsupport::HaveTool("ffmpeg") && testsupport::HaveTool("ffprobe"); }

}  // namespace avitest
