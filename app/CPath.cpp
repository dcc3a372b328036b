// Splitting a path into its parts.
#include "app/CPath.h"

void CPath::SetPath(const char* path) {
    if (!path) return;
    std::string full = path;
    const size_t slash = full.rfind('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    std::string name = full.substr(nameStart);
    const size_t dot = name.rfind('.');
    fullPath_ = full;
    drive_ = std::string();
    directoryPart_ = full.substr(0, nameStart);
    directory_ = *drive_ + *directoryPart_;
    extension_ = dot == std::string::npos ? std::string() : name.substr(dot);
    baseName_ = dot == std::string::npos ? name : name.substr(0, dot);
    fileName_ = *baseName_ + *extension_;
}
