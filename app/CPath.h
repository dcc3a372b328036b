// A path taken apart into folder, base name and extension, and put back
// together as folder and file name. Only the last path component can hold
// the extension: a dot in a folder name is part of that folder.
#pragma once

#include <optional>
#include <string>

class CPath {
public:
    CPath() = default;
    explicit CPath(const std::string& path) { SetPath(path.c_str()); }

    // Takes a new path and splits it; a null path changes nothing.
    void SetPath(const char* path);

    // The stored texts, or null before the first SetPath. The object keeps
    // ownership; a later SetPath replaces them.
    const char* GetFullPath() const { return Text(fullPath_); }
    // The folder with its trailing "/" (empty for a bare file name).
    const char* GetDirectory() const { return Text(directory_); }
    // There are no drive letters here: always empty once a path is set.
    const char* GetDrive() const { return Text(drive_); }
    const char* GetFileName() const { return Text(fileName_); }
    const char* GetBaseName() const { return Text(baseName_); }
    // From the last "." of the last component on, with the dot; empty when
    // that component has no dot.
    const char* GetExtension() const { return Text(extension_); }

private:
    static const char* Text(const std::optional<std::string>& text) { return text ? text->c_str() : nullptr; }

    std::optional<std::string> fullPath_, directory_, drive_, fileName_, baseName_, extension_, directoryPart_;
};
