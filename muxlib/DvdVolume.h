// DVD-Video volume output: turns the DVD pack engine's video object files and
// their hints into a VIDEO_TS folder (patched navigation packs, IFO and BUP files).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// Hint bytes, one string per video object file in pack order.
constexpr uint8_t DvdHintNavigationPack = 'S';
constexpr uint8_t DvdHintPack = 'P';
// Flag bytes that follow a 'P': picture type in bits 0-1, audio in bit 3, unit ends here in bit 7.
constexpr uint8_t DvdHintAudioUnit = 0x08;
constexpr uint8_t DvdHintUnitEnds = 0x80;

// The video object files of one title set with their hints files, in title order.
// The table owns the hints files: it deletes them when it goes.
class DvdVobTable {
public:
    static constexpr size_t Capacity = 9;
    struct Entry {
        std::string vobName;
        std::string hintsName;
    };

    DvdVobTable() = default;
    ~DvdVobTable();
    DvdVobTable(const DvdVobTable&) = delete;
    DvdVobTable& operator=(const DvdVobTable&) = delete;

    // False when the table is full: a title set holds at most nine files.
    bool Add(std::string vobName, std::string hintsName);
    size_t Count() const { return entries_.size(); }
    bool Full() const { return entries_.size() >= Capacity; }
    // Null beyond the count.
    const Entry* At(size_t i) const { return i < entries_.size() ? &entries_[i] : nullptr; }

private:
    std::vector<Entry> entries_;
};

// What the information files say of the title's pictures (from the encoder settings).
struct DvdVideoAttributes {
    int videoFormat = 1;      // 2 NTSC, anything else PAL
    int aspectRatio = 2;      // MPEG-2 aspect code: 2 is 4:3, 3 is 16:9
    int width = 720;
    int height = 576;
    int audioSampleRate = 48000;  // of the title's audio stream
    int audioChannels = 2;
};

// Where the volume goes and whom to tell about progress.
struct DvdVolumeTarget {
    std::string folder;  // the volume folder; a trailing '/' is added when missing
    bool makeFolders = true;  // create the folder, VIDEO_TS and AUDIO_TS, and move the VOBs in
    // Progress: code 3 after each navigation pack (value = the running VOBU number),
    // 4 before VIDEO_TS.IFO, 5 before VTS_01_0.IFO.
    std::function<void(int code, int value)> notify;
    // Why the volume could not be written (also on standard output), with the file
    // that failed when one did.
    std::function<void(const std::string& reason, const std::string& file)> problem;
};

// The PCI and DSI packets of a navigation pack, their contents zero, after its pack
// and system headers (the first 0x26 bytes); the volume writer fills them in.
void PutNavigationPackets(uint8_t* pack);

// Video attribute bytes of the information files; false for a picture size or
// aspect ratio that DVD-Video has no code for.
bool DvdVideoAttributeBytes(const DvdVideoAttributes& a, uint8_t out[2]);
// Why the volume writer refuses these attributes; empty when it takes them.
std::string DvdVideoAttributeProblem(const DvdVideoAttributes& a);

// Writes the volume: checks the attributes, reads every hints file, rewrites the
// navigation packs, writes the information files and only then moves everything
// into VIDEO_TS, where the new title replaces an earlier one as a whole. Returns 0 or a library status (-500 bad input or attributes,
// -506 a file that cannot be written, -507 a file that cannot be read).
int32_t WriteDvdVolume(const DvdVolumeTarget& target, DvdVobTable& table, const DvdVideoAttributes& attributes);

// Puts finished files into a VIDEO_TS folder as one title: each (file, final name in
// `videoFolder`) is first moved beside its final name under a new name, then all are
// renamed into place, and the earlier title's VTS_01_n.VOB files beyond `vobFiles` are
// removed. Until the renames begin nothing in the folder changes; 0 or -506.
int32_t ReplaceDvdTitle(const std::string& videoFolder, const std::vector<std::pair<std::string, std::string>>& files,
                        size_t vobFiles);
