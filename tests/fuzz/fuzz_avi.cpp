// AVI files through the job's AVI source: open with its checks, frames at the
// encoded size (resized when the file's size differs), and the sound as the
// audio encoder pulls it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "job/AviSource.h"
#include "settings/EncoderSettings.h"
#include "settings/Report.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::SilenceMessageBoxes();
    BatchMode = 0;
    AviProbeActive = size % 2;
    EncoderSettings = EncoderSettingsRecord();
    EncoderSettings.inputType = 2;
    EncoderSettings.horizontalSize = 32;
    EncoderSettings.verticalSize = 16;
    const std::string path = fuzz::WriteInput("input.avi", fuzz::Bytes(data, size)).string();
    if (AviOpenInputFile(path.c_str()) == 1) {
        const int64_t first = AviGetVideoStartFrame(), end = AviGetVideoEndFrame();
        for (int64_t n : {first, first + 1, end - 1, end})
            AviReadVideoFrame(AviInput.AviFrameGetter.get(), n);
        AviTakeReadError();
        AviInfoTexts texts;
        AviFormatFileInfo(&texts);
        if (AviInput.AviAudioUsable) {
            AudioStartSample = AudioPosition = AviInput.AviAudioStart;
            AudioEndSample = AviInput.AviAudioStart + std::min<int64_t>(AviInput.AviAudioLength, 1 << 16);
            AviResetAudioState();
            std::vector<int16_t> block(2304);
            for (int i = 0; i < 64 && AviGetAudioData(block.data(), 2304) == 2304; ++i) {
            }
        }
    }
    AviCloseInputFile();
    return 0;
}
