// Plain rules of the main window and the document.
#include "app/FrameLogic.h"

#include <algorithm>
#include <filesystem>
#include <strings.h>
#include <system_error>

#include "platform/Format.h"
#include "platform/ResStrings.h"

std::string LastPathComponent(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool HasFileExtension(const std::string& path, const std::string& extension) {
    const std::string name = LastPathComponent(path);
    const size_t dot = name.rfind('.');
    return dot != std::string::npos && strcasecmp(name.c_str() + dot, extension.c_str()) == 0;
}

bool IsProfileFileName(const std::string& path) { return HasFileExtension(path, ".PRF"); }
bool IsAviFileName(const std::string& path) { return HasFileExtension(path, ".AVI"); }

DropAction ClassifyDroppedFile(const std::string& path) {
    if (path.size() <= 4) return DropAction::Ignore;
    if (IsProfileFileName(path)) return DropAction::OpenProfile;
    if (IsAviFileName(path)) return DropAction::TakeInput;
    return DropAction::Ignore;
}

MainWindowGeometry ComputeMainWindowGeometry(int c, int h, int W, int H) {
    MainWindowGeometry g;
    if (W < 800 || H < 600) {
        g.largeScreen = 0;
        g.minWidth = 640;
        g.minHeight = 480;
    } else {
        g.largeScreen = 1;
        g.minWidth = c * 636 / 7 + 128;
        g.minHeight = h * 460 / 16;
    }
    if (W >= 641 && H >= 481 && c >= 5 && h >= 13) {
        if (g.minWidth >= W) {
            g.minWidth = 928;
            g.minHeight = 600;
        } else if (g.minHeight < 600) {
            g.minHeight = H == 600 ? 564 : (h < 17 ? 610 : 660);
        }
    }
    // Neither the window nor its smallest size may be larger than the desktop.
    g.minWidth = std::min(g.minWidth, W);
    g.minHeight = std::min(g.minHeight, H);
    g.width = g.minWidth;
    g.height = g.minHeight;
    if (!g.largeScreen) {
        g.height = std::min(440, H);
        g.minHeight = g.height;
        return g;  // at (0, 0)
    }
    g.x = (W - g.width) / 2;
    g.y = (H - g.height) / 2;
    return g;
}

std::string ApplicationName() {
    std::string templ = LoadResString(128);
    return templ.substr(0, templ.find('\n'));
}

std::string MainWindowTitle(const std::string& documentTitle) {
    if (documentTitle.empty()) return ApplicationName();
    return documentTitle + " - " + ApplicationName();
}

std::string CleanProfileDescription(const std::string& text) {
    std::string cleaned = text;
    for (char& ch : cleaned)
        if (std::string_view("\\/:*?<>|").find(ch) != std::string_view::npos) ch = '_';
    if (cleaned.size() > 2)
        while (cleaned.size() > 2 && cleaned.back() == ' ') cleaned.pop_back();
    return cleaned;
}

int CheckProfileDescription(const std::string& cleaned, const std::vector<std::string>& descriptions,
                            const std::string& initialDescription, const std::string& caption) {
    if (cleaned.find_first_not_of(' ') == std::string::npos) return 63309;
    if (std::find(descriptions.begin(), descriptions.end(), cleaned) != descriptions.end()) {
        if (cleaned == initialDescription && caption != "Save As") return 0;
        return 63310;
    }
    return 0;
}

std::string FindFreeProfileName(const std::string& name, const std::string& folder, const std::string& base,
                                const std::string& extension) {
    std::error_code ec;
    if (!name.empty() && !std::filesystem::exists(name, ec)) return name;
    for (int n = 1;; ++n) {
        std::string candidate = folder + base + platform::Format("%d", n) + extension;
        if (!std::filesystem::exists(candidate, ec)) return candidate;
    }
}

std::string FileNameForType(const std::string& typedName, const std::string& typeText) {
    std::string name = typedName;
    const size_t slash = name.rfind('/');
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) name.resize(dot);
    const size_t star = typeText.find("*.");
    if (typeText.empty() || name.empty() || LastPathComponent(name).empty()) return name;
    name += '.';
    if (star != std::string::npos) {
        const size_t from = star + 2;
        const size_t end = typeText.find_first_of(") ;", from);
        name += typeText.substr(from, end == std::string::npos ? std::string::npos : end - from);
    }
    return name;
}

std::vector<std::string> QtNameFilters(const std::string& filter) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start < filter.size()) {
        size_t bar = filter.find('|', start);
        if (bar == std::string::npos) bar = filter.size();
        parts.push_back(filter.substr(start, bar - start));
        start = bar + 1;
    }
    std::vector<std::string> filters;
    for (size_t i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].empty()) break;  // the closing "||"
        std::string patterns = parts[i + 1];
        for (char& ch : patterns)
            if (ch == ';') ch = ' ';
        filters.push_back(parts[i].find('(') != std::string::npos ? parts[i] : parts[i] + " (" + patterns + ")");
    }
    return filters;
}

bool IdleOnlyCommandEnabled(int runState) { return runState != 2; }

bool IdleCommandEnabled(int runState, int pauseFlag, int openPreviewCount) {
    if (runState == 2 || pauseFlag == 1) return false;
    return openPreviewCount == 0;
}

std::string HelpPagePath(const std::string& programFolder) {
    std::string folder = programFolder;
    if (!folder.empty() && folder.back() != '/') folder += '/';
    // Beside the program in the build folder; installed, in the shared data folder.
    const std::string beside = folder + "tessmar.html";
    const std::string installed = folder + "../share/tessmar/tessmar.html";
    std::error_code ec;
    if (!std::filesystem::exists(beside, ec) && std::filesystem::exists(installed, ec))
        return std::filesystem::path(installed).lexically_normal().string();
    return beside;
}
