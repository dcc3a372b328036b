// The arithmetic of the advanced settings sheet, free of widgets: which pages
// it shows, the page values derived from the settings, the checks on OK and
// the write-back of what the user changed.
#pragma once

#include <string>
#include <vector>

#include "platform/MessageBox.h"
#include "settings/EncoderSettings.h"

// The pages in the order the sheet adds them (the MPEG-1 and MPEG-2 pages
// share a place).
enum class AdvancedPage {
    MotionVectors,
    Sequence,
    Performance,
    Sync,
    Headers,
    Audio,
    Files,
    System,
    Special,
    Mpeg1,
    Mpeg2,
    Input,
    Processes,
    BitrateControl,
    Edges,
};

// What the sheet needs to know of the main settings form.
struct AdvancedSheetForm {
    bool mpeg2 = false;          // the "Mpeg-2" radio button
    bool audio = false;          // the "Audio" check box
    bool dvd = false;            // the "DVD" check box (MPEG-2 only)
    bool svcd = false;           // the "SVCD" check box (MPEG-2 only)
    bool formReady = true;       // the form has finished its own initialisation
    int interlaceSelection = 0;  // 0 progressive
    int keepDuration = 1;        // the form's keep-duration choice; the sheet may change it
    int aviChannels = 0;         // audio channels of the open AVI input, 0 without one
};

// The engine's worker-thread options as the Processes page edits them.
struct ThreadOptionValues {
    int meThreads = 1;
    int read = 0, draw = 0, encode = 0, tables = 0;
    bool operator==(const ThreadOptionValues&) const = default;
};

// The Bitrate Control page's index of a stored rate-control or VBR mode.
constexpr int PageIndex(int storedMode) { return storedMode - 1; }

// Every value the pages edit, in the units the pages show.
struct AdvancedPageValues {
    // Motion Vectors: horizontal, vertical.
    int pRange[2] = {32, 32};
    int bRange[2] = {16, 16};
    // Sequence.
    int pCount = 3;
    int bCount = 2;
    // Performance.
    int performanceMode = 3;
    int qualityStatistics = 0;
    // Sync.
    int keepDuration = 1;
    // Headers.
    int closedGop = 0;
    int sequenceHeader = 0;
    // Audio.
    int audioMode = 1;
    int audioBitRateIndex = 3;
    int audioBitRate = 128;
    // Files.
    std::string tempVideoName;
    std::string tempAudioName;
    int deleteTempVideo = 1;
    int deleteTempAudio = 1;
    // System.
    int packSize = 2048;
    int packetsPerPack = 1;
    int audioBufferKb = 4;
    int videoBufferKb = 46;
    int muxConstantRate = 0;
    // Special.
    int skipBFrames = 0;
    // MPEG-1.
    int constrainedParameters = 1;
    int mpeg1Aspect = 1;
    // MPEG-2.
    int profileLevel = 1;
    int videoFormat = 2;
    int mpeg2Aspect = 2;
    int mpeg2MuxConstantRate = 0;
    int sequenceDisplayExtension = 0;
    // Input.
    int filterChoice = 0;  // 0 none, 1 median, 2 low pass
    int medianStrength = 30;
    int lowPassStrength = 30;
    int inverseTelecine = 0;
    int deinterlace = 0;
    // Processes.
    ThreadOptionValues threads;
    // Bitrate Control: indexes are the stored values minus 1 (PageIndex), rates in kbit/s.
    int rateControlIndex = PageIndex(kRateConstant);
    int vbrModeIndex = PageIndex(kVbrAverage);
    int averageKbps = 0;
    int quantScale = 4;
    int upperKbps = 0;
    int lowerKbps = 0;
    int maxKbps = 0;
    // Edges.
    int topLines = 0;
    int bottomLines = 0;

    bool operator==(const AdvancedPageValues&) const = default;
};

// Brings the settings in line with the form before the sheet is built: the
// application type follows the DVD and SVCD boxes for MPEG-2 and drops them
// for MPEG-1, whose interlace selection counts as progressive.
void PrepareAdvancedSheet(AdvancedSheetForm& form, EncoderSettingsRecord& s);

// The pages the sheet shows, in order.
std::vector<AdvancedPage> AdvancedPagesFor(const AdvancedSheetForm& form, const EncoderSettingsRecord& s);
bool AdvancedPageShown(AdvancedPage page, const AdvancedSheetForm& form, const EncoderSettingsRecord& s);

// The page values as the settings give them. A damaged profile's M of 0 or
// less counts as 1 rather than dividing by it.
AdvancedPageValues PageValuesFromSettings(const EncoderSettingsRecord& s, const AdvancedSheetForm& form,
                                          const ThreadOptionValues& threads);

// The picture pattern of one group of pictures for the Sequence page; empty
// for nothing, and the error text when B pictures come without P pictures.
std::string SequencePatternText(int pCount, int bCount);
bool SequencePatternIsError(int pCount, int bCount);

// The standard message of a number field outside its limits or not a number.
std::string RangeMessage(int minimum, int maximum);
std::string NotANumberMessage();

// The Bitrate Control page's consistency check of variable bit rate; empty
// when the values fit together.
std::string BitrateControlProblem(const AdvancedPageValues& v);

// One failing check of the sheet on OK.
struct SheetCheck {
    bool question = false;  // a Yes/No box, Yes returns to the sheet
    std::string text;
    platform::MbIcon icon = platform::MbIcon::Warning;
    bool namesPage = false;
    AdvancedPage page = AdvancedPage::MotionVectors;
};

// Every check of the OK button that fails, in the order they are asked.
// `baseline` is what the sheet started from. A check belonging to a page the
// sheet does not show is skipped: its values could not be corrected.
std::vector<SheetCheck> FailedSheetChecks(const AdvancedPageValues& values, const AdvancedPageValues& baseline,
                                          const AdvancedSheetForm& form, const EncoderSettingsRecord& s);

// What the write-back did beyond the settings themselves.
struct WriteBackOutcome {
    bool modified = false;            // some page value differs from where it started
    bool threadOptionsChanged = false;  // the thread options need saving
    bool audioChanged = false;        // mode or index changed: the bit rate is looked up again
};

// Writes into `s`, `form` and `threads` every value that differs from the
// value the sheet derived when it opened, so that stored values a page can
// only show approximately (bit rates not a multiple of 1024 bit/s, a group
// not a multiple of M, profile and level pairs outside the list) survive an
// OK unless the user changed them.
WriteBackOutcome WriteBackPageValues(const AdvancedPageValues& values, const AdvancedPageValues& baseline,
                                     EncoderSettingsRecord& s, AdvancedSheetForm& form,
                                     ThreadOptionValues& threads);

// The profile and level of the MPEG-2 page's list entry 0..3.
void ProfileLevelOfIndex(int index, int* profile, int* level);
