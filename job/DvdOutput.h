// The DVD-Video volume of a DVD job: written whole into a new folder beside the
// output folder's VIDEO_TS, checked there, and only then moved into VIDEO_TS as one
// title. A stopped, failed or refused job leaves the user's folder as it was.
#pragma once

#include <cstdint>
#include <string>

class DvdVolumeOutput {
public:
    DvdVolumeOutput() = default;
    ~DvdVolumeOutput() { Discard(); }
    DvdVolumeOutput(const DvdVolumeOutput&) = delete;
    DvdVolumeOutput& operator=(const DvdVolumeOutput&) = delete;

    // Makes the work folder beside the volume folder of `outputName` (whose folder
    // holds the volume); false, after the message other outputs get, when it cannot,
    // or after one that names the folder and says why, when a VIDEO_TS or AUDIO_TS
    // there cannot take the volume (not a folder, or a VIDEO_TS this process cannot write).
    bool Begin(const std::string& outputName);
    // The output name the multiplexer is given: inside the work folder.
    std::string MultiplexName() const;
    const std::string& Work() const { return work_; }
    // Bytes of the new title's VOB files; -1 when it has none that can be read.
    int64_t TitleBytes() const;
    // Whether the volume folder holds a title already (its files are the user's).
    bool TargetHoldsTitle() const;
    // Moves the new title into VIDEO_TS (made with AUDIO_TS when missing), replacing an
    // earlier title whole; false, after a message, when that fails, leaving no folder it made.
    bool Commit();
    // Removes the work folder and everything in it.
    void Discard();
    // The user chose to keep a title that failed its checks while VIDEO_TS holds an
    // earlier one: the new VIDEO_TS goes beside it as the first free "VIDEO_TS_<n>".
    // Returns that folder's name, "" when nothing could be kept.
    std::string KeepAside();

private:
    std::string outputName_, volume_, work_;
};

// The VIDEO_TS folder a DVD volume job with this output name writes: beside the
// output, or the VIDEO_TS folder the output is named in.
std::string DvdVideoTsFolder(const std::string& outputName);
// Why the volume writer would refuse the settings' pictures; empty when it takes them.
std::string DvdStartRefusal();
// The text that tells where the volume was written: the folders of the settings' output name.
std::string DvdCreatedText();
// Why the output cannot go where its name puts it, found from the folders alone: a
// DVD volume job's (`multiplexed`) VIDEO_TS or AUDIO_TS that cannot take the volume,
// or the file `written` of any other job that names a folder. The text names the
// folder and says why; empty when nothing is in the way.
std::string OutputPlaceRefusal(const std::string& written, bool multiplexed);
// What the Start command asks about before it overwrites: the VIDEO_TS folder of a
// DVD volume job that multiplexes sound, the output file of any other; empty when
// the job refuses its output at Start (OutputPlaceRefusal), which then says why.
std::string OutputToConfirm();
