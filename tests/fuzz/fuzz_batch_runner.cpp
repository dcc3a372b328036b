// A batch run from a batch list file: the list is loaded as the dialog loads
// it and run with the start profile and the profiles it names, read from the
// second part of the input. Input files are taken or refused by their names
// and a job "succeeds" by the loaded settings: the walk, the profile loads,
// the log and the summary are what runs here.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/BatchList.h"
#include "app/BatchRunner.h"
#include "job/Profile.h"
#include "settings/EncoderSettings.h"
#include "settings/Report.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::SilenceMessageBoxes();
    static const bool once = ::chdir(fuzz::WorkDir().c_str()) == 0;
    if (!once) std::abort();
    auto [list, profile] = fuzz::SplitInput(data, size);
    const std::string listFile = fuzz::WriteInput("input.btc", list).string();
    const std::string profileFile = fuzz::WriteInput("input.prf", profile).string();
    BatchListContents contents;
    contents.outputFolder = "out";
    contents.profileDescription = "VCD standard";
    if (!LoadJobList(listFile, contents)) return 0;
    std::error_code ec;
    std::filesystem::remove_all(fuzz::WorkDir() / "out", ec);
    std::filesystem::create_directory(fuzz::WorkDir() / "out", ec);

    BatchJobList = contents.entries;
    const std::vector<BatchProfile> profiles = {{contents.profileDescription, profileFile},
                                                {"VCD standard", profileFile},
                                                {"missing", (fuzz::WorkDir() / "missing.prf").string()}};
    BatchStartRequest request = InitialBatchRequest(profiles, contents.profileDescription);
    request.suppressErrors = contents.suppressErrors != 0;
    request.outputFolder = (fuzz::WorkDir() / "out").string();
    BatchProcessHooks hooks;
    hooks.run.loadProfile = [](const std::string& path) {
        ReadProfile(path.c_str());
        return ProfileLoaded == 1 && ParameterError == 0;
    };
    hooks.run.loadInputFile = [](const std::string& avi, const std::string& folder) {
        EncoderSettings.inputFileName = avi;
        EncoderSettings.outputFileName = folder + "out.mpg";
        return avi.size() % 3 != 0;
    };
    hooks.run.runEntry = [] { BatchJobSucceeded = EncoderSettings.mpeg1 != 0; };
    hooks.run.writeStatistics = [] {};
    RunBatchProcess(request, profiles, hooks);
    ReadProfile("+");
    return 0;
}
