// Writes the small seed corpus of every fuzz target into <folder>/<target>/:
// files made by the program's own writers, elementary streams of our own
// encoder (SVCD streams with their scan placeholders among them), and tiny
// AVI files, DVD streams and elementary streams made by ffmpeg.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>

#include "app/BatchList.h"
#include "engine/Encoder.h"
#include "engine/EngineState.h"
#include "job/EncoderStartup.h"
#include "job/Profile.h"
#include "platform/Ini.h"
#include "settings/EncoderSettings.h"
#include "settings/JobUtil.h"
#include "settings/Report.h"
#include "settings/RunState.h"
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

// A stream of our own encoder: `frames` pictures of a pattern at the given
// size with the built-in settings and `tweak`; empty when it failed.
std::string OwnStream(const fs::path& work, const std::string& name, int width, int height, int frames,
                      const std::function<void()>& tweak) {
    static bool tablesReady = false;
    if (!tablesReady) {
        InstallJobHooks();
        InitEncoderTables();
        tablesReady = true;
    }
    const size_t bytes = size_t(width) * height * 3 / 2;
    for (int f = 0; f < frames; ++f) {
        std::string picture(bytes, '\0');
        for (size_t i = 0; i < bytes; ++i)
            picture[i] = char((i % size_t(width)) * 3 + (i / size_t(width)) * 2 + size_t(f) * 9);
        Write(work / (name + std::to_string(f) + ".yuv"), picture);
    }
    ReadProfile("+");
    EncoderSettingsRecord& e = EncoderSettings;
    e.inputType = 1;
    e.inputFileName = (work / name).string() + "%d";
    e.horizontalSize = width;
    e.verticalSize = height;
    e.framesToEncode = frames;
    e.firstFrame = 0;
    e.showInput = e.showOutput = 0;
    e.qualityStatisticsMode = 0;
    e.statisticsFileName = "-";
    e.bitRate = 150000.0;  // small seeds
    tweak();
    ReadProfile("-");
    const fs::path output = work / (name + ".es");
    VideoOutputPath = output.string();
    RunState = 2;
    int failed = BeginVideoEncoding();
    for (int i = 0; failed == 0 && i < Sequence.OutputFrameCount; ++i) failed = EncodeNextPicture();
    failed = EndVideoEncoding() != 0 || failed != 0;
    RunState = 1;
    ReadProfile("+");
    if (failed || !fs::exists(output)) {
        std::cerr << "fuzz_make_seeds: our encoder failed on " << name << "\n";
        return std::string();
    }
    return Read(output);
}

// A split input of the targets that read two files: the first one's length
// (four bytes, big-endian), then both.
std::string TwoFiles(const std::string& first, const std::string& second) { return Paired(0, first, second).substr(1); }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: fuzz_make_seeds <folder>\n";
        return 2;
    }
    fuzz::SilenceMessageBoxes();
    setenv("TESSMAR_CONFIG_DIR", fuzz::WorkDir().c_str(), 1);
    const fs::path root = argv[1];
    for (const char* target : {"profile", "ini", "quant_matrix", "batch_list", "avi", "mplex", "muxlib", "resize",
                               "app_profiles", "settings", "batch_runner", "engine"})
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

    // Streams of our own encoder: MPEG-1 and MPEG-2 into both multiplexers, the job's at
    // other pack sizes too (mode bits 1-3), and SVCD streams with their scan placeholders,
    // patched at the engine's finish (mode 3) or in the written file (mode 11).
    const std::string own1 = OwnStream(work, "own1", 64, 48, 5, [] { EncoderSettings.mpeg1 = 1; });
    const std::string own2 = OwnStream(work, "own2", 64, 48, 5, [] { EncoderSettings.mpeg1 = 0; });
    const std::string svcd = OwnStream(work, "svcd", 64, 48, 7, [] {
        EncoderSettings.mpeg1 = 0;
        EncoderSettings.applicationType = kApplicationSvcd;
        EncoderSettings.gopSize = 3;
    });
    const std::string placeholder = std::string("\0\0\1\xB2", 4) + std::string(14, '\1');
    if (svcd.find(placeholder) == std::string::npos) {
        std::cerr << "fuzz_make_seeds: our SVCD stream has no scan placeholder\n";
        ok = false;
    }
    ok = !own1.empty() && !own2.empty() && !svcd.empty() && ok;
    if (streams) {
        const std::string audio = Read(work / "a.mp2");
        for (char mode : {0, 4, 6, 8}) Write(root / "mplex" / ("own-" + std::to_string(int(mode)) + ".es"), Paired(mode, own1, audio));
        Write(root / "muxlib" / "own-m1v.es", Paired(0, own1, audio));
        Write(root / "muxlib" / "own-m2v.es", Paired(2, own2, audio));
        Write(root / "muxlib" / "own-svcd-3.es", Paired(3, svcd, audio));
        Write(root / "muxlib" / "own-svcd-11.es", Paired(11, svcd, audio));
    }
    // DVD titles (modes 5 to 7: alone, as a volume, as a split volume), PAL and NTSC.
    const bool dvd =
        Ffmpeg("-f lavfi -i testsrc=size=352x288:rate=25 -frames:v 13 -c:v mpeg2video -b:v 400k -g 12 -bf 2 "
               "-aspect 4:3",
               work / "pal.m2v") &&
        Ffmpeg("-f lavfi -i testsrc=size=352x240:rate=30000/1001 -frames:v 16 -c:v mpeg2video -b:v 400k -g 15 -bf 2 "
               "-aspect 4:3",
               work / "ntsc.m2v") &&
        Ffmpeg("-f lavfi -i sine=frequency=1000:sample_rate=48000 -t 0.6 -ac 2 -c:a mp2 -b:a 192k -f mp2",
               work / "dvd.mp2");
    if (dvd) {
        const std::string audio = Read(work / "dvd.mp2");
        for (const char* video : {"pal", "ntsc"})
            for (char mode : {5, 6, 7})
                Write(root / "muxlib" / ("dvd-" + std::string(video) + "-" + std::to_string(int(mode)) + ".es"),
                      Paired(mode, Read(work / (std::string(video) + ".m2v")), audio));
    }
    ok = dvd && ok;

    // The window's profile readers: the profiles above, and one whose main block holds
    // marker texts (as file names) and whose MPEG-2 section is missing.
    for (const char* name : {"default.prf", "mpeg2.prf"})
        fs::copy_file(root / "profile" / name, root / "app_profiles" / name, fs::copy_options::overwrite_existing);
    ReadProfile("+");
    EncoderSettings.inputFileName = "ZRNV2_EXT";
    EncoderSettings.statisticsFileName = "ZRN311EXT";
    EncoderSettings.outputFileName = "/out/what?.mpg";
    ok = WriteProfile((root / "app_profiles" / "markers.prf").c_str()) == 0 && ok;
    ReadProfile("+");

    // Settings files: start-up's keys and a recent list, and the remembered folders.
    const fs::path settings = work / "RADUDUR.INI", program = work / "ROZARAZ2.INI";
    platform::IniWriteString("ZRN-MPEG", "Profile Path", work.string(), settings);
    for (const char* key : {"default_show_input", "default_window_size_auto", "preview_device", "NOCHECKSPACE",
                            "N_MRU_FILES", "USE_NEW_MUX"})
        platform::IniWriteInt("ZRN-MPEG", key, 1, settings);
    platform::IniWriteString("Recent File List", "File1", "/p/a.prf", settings);
    platform::IniWriteString("Recent File List", "File2", "relative/R&D.prf", settings);
    platform::IniWriteString("ZRN-MPEG", "Main_Avi_Input_Directory", "/in", program);
    platform::IniWriteString("ZRN-MPEG", "MPEG2 extension", "vob", program);
    Write(root / "settings" / "both.ini", TwoFiles(Read(settings), Read(program)));

    // A batch run: the list above with the default profile.
    Write(root / "batch_runner" / "a.run", TwoFiles(Read(root / "batch_list" / "a.btc"), Read(root / "profile" / "default.prf")));
    BatchListContents mixed = list;
    mixed.entries = {"/clips/one.avi", "*VCD standard", "/clips/two.avi", "@x.avi", "/clips/three.avi"};
    mixed.suppressErrors = 0;
    ok = WriteBatchListFile(work / "mixed.btc", mixed) == BatchListStatus::Ok && ok;
    Write(root / "batch_runner" / "mixed.run", TwoFiles(Read(work / "mixed.btc"), Read(root / "profile" / "mpeg2.prf")));

    // The encoder: profiles (mode 0), one raw picture of 32x32 as "%s.yuv" (1) and as
    // "%s.Y/.U/.V" (2), and AVI files (3; 7 converts the frame rate).
    for (const char* name : {"default.prf", "mpeg2.prf"})
        Write(root / "engine" / (std::string("profile-") + name), std::string(1, '\0') + Read(root / "profile" / name));
    std::string picture;
    for (int i = 0; i < 32 * 32 * 3 / 2; ++i) picture += char(i * 5 + i / 32);
    Write(root / "engine" / "raw-yuv", std::string(1, '\1') + picture);
    Write(root / "engine" / "raw-planes", std::string(1, '\2') + picture);
    for (const char* name : {"sound.avi", "resized.avi"}) {
        Write(root / "engine" / (std::string("avi-") + name), std::string(1, '\3') + Read(root / "avi" / name));
        Write(root / "engine" / (std::string("avi-converted-") + name), std::string(1, '\7') + Read(root / "avi" / name));
    }

    // The resize target reads its values with a data provider: a few patterns to start from.
    Write(root / "resize" / "zeros", std::string(96, '\0'));
    Write(root / "resize" / "ones", std::string(96, '\x01'));
    std::string ramp;
    for (int i = 0; i < 96; ++i) ramp += char(i * 37);
    Write(root / "resize" / "ramp", ramp);
    return ok ? 0 : 1;
}
