// The list of profiles in the profile folder that every profile dialog
// shares: descriptions, paths and a summary of each file, in one order.
#pragma once

#include <string>
#include <vector>

// The values of a profile's header the lists show.
struct ProfileSummary {
    int mpeg1 = 0;          // 1 for MPEG-1
    int width = 0, height = 0;
    int frameRate = 0;      // whole-number part: 29 for 29.97
    int unused1 = 0;
    int audioMode = 0;      // 0 mono, 1 stereo, 2 dual channel, 3 joint stereo
    int unused2 = 0;
    int muxBitRate = 0;
    int audioBitRate = 0;   // kbit/s, 0 without audio
    int videoBitRate = 0;   // bit/s, -1 variable, 0 without video
};

inline constexpr size_t kMaxListedProfiles = 1024;

extern std::vector<std::string> ProfileDescriptionList;
extern std::vector<std::string> ProfilePathList;
extern std::vector<ProfileSummary> ProfileSummaryTable;

// Rebuilds the three lists from the "*.prf" files (any case) of
// ProfileDirectory, in file-name order. Files whose header cannot be read are
// left out; a profile without a description is listed under its file name.
// At most kMaxListedProfiles are listed.
void BuildProfileList();

// The index of an exact match, or -1.
int FindProfileDescription(const std::string& description);
int FindProfilePath(const std::string& path);
