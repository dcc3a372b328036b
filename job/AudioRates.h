// Audio bit rates the program offers, by channel mode and list index.
#pragma once

// kbit/s for list index 0..9: mode 0 (mono) offers 32..192, every other mode
// 64..384. An index outside 0..9 gives 128.
int AudioBitrateFromIndex(int mode, int index);
