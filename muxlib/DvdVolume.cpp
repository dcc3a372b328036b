// DVD volume writer: reads back the video object files with their hints, rewrites
// every navigation pack (PCI and DSI) with the final addresses and times, writes the
// information files and moves the whole title into VIDEO_TS. The pack scanner, the
// VOBU timing, the search pointers, the navigation-pack layout and the file moves
// have files of their own (see DvdTitle.h).
#include "muxlib/DvdVolume.h"

#include "muxlib/DvdInfoFiles.h"
#include "muxlib/DvdTitle.h"
#include "muxlib/MuxLib.h"
#include "platform/System.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

using namespace dvdtitle;

namespace {

// Only one volume is written at a time: the hints are taken over whole while it runs.
std::atomic<bool> hintsInUse{false};

struct HintsClaim {
    bool owned = false;
    bool Claim()
    {
        bool expected = false;
        owned = hintsInUse.compare_exchange_strong(expected, true);
        return owned;
    }
    ~HintsClaim()
    {
        if (owned) hintsInUse = false;
    }
};

struct MadeFolders {
    std::vector<std::string> paths;
    bool keep = false;
    ~MadeFolders()
    {
        if (keep) return;
        for (auto it = paths.rbegin(); it != paths.rend(); ++it) ::rmdir(it->c_str());
    }
};

int32_t PatchFile(const DvdVobTable::Entry& e, size_t fileIndex, const Title& t, const DvdVolumeTarget& target,
                  uint32_t& vobusDone)
{
    Fd vob;
    vob.fd = ::open(e.vobName.c_str(), O_WRONLY | O_CLOEXEC);
    if (vob.fd < 0) {
        Problem(target, e.vobName, "Could not open MPEG file %s", e.vobName.c_str());
        return MuxErrRead;
    }
    uint64_t firstPack = 0;
    for (size_t i = 0; i < fileIndex; ++i) firstPack += t.filePacks[i];
    uint8_t pack[PackBytes];
    for (size_t k = 0; k < t.vobus.size(); ++k) {
        if (t.vobus[k].file != fileIndex) continue;
        BuildNavigationPack(t, k, pack);
        const off_t at = static_cast<off_t>((t.vobus[k].lbn - firstPack) * PackBytes);
        if (::pwrite(vob.fd, pack, PackBytes, at) != static_cast<ssize_t>(PackBytes)) {
            Problem(target, e.vobName, "Could not write %s", e.vobName.c_str());
            return MuxErrWrite;
        }
        ++vobusDone;
        if (target.notify) target.notify(3, static_cast<int>(vobusDone));
    }
    if (vob.Close() == 0) return 0;
    Problem(target, e.vobName, "Could not write %s", e.vobName.c_str());
    return MuxErrWrite;
}

}  // namespace

namespace dvdtitle {

void Problem(const DvdVolumeTarget& target, const std::string& file, const char* format, ...)
{
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::printf("%s\n", text);
    if (target.problem) target.problem(text, file);
}

}  // namespace dvdtitle

std::string DvdVideoAttributeProblem(const DvdVideoAttributes& a)
{
    uint8_t bytes[2];
    if (DvdVideoAttributeBytes(a, bytes)) return std::string();
    char text[160];
    std::snprintf(text, sizeof text, "Picture size %dx%d or aspect ratio code %d is not allowed on DVD-Video", a.width,
                  a.height, a.aspectRatio);
    return text;
}

DvdVobTable::~DvdVobTable()
{
    for (const Entry& e : entries_) {
        if (e.hintsName.empty()) continue;
        std::remove(e.hintsName.c_str());
        platform::ForgetWorkPath(e.hintsName);
    }
}

bool DvdVobTable::Add(std::string vobName, std::string hintsName)
{
    if (Full()) return false;
    entries_.push_back({std::move(vobName), std::move(hintsName)});
    return true;
}

int32_t WriteDvdVolume(const DvdVolumeTarget& target, DvdVobTable& table, const DvdVideoAttributes& attributes)
{
    uint8_t videoBytes[2];
    if (!DvdVideoAttributeBytes(attributes, videoBytes)) {
        Problem(target, "", "%s", DvdVideoAttributeProblem(attributes).c_str());
        return MuxErrGeneral;
    }
    if (table.Count() == 0) {
        Problem(target, "", "The DVD title holds no video object files");
        return MuxErrGeneral;
    }
    HintsClaim claim;
    if (!claim.Claim()) {
        Problem(target, "", "File mapping already exists for dvd_hints_mapping");
        return MuxErrGeneral;
    }

    std::string folder = target.folder.empty() ? std::string("./") : target.folder;
    if (folder.back() != '/') folder += '/';
    const std::string videoFolder = folder + "VIDEO_TS/";
    Title title;
    if (const int32_t status = ReadTitle(target, table, title); status != 0) return status;
    if (title.vobus.empty() || title.pictures.empty()) {
        Problem(target, "", "The DVD title holds no pictures");
        return MuxErrGeneral;
    }
    TimeVobus(title);
    // A player finds its way through the title by the VOBUs' start times (the search
    // pointers are found by them too): they must rise from each VOBU to the next.
    for (size_t k = 1; k < title.vobus.size(); ++k) {
        if (title.vobus[k].startPtm > title.vobus[k - 1].startPtm) continue;
        Problem(target, "",
                "The video's presentation times go back: the video object unit at %.3f s comes after the one at "
                "%.3f s. A DVD title needs them in order",
                static_cast<double>(title.vobus[k].startPtm) / 90000.0,
                static_cast<double>(title.vobus[k - 1].startPtm) / 90000.0);
        return MuxErrGeneral;
    }

    // The folders are made once the title is known to be good; those made here go
    // again (when empty) if the volume is not written.
    MadeFolders made;
    if (target.makeFolders) {
        for (const std::string& path : {folder, folder + "VIDEO_TS", folder + "AUDIO_TS"}) {
            bool madeNow = false;
            const int result = MakeFolder(path, &madeNow);
            if (madeNow) made.paths.push_back(path);
            if (result == 0) continue;
            Problem(target, folder, "Could not create the DVD folders in %s", folder.c_str());
            return MuxErrWrite;
        }
    }

    uint32_t vobusDone = 0;
    for (size_t i = 0; i < table.Count(); ++i) {
        const int32_t status = PatchFile(*table.At(i), i, title, target, vobusDone);
        if (status != 0) return status;
    }

    DvdTitleLayout layout;
    layout.videoAttributes[0] = videoBytes[0];
    layout.videoAttributes[1] = videoBytes[1];
    layout.audioSampleRate = attributes.audioSampleRate;
    layout.audioChannels = attributes.audioChannels;
    layout.frameRate = title.frameRate;
    layout.ticksPerFrame = title.ticksPerFrame;
    layout.titlePacks = title.packs;
    layout.playbackTicks = title.vobus.back().endPtm - title.vobus.front().startPtm;
    for (const Vobu& v : title.vobus) layout.vobuStarts.push_back(static_cast<uint32_t>(v.lbn));

    // The information files are written beside their final names first; nothing is
    // moved into VIDEO_TS before every file has been written.
    DvdInfoFileSet files;
    if (target.notify) target.notify(4, 0);
    int32_t status = files.Prepare(videoFolder + "VIDEO_TS", BuildVideoManagerFile(layout));
    if (status == 0) {
        if (target.notify) target.notify(5, 0);
        status = files.Prepare(videoFolder + "VTS_01_0", BuildTitleSetFile(layout));
    }
    if (status == 0) {
        if (!target.makeFolders) {
            status = files.Commit();
        } else {
            status = MoveTitleIntoPlace(files, videoFolder, table);
        }
    }
    if (status != 0 && target.problem) target.problem(files.Reason(), files.FailedFile());
    made.keep = status == 0;
    return status;
}
