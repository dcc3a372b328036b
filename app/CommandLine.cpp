// Switches of the command line: each sets one value of the settings or of the
// program; unknown ones are kept and otherwise ignored.
#include "app/CommandLine.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <strings.h>

#include "engine/EngineState.h"
#include "platform/Format.h"
#include "platform/System.h"
#include "settings/EncoderSettings.h"

int ParallelDialogMode = 0;
int Winnt351Requested = 0;

namespace {

bool EqualNoCase(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

bool StartsNoCase(const std::string& text, const char* prefix) {
    return strncasecmp(text.c_str(), prefix, std::strlen(prefix)) == 0;
}

// Decimal integer with optional sign; out-of-range values saturate so that a
// long run of digits still lands outside every accepted range.
long long ReadNumber(const std::string& digits) {
    return std::strtoll(digits.c_str(), nullptr, 10);
}

}  // namespace

bool IsSwitchArgument(const std::string& argument) {
    if (argument.size() < 2) return false;
    if (argument[0] == '-') return true;
    if (argument[0] != '/') return false;
    // A valued switch may carry a path of its own.
    for (const char* prefix : {"statistical=", "vbr_distrib=", "start_frame=", "vbvstatfile=", "blacklevel="})
        if (StartsNoCase(argument.substr(1), prefix)) return true;
    if (argument.find('/', 2) != std::string::npos) return false;
    std::error_code ec;
    return !std::filesystem::exists(argument, ec);
}

void CTessmarCommandLineInfo::ParseCommandLine(const std::vector<std::string>& arguments) {
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        bool isLast = i + 1 == arguments.size();
        if (IsSwitchArgument(argument))
            ParseParam(argument.substr(1), true, isLast);
        else
            ParseParam(argument, false, isLast);
    }
}

void CTessmarCommandLineInfo::ParseParam(const std::string& param, bool isSwitch, bool /*isLast*/) {
    if (isSwitch) {
        if (ParseValuedSwitch(param)) return;
        // A plain switch may carry one further "/".
        std::string name = param.size() > 1 && param[0] == '/' ? param.substr(1) : param;
        if (ParseOwnSwitch(name)) return;
        otherSwitches.push_back(param);
        return;
    }
    if (fileName.empty()) {
        fileName = param;
        shellCommand = ShellCommand::FileOpen;
    }
}

bool CTessmarCommandLineInfo::ParseOwnSwitch(const std::string& name) {
    if (EqualNoCase(name, "notmmx")) {
        EncoderSettings.disableMmx = 1;
    } else if (EqualNoCase(name, "nosound") || EqualNoCase(name, "nosplashbitmap") ||
               EqualNoCase(name, "deinterlace") || EqualNoCase(name, "mustshowmmxbitmap") ||
               EqualNoCase(name, "nommxbitmap")) {
        // Accepted for old shortcuts; nothing depends on them.
    } else if (EqualNoCase(name, "winnt351")) {
        Winnt351Requested = 1;
    } else if (EqualNoCase(name, "create_vob")) {
        EncoderSettings.createVob = 1;
    } else if (EqualNoCase(name, "ttt1")) {
        EngineReport.EngineTimingReport = 1;
    } else if (EqualNoCase(name, "tttt")) {
        EngineReport.EngineTimingDetail = 1;
        EngineReport.EngineTimingReport = 1;
    } else if (EqualNoCase(name, "allowparalleldialog")) {
        ParallelDialogMode = 1;
    } else if (EqualNoCase(name, "notallowparalleldialog")) {
        ParallelDialogMode = -1;
    } else if (EqualNoCase(name, "notadaptive")) {
        EncoderSettings.disableAdaptiveQuant = 1;
    } else if (EqualNoCase(name, "notstatistical")) {
        EncoderSettings.statisticalLevel = 0;
    } else if (EqualNoCase(name, "no_seq_end_code")) {
        EncoderSettings.omitSequenceEndCode = 1;
    } else if (EqualNoCase(name, "notskipB")) {
        EncoderSettings.noBFrameSkipping = 1;
    } else {
        return false;
    }
    return true;
}

bool CTessmarCommandLineInfo::ParseValuedSwitch(const std::string& item) {
    const size_t length = item.size();
    if (StartsNoCase(item, "statistical=") && (length == 13 || length == 14)) {
        long long n = ReadNumber(item.substr(12));
        EncoderSettings.statisticalLevel = static_cast<int>(n < 0 ? 0 : n > 40 ? 40 : n);
        return true;
    }
    if (StartsNoCase(item, "vbr_distrib=") && (length == 13 || length == 14)) {
        long long n = ReadNumber(item.substr(12));
        if (n >= 0 && n <= 40) EncoderSettings.vbrDistribution = static_cast<int>(n);
        return true;
    }
    if (StartsNoCase(item, "start_frame=") && length >= 13 && length <= 23) {
        long long n = ReadNumber(item.substr(12));
        if (n >= 0 && n <= 40000000) EncoderSettings.timeCodeStartFrame = static_cast<int>(n);
        return true;
    }
    if (StartsNoCase(item, "vbvstatfile=") && length >= 15 && length <= 269) {
        std::string name = item.substr(12);
        name = name.substr(0, name.find(' '));
        if (name.size() >= 2 && name.size() <= 254) {
            EncoderSettings.vbvStatisticsFileName = name;
            EncoderSettings.writeVbvStatistics = 1;
            platform::DebugOutput(platform::Format("write VBV statistics file %s\n", name.c_str()));
        }
        return true;
    }
    if (StartsNoCase(item, "blacklevel=") && (length == 12 || length == 13)) {
        long long n = ReadNumber(item.substr(11));
        EncoderSettings.blackLevel = static_cast<short>(n < 1 ? 1 : n > 64 ? 64 : n);
        return true;
    }
    return false;
}
