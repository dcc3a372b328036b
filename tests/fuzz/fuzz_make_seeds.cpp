// Writes the small seed corpus of every fuzz target into <folder>/<target>/:
// files made by the program's own writers, and tiny AVI files and elementary
// streams made by ffmpeg.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "app/BatchList.h"
#include "job/EncoderSettings.h"
#include "job/Profile.h"
#include "job/Report.h"
#include "platform/Ini.h"
#include "tests/fuzz/FuzzSupport.h"

namespace fs = std::filesystem;

namespace {

std::string Read(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void Write(const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
}

bool Ffmpeg(const std::string& arguments, const fs::path& output) {
    std::string command = "ffmpeg -nostdin -v error -y " + arguments + " '" + output.string() + "'";
    if (std::system(command.c_str()) != 0 || !fs::exists(output)) {
        std::cerr << "fuzz_make_seeds: failed: " << command << "\n";
        return false;
    }
    return true;
}

// The multiplexer targets' mode byte, the length of the video (four bytes,
// big-endian), the video, the audio.
std::string Paired(char mode, const std::string& video, const std::string& audio) {
    std::string out(5, '\0');
    out[0] = mode;
    for (int i = 0; i < 4; ++i) out[size_t(i) + 1] = char(video.size() >> (24 - 8 * i));
    return out + video + audio;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: fuzz_make_seeds <folder>\n";
        return 2;
    }
    fuzz::SilenceMessageBoxes();
    const fs::path root = argv[1];
    for (const char* target : {"profile", "ini", "quant_matrix", "batch_list", "avi", "mplex", "muxlib", "resize"})
        fs::create_directories(root / target);
    bool ok = true;

    ReadProfile("+");
    ok = WriteProfile((root / "profile" / "default.prf").c_str()) == 0 && ok;
    EncoderSettings.mpeg1 = 0;
    EncoderSettings.profileDescription = "second";
    EncoderSettings.intraMatrixFileName = "intra.mat";
    ok = WriteProfile((root / "profile" / "mpeg2.prf").c_str()) == 0 && ok;
    ReadProfile("+");

    platform::IniWriteString("ZRN-MPEG", "Default_ME_Threads", "4", root / "ini" / "a.ini");
    platform::IniWriteString("Other", "Key", "\"quoted value\"", root / "ini" / "a.ini");
    Write(root / "ini" / "b.ini", "; comment\r\n[ zrn-mpeg ]\r\nneg=-12abc\r\nempty=\r\n");

    std::string matrix;
    for (int i = 0; i < 64; ++i) matrix += std::to_string(8 + i) + (i % 8 == 7 ? "\n" : " ");
    Write(root / "quant_matrix" / "ramp.mat", matrix);
    Write(root / "quant_matrix" / "short.mat", "16 16 16\n");

    BatchListContents list;
    list.outputFolder = "/out";
    list.profileDescription = "VCD standard";
    list.entries = {"*VCD standard", "/clips/one.avi", "/p/job.prf", "@next"};
    ok = WriteBatchListFile(root / "batch_list" / "a.btc", list) == BatchListStatus::Ok && ok;

    ok = Ffmpeg("-f lavfi -i testsrc=size=32x16:rate=25 -f lavfi -i sine=r=44100:d=0.08 -frames:v 2 "
                "-c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le -ac 2 -shortest",
                root / "avi" / "sound.avi") &&
         ok;
    ok = Ffmpeg("-f lavfi -i testsrc=size=48x16:rate=25 -frames:v 2 -c:v rawvideo -pix_fmt bgr24",
                root / "avi" / "resized.avi") &&
         ok;

    const fs::path work = fuzz::WorkDir();
    bool streams = Ffmpeg("-f lavfi -i testsrc=size=64x48:rate=25 -frames:v 4 -c:v mpeg1video -b:v 300k -g 3 -bf 1",
                          work / "small.m1v") &&
                   Ffmpeg("-f lavfi -i testsrc=size=352x288:rate=25 -frames:v 2 -c:v mpeg1video -b:v 1150k "
                          "-minrate 1150k -maxrate 1150k -bufsize 327680",
                          work / "vcd.m1v") &&
                   Ffmpeg("-f lavfi -i testsrc=size=64x48:rate=25 -frames:v 4 -c:v mpeg2video -b:v 600k -g 3 -bf 1",
                          work / "small.m2v") &&
                   Ffmpeg("-f lavfi -i sine=frequency=1000:sample_rate=44100 -t 0.1 -ac 2 -c:a mp2 -b:a 224k -f mp2",
                          work / "a.mp2");
    if (streams) {
        const std::string audio = Read(work / "a.mp2");
        for (const char* video : {"small", "vcd"}) {
            const std::string elementary = Read(work / (std::string(video) + ".m1v"));
            Write(root / "mplex" / (std::string(video) + ".es"), Paired(0, elementary, audio));
            Write(root / "mplex" / (std::string(video) + "-constant.es"), Paired(1, elementary, audio));
            // Mode bits 0-2 pick the system stream (0) or the Video-CD (1).
            Write(root / "muxlib" / (std::string(video) + ".es"), Paired(0, elementary, audio));
            Write(root / "muxlib" / (std::string(video) + "-vcd.es"), Paired(1, elementary, audio));
        }
        // MPEG-2 video into the program stream (2), the SVCD (3) and the transport stream (4).
        const std::string program = Read(work / "small.m2v");
        for (char mode : {2, 3, 4})
            Write(root / "muxlib" / ("small-m2v-" + std::to_string(int(mode)) + ".es"), Paired(mode, program, audio));
    }
    ok = streams && ok;

    // The resize target reads its values with a data provider: a few patterns to start from.
    Write(root / "resize" / "zeros", std::string(96, '\0'));
    Write(root / "resize" / "ones", std::string(96, '\x01'));
    std::string ramp;
    for (int i = 0; i < 96; ++i) ramp += char(i * 37);
    Write(root / "resize" / "ramp", ramp);
    return ok ? 0 : 1;
}
