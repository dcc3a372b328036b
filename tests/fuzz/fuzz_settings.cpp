// The program's settings files: "RADUDUR.INI" as start-up reads it (profile
// folder, display and device keys, the recent list and its menu texts) and
// "ROZARAZ2.INI" with the remembered folders; the recent list written back.
// The input is split into the two files.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/AppSettings.h"
#include "app/RecentFileList.h"
#include "platform/Ini.h"
#include "settings/Report.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::SilenceMessageBoxes();
    static const bool once = [] {
        // A profile folder that cannot be used is made below the current folder: the work folder.
        setenv("TESSMAR_CONFIG_DIR", fuzz::WorkDir().c_str(), 1);
        return ::chdir(fuzz::WorkDir().c_str()) == 0;
    }();
    if (!once) std::abort();
    auto [settings, program] = fuzz::SplitInput(data, size);
    fuzz::WriteInput("RADUDUR.INI", settings);
    fuzz::WriteInput("ROZARAZ2.INI", program);
    InitSettingsFileName();
    ReadSettings();
    GetMainAviInputDirectory();
    GetMainMpegOutputDirectory();
    GetBatchOutputDirectory();
    GetMpeg2FileExtension();

    RecentFileList recent(MruFileCount);
    recent.ReadList(SettingsFileName);
    RecentFileMenuLabels(recent);
    if (recent.Size() > 0) recent.Add(recent[0] + ".prf");
    recent.WriteList(fuzz::WorkDir() / "again.ini");
    RecentFileList again(MruFileCount);
    again.ReadList(fuzz::WorkDir() / "again.ini");
    return 0;
}
