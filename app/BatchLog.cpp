// Writing the batch log. Each append opens and closes the file, so the log
// stays complete when the program ends abruptly.
#include "app/BatchLog.h"

#include <cstdio>

#include "engine/EngineState.h"
#include "platform/Format.h"
#include "platform/ResStrings.h"
#include "settings/EncoderSettings.h"
#include "settings/Report.h"

std::string BatchLogPathFor(const std::string& folder) {
    std::string path = folder;
    if (!path.empty() && path.back() != '/') path += '/';
    return path + "message.log";
}

void AppendBatchLog(const std::string& text) {
    FILE* log = std::fopen(BatchLogFileName.c_str(), "a");
    if (!log) return;
    std::fputs(text.c_str(), log);
    std::fclose(log);
}

bool CreateBatchLog(const std::string& profileDescription, const std::string& outputFolder) {
    FILE* log = std::fopen(BatchLogFileName.c_str(), "w");
    if (!log) return false;
    std::fprintf(log, "%s\n", (LoadResString(64100) + profileDescription).c_str());
    std::fprintf(log, "%s\n", (LoadResString(64101) + outputFolder).c_str());
    return std::fclose(log) == 0;
}

std::vector<std::string> StatisticsReportLines(const EncoderSettingsRecord& settings, int inputFrameWidth,
                                               int inputFrameHeight, double averageQuality,
                                               double minimumQuality) {
    using platform::Format;
    platform::CLocaleScope cLocale;
    auto fits = [](const std::string& text) { return !text.empty() && text.size() < 256; };
    std::vector<std::string> lines;
    if (fits(settings.profileDescription)) lines.push_back("\nEncoding statistics information:");
    if (fits(settings.inputFileName)) lines.push_back(Format("Input file %s", settings.inputFileName.c_str()));
    lines.push_back(Format("Input file frame format %d x %d", inputFrameWidth, inputFrameHeight));
    if (fits(settings.outputFileName)) lines.push_back(Format("Output file %s", settings.outputFileName.c_str()));
    lines.push_back(Format("Output file frame format %d x %d", settings.horizontalSize, settings.verticalSize));
    if (settings.rateControl == kRateConstant) {
        lines.push_back(Format("Constant bit rate  %ld bits/sec", static_cast<long>(settings.bitRate)));
    } else {
        lines.push_back(Format("Variable bit rate\n\tmaximum bit rate  %ld bits/sec",
                               static_cast<long>(settings.maxBitRate)));
        switch (settings.vbrMode) {
        case 1:
            lines.push_back(Format("Averge bit rate  %ld bits/sec", static_cast<long>(settings.averageBitRate)));
            break;
        case 2:
            lines.push_back(Format("Approxiamte averge bit rate without VBV buffer control %ld bits/sec",
                                   static_cast<long>(settings.averageBitRate)));
            break;
        case 3:
            lines.push_back(Format("Constant quntize without VBV control  qunat scale %d ",
                                   settings.constantQuantScale));
            break;
        case 4: lines.push_back(Format("Constant quntization scale %d ", settings.constantQuantScale)); break;
        case 5:
            lines.push_back(Format("Quntization scale %d and limits of average bit rate \n"
                                   "\tlower limit of average bit rate %d\n\tupper limit of average bit rate %d\n",
                                   settings.constantQuantScale, static_cast<int>(settings.averageBitRateLower),
                                   static_cast<int>(settings.averageBitRateUpper)));
            break;
        default: break;
        }
    }
    lines.push_back(Format("Encoder performance mode %d ", settings.performanceMode));
    if (averageQuality > 0.0) lines.push_back(Format("Average quality      %.2f", averageQuality));
    if (minimumQuality >= 0.0 && minimumQuality < 100.0)
        lines.push_back(Format("Minimum quality      %.2f", minimumQuality));
    // Each text is a line of its own in the log.
    for (std::string& line : lines)
        if (line.empty() || line.back() != '\n') line += '\n';
    return lines;
}

void WriteStatisticsReport(int inputFrameWidth, int inputFrameHeight) {
    for (const std::string& line : StatisticsReportLines(EncoderSettings, inputFrameWidth, inputFrameHeight,
                                                         EngineReport.AverageQuality, EngineReport.MinimumQuality))
        AppendBatchLog(line);
}
