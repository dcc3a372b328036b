// Profile files as the window reads them: the profile list's summaries of a
// profile folder, and the profile manager's description, sample rate and
// rename (the description line rewritten into a copy).
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/AppSettings.h"
#include "app/CProfileMgr.h"
#include "app/ProfileList.h"
#include "settings/Report.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::SilenceMessageBoxes();
    BatchMode = 0;
    const std::filesystem::path folder = fuzz::WorkDir() / "profiles";
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    std::filesystem::create_directory(folder, ec);
    const std::string path = (folder / "input.prf").string();
    fuzz::WriteInput("profiles/input.prf", fuzz::Bytes(data, size));

    ProfileDirectory = folder.string() + "/";
    BuildProfileList();
    ProfileSampleRate(path);
    std::string description, error;
    if (ReadProfileDescriptionLine(path, description, error)) {
        const std::string copy = (folder / "copy.prf").string();
        if (RewriteProfileDescription(path, copy, "Copy of " + description, error)) {
            ReadProfileDescriptionLine(copy, description, error);
            BuildProfileList();
        }
    }
    return 0;
}
