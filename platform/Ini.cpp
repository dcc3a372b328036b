// INI files with the classic profile-string rules.
#include "platform/Ini.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <strings.h>
#include <vector>

#include "platform/FileReplace.h"
#include "platform/Format.h"
#include "platform/MessageBox.h"
#include "platform/ResStrings.h"

namespace fs = std::filesystem;

namespace platform {

fs::path ConfigDir() {
    if (const char* dir = std::getenv("TESSMAR_CONFIG_DIR"); dir && *dir) return fs::path(dir);
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) return fs::path(xdg) / "tessmar";
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : ".") / ".config" / "tessmar";
}

fs::path ConfigFile(const std::string& name) { return ConfigDir() / name; }

namespace {

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    return s.substr(b, e - b);
}

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strcasecmp(a.c_str(), b.c_str()) == 0;
}

std::vector<std::string> ReadLines(const fs::path& file) {
    std::vector<std::string> lines;
    std::ifstream in(file, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// "[name]" gives true and the trimmed name.
bool SectionHeader(const std::string& line, std::string& name) {
    std::string t = Trim(line);
    if (t.size() < 2 || t.front() != '[') return false;
    size_t close = t.find(']');
    if (close == std::string::npos) return false;
    name = Trim(t.substr(1, close - 1));
    return true;
}

// "key=value" gives true with the trimmed key and value.
bool KeyLine(const std::string& line, std::string& key, std::string& value) {
    size_t eq = line.find('=');
    if (eq == std::string::npos) return false;
    key = Trim(line.substr(0, eq));
    value = Trim(line.substr(eq + 1));
    return true;
}

}  // namespace

std::string IniReadString(const std::string& section, const std::string& key,
                          const std::string& defaultValue, const fs::path& file) {
    const std::string wantSection = Trim(section), wantKey = Trim(key);
    bool inSection = false;
    for (const std::string& line : ReadLines(file)) {
        std::string name, k, v;
        if (SectionHeader(line, name)) {
            inSection = SameName(name, wantSection);
        } else if (inSection && KeyLine(line, k, v) && SameName(k, wantKey)) {
            // A value in matching quotes loses them, as the classic reader does.
            if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
                v = v.substr(1, v.size() - 2);
            return v;
        }
    }
    return Trim(defaultValue);
}

namespace {

// The value's optional sign and leading digits, the magnitude stopping at `limit`;
// false when the key is missing.
bool ReadDigits(const std::string& section, const std::string& key, const fs::path& file, uint64_t limit,
                bool* negative, uint64_t* magnitude) {
    const std::string marker = "\x01missing\x01";
    const std::string v = IniReadString(section, key, marker, file);
    if (v == marker) return false;
    size_t i = 0;
    *negative = false;
    if (i < v.size() && (v[i] == '+' || v[i] == '-')) *negative = v[i++] == '-';
    uint64_t n = 0;
    for (; i < v.size() && v[i] >= '0' && v[i] <= '9'; ++i)
        n = n > (limit - (v[i] - '0')) / 10 ? limit : n * 10 + (v[i] - '0');
    *magnitude = n;
    return true;
}

}  // namespace

int IniReadInt(const std::string& section, const std::string& key, int defaultValue, const fs::path& file) {
    bool negative = false;
    uint64_t n = 0;
    if (!ReadDigits(section, key, file, 0xFFFFFFFFu, &negative, &n)) return defaultValue;
    // Values wrap to 32 bits like the classic function's UINT result.
    const auto u = static_cast<uint32_t>(n);
    return static_cast<int>(negative ? 0u - u : u);
}

int64_t IniReadInt64(const std::string& section, const std::string& key, int64_t defaultValue,
                     const fs::path& file) {
    constexpr uint64_t Largest = uint64_t{INT64_MAX};
    bool negative = false;
    uint64_t n = 0;
    if (!ReadDigits(section, key, file, Largest + 1, &negative, &n)) return defaultValue;
    if (negative) return n > Largest ? INT64_MIN : -static_cast<int64_t>(n);
    return static_cast<int64_t>(std::min(n, Largest));
}

bool IniCanHold(const std::string& section, const std::string& key, const std::string& value) {
    auto oneLine = [](const std::string& text) { return text.find_first_of("\r\n") == std::string::npos; };
    const std::string k = Trim(key);
    // A key must not read as a section header, a comment or part of a value.
    return oneLine(section) && oneLine(key) && oneLine(value) && section.find(']') == std::string::npos &&
           !k.empty() && k.find('=') == std::string::npos && k[0] != '[' && k[0] != ';';
}

bool IniWriteString(const std::string& section, const std::string& key, const std::string& value,
                    const fs::path& file) {
    if (!IniCanHold(section, key, value)) {
        ShowMessageBox(Format(LoadResString(64493), key.c_str(), file.c_str(), value.c_str()), "");
        return false;
    }
    std::vector<std::string> lines = ReadLines(file);
    const std::string wantSection = Trim(section), wantKey = Trim(key);
    const std::string newLine = wantKey + "=" + value;

    bool inSection = false, sectionFound = false, written = false;
    size_t lastInSection = 0;
    for (size_t i = 0; i < lines.size() && !written; ++i) {
        std::string name, k, v;
        if (SectionHeader(lines[i], name)) {
            if (inSection) break;  // section ended without the key
            inSection = SameName(name, wantSection);
            if (inSection) {
                sectionFound = true;
                lastInSection = i;
            }
        } else if (inSection) {
            if (KeyLine(lines[i], k, v) && SameName(k, wantKey)) {
                lines[i] = newLine;
                written = true;
            } else if (!Trim(lines[i]).empty()) {
                lastInSection = i;
            }
        }
    }
    if (!written) {
        if (sectionFound) {
            lines.insert(lines.begin() + static_cast<long>(lastInSection) + 1, newLine);
        } else {
            lines.push_back("[" + wantSection + "]");
            lines.push_back(newLine);
        }
    }

    std::error_code ec;
    if (file.has_parent_path()) fs::create_directories(file.parent_path(), ec);
    std::string text;
    for (const std::string& line : lines) text += line + '\n';
    return ReplaceFileContents(file, text) == ReplaceStatus::Ok;
}

bool IniWriteInt(const std::string& section, const std::string& key, int value, const fs::path& file) {
    return IniWriteString(section, key, std::to_string(value), file);
}

}  // namespace platform
