// Checks of the streams whole jobs write, by ffmpeg, ffprobe and the tests' own
// parsers: every byte decodes, each stream keeps its pictures and frames, nothing
// reaches the decoder late, and picture and sound start and end together.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>

#include "tests/support/SystemStreamCheck.h"
#include "tests/support/TestSupport.h"

namespace jobcheck {

using testsupport::RunCommand;

struct Span {
    double start = 1e30;
    double end = -1e30;
};

// First presentation time and end of the last decoded frame of a file's video
// ("v") or audio ("a") stream, as ffprobe reads the packets.
inline Span Times(const std::string& file, const char* kind) {
    std::string out;
    RunCommand(std::string("ffprobe -v error -select_streams ") + kind +
                   " -show_entries packet=pts_time,duration_time -of csv=p=0 '" + file + "'",
               &out);
    Span s;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        double pts = 0, duration = 0;
        if (std::sscanf(line.c_str(), "%lf,%lf", &pts, &duration) < 1) continue;
        s.start = std::min(s.start, pts);
        s.end = std::max(s.end, pts + duration);
    }
    return s;
}

inline std::string Probe(const std::string& file, const char* kind) {
    std::string out;
    RunCommand(std::string("ffprobe -v error -count_frames -select_streams ") + kind +
                   " -show_entries stream=codec_name,sample_rate,nb_read_frames -of default=nw=1:nk=1 '" + file + "'",
               &out);
    return out;
}

// Every byte of a multiplexed MPEG-1 or MPEG-2 stream decodes, each stream keeps
// its pictures and frames and lasts as long as they do, no unit arrives after its
// decoding time, and picture and sound start within one audio frame of each other
// and end together.
inline void ExpectPlayableStream(const std::string& out, const std::string& video, const std::string& audio, int frames,
                                 double pictureSeconds, double audioFrameSeconds) {
    std::string errors;
    RunCommand("ffmpeg -v error -xerror -i '" + out + "' -f null - 2>&1", &errors);
    EXPECT_EQ(errors, "");
    const std::string pictures = Probe(out, "v");
    EXPECT_EQ(pictures.substr(pictures.find('\n') + 1), std::to_string(frames) + "\n");
    EXPECT_EQ(Probe(out, "a"), Probe(audio, "a"));
    EXPECT_EQ(Probe(out, "s").size() + Probe(out, "d").size(), 0u);
    const streamcheck::Report report = streamcheck::CheckSystemStreamFile(out);
    EXPECT_TRUE(report.Ok()) << report.Summary();
    EXPECT_EQ(report.streams.at(0xE0).bytes, std::filesystem::file_size(video));
    EXPECT_EQ(report.streams.at(0xC0).bytes, std::filesystem::file_size(audio));
    const Span v = Times(out, "v"), a = Times(out, "a");
    EXPECT_NEAR(v.end - v.start, frames * pictureSeconds, pictureSeconds);
    EXPECT_LE(std::abs(v.start - a.start), audioFrameSeconds) << v.start << " " << a.start;
    // The sound lasts as long as the pictures, to within its frame and the picture rounding.
    EXPECT_LE(std::abs((v.end - v.start) - (a.end - a.start)), audioFrameSeconds + pictureSeconds)
        << v.end - v.start << " " << a.end - a.start;
}

}  // namespace jobcheck
