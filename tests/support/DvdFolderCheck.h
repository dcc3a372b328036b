// Checks of a DVD-Video folder by independent readers: libdvdread opens it and
// walks its navigation packs, lsdvd lists the title, ffmpeg decodes the VOBs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

struct DvdFolderExpectation {
    size_t vobFiles = 1;
    int frames = 0;               // pictures ffmpeg decodes from the title
    std::string lsdvdLength;      // e.g. "00:00:02.000"
    int sampleRate = 48000;
};

struct DvdFolderFacts {
    std::string title;                  // VTS_01_1.VOB, VTS_01_2.VOB, ... joined
    std::vector<size_t> fileBytes;      // of each VOB
    std::vector<uint32_t> navigationPacks;  // title sector of every navigation pack
};

// Runs every check with EXPECT/ASSERT (call through ASSERT_NO_FATAL_FAILURE);
// `facts` receives what was read.
void CheckDvdFolder(const std::filesystem::path& volume, const DvdFolderExpectation& expected,
                    DvdFolderFacts* facts = nullptr);

// Whether the 2048-byte pack at `at` is a navigation pack (system header and private stream 2).
bool IsDvdNavigationPack(const std::string& bytes, size_t at);

}  // namespace testsupport
