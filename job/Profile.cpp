// Profile files: the built-in settings, and the settings record written as
// and read from text (a main block and five versioned extension sections).
#include "job/Profile.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "job/AviSource.h"
#include "job/Finalise.h"
#include "job/ProfileFields.h"
#include "platform/FileReplace.h"
#include "platform/Format.h"
#include "platform/MessageBox.h"
#include "settings/AudioRates.h"
#include "settings/EncoderSettings.h"
#include "settings/Preview.h"
#include "settings/ProfileFormat.h"
#include "settings/Report.h"
#include "settings/RunState.h"

using namespace profileformat;

namespace {

using Field = ProfileField;

// One stored field's built-in value. The derived defaults follow the values
// they are derived from, as the settings hold them now.
void LoadBuiltInDefault(const Field& f) {
    static const EncoderSettingsRecord d;
    EncoderSettingsRecord& s = EncoderSettings;
    switch (f.byDefault) {
    case FieldDefault::Display: s.*f.intField = *f.display; break;
    case FieldDefault::Record:
        if (f.textField) s.*f.textField = d.*f.textField;
        if (f.intField) s.*f.intField = d.*f.intField;
        if (f.realField) s.*f.realField = d.*f.realField;
        if (f.pairField) {
            (s.*f.pairField)[0] = (d.*f.pairField)[0];
            (s.*f.pairField)[1] = (d.*f.pairField)[1];
        }
        break;
    case FieldDefault::OfBitRate: s.*f.realField = f.factor * s.bitRate; break;
    case FieldDefault::OfAudioIndex: s.*f.intField = AudioBitrateFromIndex(s.audioMode, s.audioBitRateIndex); break;
    case FieldDefault::None:
    case FieldDefault::Kept: break;
    }
}

// Every stored field takes its built-in value; fields that no profile stores
// (command-line switches, settings-file keys, derived values) are left alone,
// and so is the quality statistics mode, which the settings file decides.
void LoadBuiltInDefaults() {
    for (const Field& f : ProfileFields())
        if (f.byDefault == FieldDefault::Display || f.byDefault == FieldDefault::Record) LoadBuiltInDefault(f);
    for (const Field& f : ProfileFields())
        if (f.byDefault == FieldDefault::OfBitRate || f.byDefault == FieldDefault::OfAudioIndex) LoadBuiltInDefault(f);

    EncoderSettingsRecord& s = EncoderSettings;
    SelectedAudioMode = s.audioMode;
    SelectedAudioBitRate = s.audioBitRate;
    SelectedAudioBitRateIndex = s.audioBitRateIndex;
}

// Values a file does not hold take their built-in values, so that a profile
// reads the same whatever was loaded before it. The stream type is the
// exception: without its line it follows the main block's MPEG-1 flag.
void LoadAbsentValues(std::span<const Field> fields) {
    for (const Field& f : fields)
        if (f.intField != &EncoderSettingsRecord::streamType) LoadBuiltInDefault(f);
}

// ---------------------------------------------------------------------------
// Reading a profile into the settings.

// The fields from the marker line `begin` up to the next marker, without either.
std::span<const Field> ValuesAfter(const char* begin) {
    const std::span<const Field> all = ProfileFields();
    size_t first = 0;
    while (first < all.size() && !(all[first].kind == FieldKind::Marker && std::strcmp(all[first].text, begin) == 0))
        ++first;
    if (first == all.size()) return {};
    size_t last = ++first;
    while (last < all.size() && all[last].kind != FieldKind::Marker) ++last;
    return all.subspan(first, last - first);
}

// One value line into its field.
void ReadValue(ValueReader& in, const Field& f, bool version11) {
    EncoderSettingsRecord& s = EncoderSettings;
    switch (f.read) {
    case FieldRead::ByCustom: return;
    case FieldRead::Custom: f.custom(in, s); return;
    case FieldRead::Skip:
        in.Skip(1);
        if (f.fix) f.fix(s, false);
        return;
    case FieldRead::V11Only:
        if (!version11) {
            s.*f.intField = 0;
            platform::MessageBeep(0);
            return;
        }
        break;
    case FieldRead::Plain: break;
    }
    bool read = false;
    switch (f.kind) {
    case FieldKind::Text:
    case FieldKind::FileName: in.Text(s.*f.textField); break;
    case FieldKind::Int: read = in.Int(s.*f.intField); break;
    case FieldKind::Real: read = in.Double(s.*f.realField); break;
    case FieldKind::IntPair: in.IntPair(s.*f.pairField); break;
    default: in.Skip(1); break;  // values the writer puts for itself
    }
    if (f.fix) f.fix(s, read);
}

// The value lines of a section. An extensible section (one with a count)
// holds the value groups its versions select while its count covers them, and
// then as many lines of a later writer as its count has left.
void ReadValues(ValueReader& in, std::span<const Field> fields, bool version11) {
    int major = 0, minor = 0, count = 0;
    bool counted = false;
    for (size_t i = 0; i < fields.size();) {
        const Field& f = fields[i];
        if (f.kind == FieldKind::Major || f.kind == FieldKind::Minor || f.kind == FieldKind::Count) {
            const int v = NonNegative(in.IntOr(0));
            (f.kind == FieldKind::Major ? major : f.kind == FieldKind::Minor ? minor : count) = v;
            counted = counted || f.kind == FieldKind::Count;
            ++i;
            continue;
        }
        if (f.group == 0) {
            ReadValue(in, f, version11);
            ++i;
            continue;
        }
        size_t end = i;
        while (end < fields.size() && fields[end].group == f.group) ++end;
        const int size = static_cast<int>(end - i);
        if ((minor >= f.sinceMinor || major >= 3) && count >= size) {
            for (size_t k = i; k < end; ++k) ReadValue(in, fields[k], version11);
            count -= size;
        } else {
            LoadAbsentValues(fields.subspan(i, end - i));
        }
        i = end;
    }
    if (counted) in.Skip(count);
}

// A file without the variable-bit-rate section is a constant-rate profile.
void NoV3Section() {
    LoadAbsentValues(ValuesAfter(kV3Ext.begin));
    EncoderSettingsRecord& s = EncoderSettings;
    s.rateControl = kRateConstant;
    s.vbrMode = kVbrAverage;
    s.constantQuantScale = 4;
    s.averageBitRate = 0.5 * s.bitRate;
    // Derived as it is, the value takes the clamp a read value gets: writing and reading keep it.
    for (const Field& f : ValuesAfter(kV3Ext.begin))
        if (f.realField == &EncoderSettingsRecord::averageBitRate && f.fix) f.fix(s, true);
}

// A file without the interlace section is progressive.
void NoV311Section() {
    LoadAbsentValues(ValuesAfter(kV311Ext.begin));
    EncoderSettings.interlaceMode = 0;
    EncoderSettings.sequenceDisplayExtension = 0;
}

void NoMpeg2Section() { LoadAbsentValues(ValuesAfter(kMpeg2Ext.begin)); }
void NoV2Section() { LoadAbsentValues(ValuesAfter(kV2Ext.begin)); }
void NoV201Section() { LoadAbsentValues(ValuesAfter(kV201Ext.begin)); }

struct ExtensionSection {
    SectionMarkers markers;
    void (*missing)();  // when another line, or the end of the file, stands where the section would
    const char* badEndMessage;
};

// In file order.
const ExtensionSection kExtensionSections[] = {
    {kMpeg2Ext, NoMpeg2Section, kMsgBadMpeg2End},  //
    {kV2Ext, NoV2Section, kMsgBadV2End},           //
    {kV201Ext, NoV201Section, kMsgBadV201End},     //
    {kV3Ext, NoV3Section, kMsgBadV3End},    //
    {kV311Ext, NoV311Section, kMsgBadV3End},
};

// Arms the fatal-error return for the checks: a fatal check ends them early
// and leaves the settings flagged as erroneous.
void RunFinalisation(bool recheck) {
    try {
        EncoderJumpArm arm;
        FinaliseSettings(recheck);
    } catch (const EncoderJump&) {
        ProfileLoaded = 1;
        ParameterError = 1;
    }
}

// Whether the name contains "_default.$pr", in any letter case, as every
// file-name extension of the program is compared.
bool NameHasDefaultSuffix(const char* name) {
    std::string lower(name);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower.find("_default.$pr") != std::string::npos;
}

// Reads a profile file into the settings; true when the checks may run.
bool ReadProfileFile(const char* name, int previousLoaded) {
    FILE* file = std::fopen(name, "r");
    if (!file) {
        ShowWarningMessage(platform::Format(kMsgOpenFailed, name));
        ProfileLoaded = previousLoaded;
        return false;
    }
    FileCloser closer{file};
    LineReader lines(file);
    ValueReader in(lines);

    in.Line();
    HeaderKind header = ClassifyHeader(in.Text());
    if (header == HeaderKind::Old || header == HeaderKind::Illegal) {
        ShowWarningMessage(platform::Format(header == HeaderKind::Old ? kMsgOldHeader : kMsgBadHeader, name));
        ProfileLoaded = previousLoaded;
        return false;
    }

    EncoderSettingsRecord& s = EncoderSettings;
    s.closedGopOption = 0;
    s.sequenceHeaderOption = 0;
    s.topBorderLines = 0;
    s.bottomBorderLines = 0;
    if (!NameHasDefaultSuffix(name)) CustomProfileLoaded = 1;

    ReadValues(in, ValuesAfter(kMainHeaderLine), header == HeaderKind::V11);
    bool audioWanted = s.inputHasAudio != 0 && s.inputFileName.size() >= 2;
    AviRequestedChannels = audioWanted ? (s.audioMode != 0 ? 2 : 1) : 0;
    auto fail = [&](const char* message) {
        ShowWarningMessage(platform::Format(message, name));
        return false;
    };
    if (lines.Failed()) return fail(kMsgReadError);

    in.Line();
    ReleasePreviewBuffers();
    if (!StartsWith(in.Text(), kMainEnd)) return fail(kMsgBadMainEnd);

    for (const ExtensionSection& section : kExtensionSections) {
        // A file that ends early (an older writer's, or one the profile manager copied) lacks
        // this section and every later one, just as if other lines stood in their place.
        if (lines.AtEnd()) {
            section.missing();
            continue;
        }
        in.Line();
        if (!StartsWith(in.Text(), section.markers.begin)) {
            // Not this section: the line is dropped and the next section is
            // looked for on the line after it.
            section.missing();
            continue;
        }
        ReadValues(in, ValuesAfter(section.markers.begin), true);
        in.Line();
        if (!StartsWith(in.Text(), section.markers.end)) return fail(section.badEndMessage);
    }

    if (lines.Failed()) return fail(kMsgReadError);
    return true;
}

// ---------------------------------------------------------------------------
// Writing.

// The lines of a profile, numbers in the C locale.
std::string FormatProfile(const EncoderSettingsRecord& s, int aviRate, int aviScale) {
    platform::CLocaleScope cLocale;
    std::string out;
    auto line = [&out](const std::string& text) {
        out += text;
        out += '\n';
    };
    const bool aviKnown = aviRate >= 1 && aviScale >= 1;
    for (const Field& f : ProfileFields()) {
        switch (f.kind) {
        case FieldKind::Marker: line(f.text); break;
        case FieldKind::Text:
        case FieldKind::FileName: line(s.*f.textField); break;
        case FieldKind::Int: line(std::to_string(s.*f.intField)); break;
        case FieldKind::Real: line(platform::Format("%lf", s.*f.realField)); break;
        case FieldKind::IntPair: line(platform::Format("%d %d", (s.*f.pairField)[0], (s.*f.pairField)[1])); break;
        case FieldKind::Constant:
        case FieldKind::Major:
        case FieldKind::Minor:
        case FieldKind::Count: line(std::to_string(f.constant)); break;
        // Without an open AVI input, the table's values.
        case FieldKind::AviRate: line(std::to_string(aviKnown ? aviRate : f.constant)); break;
        case FieldKind::AviScale: line(std::to_string(aviKnown ? aviScale : f.constant)); break;
        }
    }
    return out;
}

// The text a profile cannot keep as it is, with a reason; empty when all is storable.
std::string UnstorableText(const EncoderSettingsRecord& s) {
    const struct {
        const std::string& text;
        const char* what;
    } texts[] = {
        {s.inputFileName, "input file name"},
        {s.outputFileName, "output file name"},
        {s.statisticsFileName, "statistics file name"},
        {s.tempVideoFileName, "temporary video file name"},
        {s.tempAudioFileName, "temporary audio file name"},
        {s.profileDescription, "profile description"},
    };
    for (const auto& t : texts) {
        if (t.text.size() > kProfileTextLimit)
            return platform::Format("The %s is longer than %zu characters.", t.what, kProfileTextLimit);
        if (t.text.find_first_of("\r\n") != std::string::npos)
            return platform::Format("The %s holds a line break.", t.what);
    }
    return std::string();
}

}  // namespace

void ReadProfile(const char* name) {
    int previousLoaded = ProfileLoaded;
    ProfileLoaded = 0;
    ParameterError = 0;
    AviRequestedChannels = 0;
    if (!name) {
        ProfileLoaded = previousLoaded;
        ReportFatalError(" Zero file name ptr ");
        return;
    }
    bool recheck = std::strcmp(name, "-") == 0;
    if (!recheck) {
        EncoderSettings.mpeg2MuxConstantRate = 0;
        if (std::strcmp(name, "+") == 0) {
            LoadBuiltInDefaults();
            CustomProfileLoaded = 0;
            ReleasePreviewBuffers();
        } else {
            platform::CLocaleScope cLocale;
            if (!ReadProfileFile(name, previousLoaded)) return;
        }
    }
    RunFinalisation(recheck);
}

int WriteProfile(const char* name) {
    if (!name) {
        ReportFatalError(" Zero file name ptr ");
        return -1;
    }
    if (std::strlen(name) < 2) {
        ShowWarningMessage(" File name too short. Cannot write profile file.");
        return -1;
    }
    std::string refusal = UnstorableText(EncoderSettings);
    if (!refusal.empty()) {
        ShowWarningMessage(platform::Format("Profile file not saved:\n%s\n\n%s", name, refusal.c_str()));
        return -1;
    }
    std::string text = FormatProfile(EncoderSettings, AviGetVideoRate(), AviGetVideoScale());

    // The profile is written under a new name and replaces the old one only when all of it is
    // on the disk: a full disk never costs the user the profile saved before.
    platform::FileReplace file(name);
    if (!file.Open()) {
        ShowWarningMessage(platform::Format(
            "Failed to create profile file: \n%s\n\nPossible reason:\nFile is read-only or path to profiles is now "
            "invalid.",
            name));
        return -1;
    }
    CustomProfileLoaded = 1;
    bool written = std::fwrite(text.data(), 1, text.size(), file.Stream()) == text.size();
    platform::ReplaceStatus status = written ? file.Commit() : platform::ReplaceStatus::WriteFailed;
    if (status == platform::ReplaceStatus::WriteFailed) {
        file.Abandon();
        ShowWarningMessage(platform::Format("Error: failed to save parameters \nin file  File %s ", name));
        return -1;
    }
    if (status != platform::ReplaceStatus::Ok) {
        ShowWarningMessage(platform::Format("File %s save error. /n Error on close file.", name));
        return -1;
    }
    return 0;
}
