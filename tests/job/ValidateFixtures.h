// Shared set-up of the settings-check tests: a clean settings record per
// test, scripted message boxes, a batch log in a temporary folder, and
// representative settings of each disc format and MPEG-2 level.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/MessageBox.h"
#include "settings/EncoderSettings.h"
#include "tests/support/TestSupport.h"

namespace validatetest {

using Mutation = std::function<void(EncoderSettingsRecord&)>;

// Restores the process-wide words the checks touch when it ends.
class CheckScope {
public:
    CheckScope();
    ~CheckScope();
    platform::ScriptedMessageBoxes boxes;
    testsupport::TempDir dir;
    // Switches the reporters to the batch log (BatchMode 2).
    void UseBatchLog();
    std::string BatchLog() const;

private:
    int previousBatchMode_;
    std::string previousLogName_;
};

// Settings that pass every check of their format (applicationType set).
EncoderSettingsRecord VcdSettings(int applicationType);  // a Video-CD or CD-i type; NTSC 352x240
EncoderSettingsRecord VcdPalSettings(int applicationType);
EncoderSettingsRecord DvdSettings();      // MPEG-2 MP@ML 720x480 NTSC interlaced
EncoderSettingsRecord DvdPalSettings();   // MPEG-2 MP@ML 720x576 PAL interlaced
EncoderSettingsRecord DvdMpeg1Settings(); // 352x240 NTSC
EncoderSettingsRecord SvcdSettings();     // MPEG-2 MP@ML 480x480 NTSC interlaced
EncoderSettingsRecord SvcdPalSettings();
// Main profile at the given level, 25 frames/s, at that level's largest size.
EncoderSettingsRecord Mpeg2LevelSettings(int level);
EncoderSettingsRecord Mpeg1Settings();    // constrained 352x240 at 29.97

}  // namespace validatetest
