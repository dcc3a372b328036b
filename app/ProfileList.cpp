// Reading the profile folder into the shared profile list.
#include "app/ProfileList.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "app/AppSettings.h"
#include "app/FrameLogic.h"
#include "job/Profile.h"
#include "settings/EncoderSettings.h"

namespace fs = std::filesystem;

std::vector<std::string> ProfileDescriptionList;
std::vector<std::string> ProfilePathList;
std::vector<ProfileSummary> ProfileSummaryTable;

void BuildProfileList() {
    ProfileDescriptionList.clear();
    ProfilePathList.clear();
    ProfileSummaryTable.clear();

    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(ProfileDirectory, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (IsProfileFileName(name) && it->is_regular_file(ec)) names.push_back(name);
    }
    std::sort(names.begin(), names.end());

    for (const std::string& name : names) {
        if (ProfilePathList.size() >= kMaxListedProfiles) break;
        std::string path = ProfileDirectory + name;
        std::string description;
        ProfileSummary summary;  // cleared for every file: the reader writes only what it finds
        ReadProfileHeader(path.c_str(), &description, &summary.mpeg1, &summary.width, &summary.height,
                          &summary.frameRate, &summary.unused1, &summary.unused2, &summary.videoBitRate,
                          &summary.audioBitRate, &summary.audioMode, &summary.muxBitRate);
        if (ProfileHeaderError) continue;
        if (description.empty()) description = name;
        ProfilePathList.push_back(path);
        ProfileDescriptionList.push_back(description);
        ProfileSummaryTable.push_back(summary);
    }
}

int FindProfileDescription(const std::string& description) {
    auto it = std::find(ProfileDescriptionList.begin(), ProfileDescriptionList.end(), description);
    return it == ProfileDescriptionList.end() ? -1 : static_cast<int>(it - ProfileDescriptionList.begin());
}

int FindProfilePath(const std::string& path) {
    auto it = std::find(ProfilePathList.begin(), ProfilePathList.end(), path);
    return it == ProfilePathList.end() ? -1 : static_cast<int>(it - ProfilePathList.begin());
}
