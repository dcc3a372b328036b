// The profile format as one table: every line of a profile file in file order,
// with the field it stores, how it is written and read, and how the built-in
// defaults set it. The defaults, the reader, the writer and the summary reader
// all walk this table.
#pragma once

#include <span>
#include <string>

#include "settings/EncoderSettings.h"
#include "settings/ProfileFormat.h"

namespace profileformat {

// How a line is written and read.
enum class FieldKind {
    Marker,    // fixed text: the header, a section's begin or end
    Text,      // a text value
    FileName,  // a text value cut at the first "?" as well
    Int,
    Real,      // "%lf" in the C locale
    IntPair,   // "%d %d"
    Constant,  // a fixed number the writer puts (read past)
    Major,     // version and value count of an extensible section (the writer's constants)
    Minor,
    Count,
    AviRate,   // the open AVI input's rate and scale: written, never read back
    AviScale,
};

// How the built-in defaults set a field.
enum class FieldDefault {
    None,         // nothing to set (markers, constants, versions)
    Record,       // the value a new settings record holds
    Display,      // the program's display default (`display` below)
    OfBitRate,    // `factor` times the default bit rate
    OfAudioIndex, // the audio bit rate that the default mode and list index give
    Kept,         // left alone: the settings file decides it
};

// How the reader treats a value line beyond reading it into its field.
enum class FieldRead {
    Plain,     // read (a missing or unparsable line keeps the field), then `fix`
    Skip,      // read past, then `fix`
    Custom,    // `custom` reads it (and, for a group, the lines that follow)
    ByCustom,  // read by the custom reader of an earlier line
    V11Only,   // read in a version-11 file; in an older one the line is absent
};

struct ProfileField {
    const char* name;
    int line;  // line number in a file this program writes (the header is line 1)
    FieldKind kind;
    FieldDefault byDefault;
    const char* text = nullptr;  // Marker: the line
    int constant = 0;            // Constant, Major, Minor, Count: the number written
    std::string EncoderSettingsRecord::*textField = nullptr;
    int EncoderSettingsRecord::*intField = nullptr;
    double EncoderSettingsRecord::*realField = nullptr;
    int (EncoderSettingsRecord::*pairField)[2] = nullptr;
    int* display = nullptr;  // Display
    double factor = 0.0;     // OfBitRate
    FieldRead read = FieldRead::Plain;
    // After a Plain or Skip line: `read` is whether a value was read.
    void (*fix)(EncoderSettingsRecord& s, bool read) = nullptr;
    // Custom: reads the line(s) itself.
    void (*custom)(ValueReader& in, EncoderSettingsRecord& s) = nullptr;
    // In an extensible section: the value group the field belongs to (0 none),
    // present when the section's minor version reaches `sinceMinor` (or its
    // major version is 3 or more) and its count still covers the group.
    int group = 0;
    int sinceMinor = 0;
};

// Every line of a profile, in file order.
std::span<const ProfileField> ProfileFields();

// The line of the field that stores `member`; 0 when no line does.
int ProfileLineOf(int EncoderSettingsRecord::*member);
int ProfileLineOf(double EncoderSettingsRecord::*member);

// The header and the end of the main block as this program writes them (the
// reader goes by their start, kHeaderV11 and kMainEnd).
inline constexpr char kMainHeaderLine[] = "MPEG_DATA_V11 ";
inline constexpr char kMainEndLine[] = "MPEG_END ";

// The line of the main block's first value (the header is line 1): value n of
// the main block stands on line n + 1.
inline constexpr int kMainFirstLine = 2;

}  // namespace profileformat
