// Audio bit rates the program offers: ten Layer II bit rates per row, one row
// for mono and one for two channels (which leaves out 80 kbit/s).
#include "settings/AudioRates.h"

#include "muxlib/StreamTables.h"

int AudioBitrateFromIndex(int mode, int index) {
    if (static_cast<unsigned>(index) > 9u) return 128;
    // Layer II bit-rate indexes: mono offers 1..10 (32..192), two channels 4 and 6..14 (64, 96..384).
    const int rateIndex = mode < 1 ? index + 1 : index == 0 ? 4 : index + 5;
    return static_cast<int>(muxtables::Layer2Kbps[rateIndex]);
}
