// Parses the string table compiled into the program (app/res/strings.txt)
// once, on first use.
#include "platform/ResStrings.h"

#include <cstdlib>
#include <mutex>
#include <string>
#include <unordered_map>

namespace platform {

extern const char* const kStringTableSource;

namespace {

// Texts are kept with C escapes in the data file: \n \t \r \\ \" and \xNN.
std::string Unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        char c = s[++i];
        switch (c) {
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case 'r': out += '\r'; break;
            case 'x': {
                std::string hex = s.substr(i + 1, 2);
                out += static_cast<char>(std::strtol(hex.c_str(), nullptr, 16));
                i += hex.size();
                break;
            }
            default: out += c; break;
        }
    }
    return out;
}

const std::unordered_map<int, std::string>& Table() {
    static const std::unordered_map<int, std::string> table = [] {
        std::unordered_map<int, std::string> t;
        const std::string src = kStringTableSource;
        size_t pos = 0;
        while (pos < src.size()) {
            size_t end = src.find('\n', pos);
            if (end == std::string::npos) end = src.size();
            std::string line = src.substr(pos, end - pos);
            pos = end + 1;
            if (line.empty() || line[0] == '#') continue;
            size_t tab = line.find('\t');
            if (tab == std::string::npos) continue;
            int id = std::atoi(line.substr(0, tab).c_str());
            t.emplace(id, Unescape(line.substr(tab + 1)));
        }
        return t;
    }();
    return table;
}

}  // namespace

const char* LoadResString(int id) {
    const auto& t = Table();
    auto it = t.find(id);
    return it == t.end() ? "" : it->second.c_str();
}

bool HasResString(int id) { return Table().count(id) != 0; }

}  // namespace platform
