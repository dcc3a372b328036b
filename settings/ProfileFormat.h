// Pieces shared by the profile reader, writer and summary reader: the
// markers and messages of the format and the line and value readers.
#pragma once

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "settings/EncoderSettings.h"

namespace profileformat {

// ---------------------------------------------------------------------------
// Markers and messages of the file format.

inline constexpr char kHeaderV11[] = "MPEG_DATA_V11";
inline constexpr char kHeaderV10[] = "MPEG_DATA_V10";
inline constexpr char kHeaderOld[] = "MPEG_DATA";
inline constexpr char kMainEnd[] = "MPEG_END";

inline constexpr char kMsgOpenFailed[] = "Failed to open profile file \n %s";
inline constexpr char kMsgOldHeader[] =
    "Incorrect version of Tessmar profile file header\n%s\nMPEG Encoder cannot read configuration "
    "files\ncreated by old version of the program.";
inline constexpr char kMsgBadHeader[] =
    "Illegal header of Tessmar profile file \n%s\nFile may be corrupted or this is not a valid profile "
    "file";
inline constexpr char kMsgReadError[] =
    "Error on attempt to read profile parameters file \n %s\n file may be corrupted or not completed";
inline constexpr char kMsgBadMainEnd[] =
    "Illegal end of  profile parameters file \n %s\n file may be corrupted or not completed";
inline constexpr char kMsgBadMpeg2End[] =
    "Illegal end of parameters file MPEG-2 extantion\n %s\n file may be corrupted or not completed";
inline constexpr char kMsgBadV2End[] =
    "Illegal end of parameters file version 2 extension\n %s\n file may be corrupted or not completed";
inline constexpr char kMsgBadV2EndSummary[] =
    "Illegal end of parameters file version 2 extantion\n %s\n file may be corrupted or not completed";
inline constexpr char kMsgBadV201End[] =
    "Illegal end of parameters file version 2.01 extension\n %s\n file may be corrupted or not completed";
inline constexpr char kMsgBadV3End[] =
    "Illegal end of parameters file version 3 extantion\n %s\n file may be corrupted or not completed";

struct SectionMarkers {
    const char* begin;
    const char* end;
};
inline constexpr SectionMarkers kMpeg2Ext{"MPEG2_EXT", "MPEG2_EXT_END"};
inline constexpr SectionMarkers kV2Ext{"ZRNV2_EXT", "ZRNV2_EXT_END"};
inline constexpr SectionMarkers kV201Ext{"ZRNV2.01_EXT", "ZRNV2.01_EXT_END"};
inline constexpr SectionMarkers kV3Ext{"ZRNV3_EXT", "ZRNV3_EXT_END"};
inline constexpr SectionMarkers kV311Ext{"ZRN311EXT", "ZRN311EXT_END"};

// Whole frames per second of frame-rate codes 1..8.
inline constexpr int kWholeFrameRate[8] = {23, 24, 25, 29, 30, 50, 59, 60};

// Version and value count that this writer puts in the extensible sections.
inline constexpr int kV201Major = 2, kV201Minor = 5, kV201Count = 6;
inline constexpr int kV311Version = 2, kV311Count = 3;

// ---------------------------------------------------------------------------
// Lines and values.

// Reads a text file line by line. Each line is consumed whole whatever its
// length, so the next read starts on the next line; only its first
// kLineKeep characters are kept (far more than any value needs), so that a
// huge file without line breaks cannot exhaust memory. The line end (LF or
// CR LF) is dropped.
class LineReader {
public:
    static constexpr size_t kLineKeep = 64 * 1024;

    explicit LineReader(FILE* file) : file_(file) {}

    // False at the end of the file or on a read error; `line` is then empty.
    bool Next(std::string& line) {
        line.clear();
        bool any = false;
        int c;
        while ((c = std::getc(file_)) != EOF) {
            any = true;
            if (c == '\n') break;
            if (line.size() < kLineKeep) line += static_cast<char>(c);
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return any;
    }
    // True when no further line can be read (end of file or a read error).
    bool AtEnd() {
        int c = std::getc(file_);
        if (c == EOF) return true;
        std::ungetc(c, file_);
        return false;
    }
    bool Failed() const { return std::ferror(file_) != 0; }

private:
    FILE* file_;
};

// Closes the file on every path.
struct FileCloser {
    FILE* file;
    ~FileCloser() {
        if (file) std::fclose(file);
    }
};

// The start of `line` equals `marker` (a line shorter than the marker never does).
inline bool StartsWith(const std::string& line, const char* marker) {
    return line.compare(0, std::strlen(marker), marker) == 0;
}

// A decimal integer at the start of the text (after blanks), as "%d" reads
// it; out-of-range values saturate.
inline bool ParseInt(const char* text, int& out, const char** rest = nullptr) {
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text, &end, 10);
    if (end == text) return false;
    if (v > INT_MAX) v = INT_MAX;
    if (v < INT_MIN) v = INT_MIN;
    out = static_cast<int>(v);
    if (rest) *rest = end;
    return true;
}

// A finite floating-point number at the start of the text, as "%lf" reads it
// in the C locale. Infinities and NaN are refused: no bit rate is either.
inline bool ParseDouble(const char* text, double& out) {
    char* end = nullptr;
    double v = std::strtod(text, &end);
    if (end == text || !std::isfinite(v)) return false;
    out = v;
    return true;
}

// A stored text: cut at the first CR or LF, at most 255 characters. A NUL
// byte ends it as well: the names go to the system as C strings. File names
// keep every other character ("?" included): what the writer stores is read
// back whole.
inline std::string StoredText(const std::string& line) {
    using namespace std::string_view_literals;
    size_t cut = line.find_first_of("\r\n\0"sv);
    std::string text = line.substr(0, cut);
    if (text.size() > kProfileTextLimit) text.resize(kProfileTextLimit);
    return text;
}

// One value line after another; a missing or unparsable line leaves the
// field it would have set unchanged.
class ValueReader {
public:
    explicit ValueReader(LineReader& lines) : lines_(lines) {}

    bool Line() { return lines_.Next(line_); }
    const std::string& Text() const { return line_; }

    bool Int(int& value) { return Line() && ParseInt(line_.c_str(), value); }
    bool Double(double& value) { return Line() && ParseDouble(line_.c_str(), value); }
    // "%d %d": the first value may be read without the second.
    void IntPair(int (&values)[2]) {
        if (!Line()) return;
        const char* rest = nullptr;
        if (ParseInt(line_.c_str(), values[0], &rest)) ParseInt(rest, values[1]);
    }
    void Text(std::string& value) {
        if (Line()) value = StoredText(line_);
    }
    // An int that counts as `fallback` when its line is missing or unparsable.
    int IntOr(int fallback) {
        int v = fallback;
        Int(v);
        return v;
    }
    void Skip(long count) {
        for (long i = 0; i < count && Line(); ++i) {
        }
    }

private:
    LineReader& lines_;
    std::string line_;
};

// Which header a profile file starts with.
enum class HeaderKind { V11, V10, Old, Illegal };

inline HeaderKind ClassifyHeader(const std::string& line) {
    if (StartsWith(line, kHeaderV11)) return HeaderKind::V11;
    if (StartsWith(line, kHeaderV10)) return HeaderKind::V10;
    if (StartsWith(line, kHeaderOld)) return HeaderKind::Old;
    return HeaderKind::Illegal;
}

// The version and value count of an extensible section: negative values count as 0.
inline int NonNegative(int v) { return v < 0 ? 0 : v; }

// Where the sections of a profile's lines stand, found by the reader's rule:
// the main block's values (49, or 48 under the version 1.0 header) and
// "MPEG_END", then the extension sections in their fixed order. A line that
// is not the marker of the section looked for is dropped and the next
// section is looked for on the line after it; the end of the lines ends the
// profile. `lines` may keep their line ends.
struct ProfileSections {
    static constexpr size_t kAbsent = size_t(-1);
    static constexpr int kCount = 5;  // MPEG2_EXT, ZRNV2_EXT, ZRNV2.01_EXT, ZRNV3_EXT, ZRN311EXT
    size_t begin[kCount] = {kAbsent, kAbsent, kAbsent, kAbsent, kAbsent};  // marker lines
    // The reader's message (to format with the file name) for the first
    // broken part, nullptr when it reads; `broken` is its section, -1 for the
    // header or the main block.
    const char* error = nullptr;
    int broken = -1;
};

inline ProfileSections FindProfileSections(const std::vector<std::string>& lines) {
    ProfileSections found;
    auto fail = [&found](const char* message, int section) {
        found.error = message;
        found.broken = section;
        return found;
    };
    const HeaderKind header = lines.empty() ? HeaderKind::Illegal : ClassifyHeader(lines[0]);
    if (header == HeaderKind::Old) return fail(kMsgOldHeader, -1);
    if (header == HeaderKind::Illegal) return fail(kMsgBadHeader, -1);
    const size_t mainEnd = header == HeaderKind::V11 ? 50 : 49;
    if (mainEnd >= lines.size() || !StartsWith(lines[mainEnd], kMainEnd)) return fail(kMsgBadMainEnd, -1);
    // Value lines of each section: fixed ones, and the line whose count adds more.
    struct Layout {
        SectionMarkers markers;
        size_t fixed;
        size_t countLine;  // after the marker; 0 for none
        const char* badEnd;
    };
    static constexpr Layout kLayouts[ProfileSections::kCount] = {
        {kMpeg2Ext, 2, 0, kMsgBadMpeg2End}, {kV2Ext, 7, 0, kMsgBadV2End},  {kV201Ext, 6, 6, kMsgBadV201End},
        {kV3Ext, 12, 0, kMsgBadV3End},      {kV311Ext, 2, 2, kMsgBadV3End},
    };
    size_t at = mainEnd + 1;
    for (int k = 0; k < ProfileSections::kCount && at < lines.size(); ++k) {
        const Layout& layout = kLayouts[k];
        if (!StartsWith(lines[at], layout.markers.begin)) {
            ++at;
            continue;
        }
        found.begin[k] = at;
        size_t values = layout.fixed;
        int count = 0;
        if (layout.countLine != 0 && at + layout.countLine < lines.size() &&
            ParseInt(lines[at + layout.countLine].c_str(), count))
            values += size_t(NonNegative(count));
        const size_t end = at + 1 + values;
        if (end >= lines.size() || end < at || !StartsWith(lines[end], layout.markers.end))
            return fail(layout.badEnd, k);
        at = end + 1;
    }
    return found;
}

}  // namespace profileformat
