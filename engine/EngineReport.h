// What the engine reports beyond its stream: quality figures, the statistics
// files and the timing reports.
#pragma once

#include <cstdint>
#include <cstdio>

struct EngineReportRecord {
    // Quality figures (0..100) when quality statistics are on.
    float PictureQuality = 0.0f, AverageQuality = 0.0f, MinimumQuality = 100.0f;
    // Number of the next picture in the quality average (1 first), and the picture of the minimum.
    int QualityPictureCount = 1, MinimumQualityFrame = 0;
    // 1 keeps the engine's own diagnostic lines off stderr.
    int QuietMode = 1;
    // Per-picture statistics file (null when none) and VBV statistics file.
    FILE* StatisticsFile = nullptr;
    FILE* VbvStatsFile = nullptr;
    int VbvStatsEnabled = 0;
    // Timing reports asked for on the command line ("ttt1", "tttt").
    int EngineTimingReport = 0, EngineTimingDetail = 0;
    // Milliseconds spent coding pictures and in the whole video pass, and the
    // tick the pass started at.
    uint32_t CompressionTimeMs = 0, TotalEncodingTimeMs = 0, EncodingStartTime = 0;
};
extern EngineReportRecord EngineReport;

// A line of the per-picture statistics file, written (in the C locale) only
// at statistics level 2.
void StatisticsLine(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
