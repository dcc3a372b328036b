// The batch log "message.log": its opening lines, appended texts and the
// statistics report written after each job.
#pragma once

#include <string>
#include <vector>

struct EncoderSettingsRecord;

// The log of a batch whose output goes to `folder`.
std::string BatchLogPathFor(const std::string& folder);

// Appends the text unchanged to BatchLogFileName; a log that cannot be
// opened loses the text.
void AppendBatchLog(const std::string& text);

// Creates the log afresh with the profile and output lines; false when it
// could not be created.
bool CreateBatchLog(const std::string& profileDescription, const std::string& outputFolder);

// The report lines of a finished job, each ending in a line break.
std::vector<std::string> StatisticsReportLines(const EncoderSettingsRecord& settings, int inputFrameWidth,
                                               int inputFrameHeight, double averageQuality,
                                               double minimumQuality);
// Appends the report of the job the current settings describe.
void WriteStatisticsReport(int inputFrameWidth, int inputFrameHeight);
