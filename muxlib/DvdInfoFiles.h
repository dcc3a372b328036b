// The DVD-Video information files (VIDEO_TS.IFO and VTS_01_0.IFO, each with its
// BUP copy) of a one-title volume, built in memory and written safely.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct DvdTitleLayout {
    uint8_t videoAttributes[2] = {};
    int audioSampleRate = 48000;
    int audioChannels = 2;
    uint32_t frameRate = 25;  // 25 or 30
    uint32_t ticksPerFrame = 3600;
    uint64_t titlePacks = 0;       // sectors of all title VOB files
    uint64_t playbackTicks = 0;    // 90 kHz
    std::vector<uint32_t> vobuStarts;  // title sector of every navigation pack
};

// Hours, minutes, seconds and frames in binary-coded decimal, the rate in the top bits.
void DvdBcdTime(uint64_t ticks, uint32_t frameRate, uint32_t ticksPerFrame, uint8_t out[4]);

std::vector<uint8_t> BuildVideoManagerFile(const DvdTitleLayout& layout);
std::vector<uint8_t> BuildTitleSetFile(const DvdTitleLayout& layout);

// Writes each information file and its backup under temporary names beside the
// final ones; Commit renames them all; whatever was not committed is removed.
class DvdInfoFileSet {
public:
    DvdInfoFileSet() = default;
    ~DvdInfoFileSet();
    DvdInfoFileSet(const DvdInfoFileSet&) = delete;
    DvdInfoFileSet& operator=(const DvdInfoFileSet&) = delete;

    // base without extension: writes base.IFO and base.BUP; 0 or -506.
    int32_t Prepare(const std::string& base, const std::vector<uint8_t>& bytes);
    // Moves each finished file beside its final name (relative to `folder`, which ends
    // in '/') under a new name, for Commit to rename; 0 or -506.
    int32_t MoveBeside(const std::string& folder, const std::vector<std::pair<std::string, std::string>>& moves);
    int32_t Commit();
    // After a failure: the file that could not be written or moved, and why.
    const std::string& FailedFile() const { return failedFile_; }
    const std::string& Reason() const { return reason_; }

private:
    int32_t Fail(const std::string& file, const std::string& reason);
    struct Pending {
        std::string temporary;
        std::string final;
    };
    std::vector<Pending> pending_;
    std::string failedFile_, reason_;
};
