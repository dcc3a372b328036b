// The DVD volume writer's file moves: the volume's folders, and a finished title
// put into VIDEO_TS as a whole in place of an earlier one.
#include "muxlib/DvdTitle.h"

#include "muxlib/DvdInfoFiles.h"
#include "platform/System.h"

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>

namespace dvdtitle {

int MakeFolder(const std::string& path, bool* made)
{
    platform::NoteWorkPath(path);
    if (::mkdir(path.c_str(), 0777) == 0) {
        if (made != nullptr) *made = true;
        return 0;
    }
    struct stat st {};
    return errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? 0 : -1;
}

// The earlier title's video object files that the new title does not have.
void RemoveStaleVobs(const std::string& videoFolder, size_t vobFiles)
{
    for (size_t n = vobFiles + 1; n <= DvdVobTable::Capacity; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "VTS_01_%zu.VOB", n);
        ::unlink((videoFolder + name).c_str());
    }
}

int32_t MoveTitleIntoPlace(DvdInfoFileSet& files, const std::string& videoFolder, const DvdVobTable& table)
{
    std::vector<std::pair<std::string, std::string>> moves;
    for (size_t i = 0; i < table.Count(); ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "VTS_01_%zu.VOB", i + 1);
        moves.emplace_back(table.At(i)->vobName, name);
    }
    int32_t status = files.MoveBeside(videoFolder, moves);
    if (status == 0) status = files.Commit();
    if (status == 0) RemoveStaleVobs(videoFolder, table.Count());
    return status;
}

}  // namespace dvdtitle

int32_t ReplaceDvdTitle(const std::string& videoFolder, const std::vector<std::pair<std::string, std::string>>& moves,
                        size_t vobFiles)
{
    std::string folder = videoFolder.empty() ? std::string("./") : videoFolder;
    if (folder.back() != '/') folder += '/';
    DvdInfoFileSet files;
    int32_t status = files.MoveBeside(folder, moves);
    if (status == 0) status = files.Commit();
    if (status == 0) dvdtitle::RemoveStaleVobs(folder, vobFiles);
    return status;
}
