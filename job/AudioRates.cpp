// Audio bit rates the program offers: ten Layer II bit rates per row, one row
// for mono and one for two channels (which leaves out 80 kbit/s).
#include "job/AudioRates.h"

namespace {
constexpr int kMonoKbps[10] = {32, 48, 56, 64, 80, 96, 112, 128, 160, 192};
constexpr int kTwoChannelKbps[10] = {64, 96, 112, 128, 160, 192, 224, 256, 320, 384};
}  // namespace

int AudioBitrateFromIndex(int mode, int index) {
    if (static_cast<unsigned>(index) > 9u) return 128;
    return mode < 1 ? kMonoKbps[index] : kTwoChannelKbps[index];
}
