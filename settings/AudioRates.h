// Audio bit rates the program offers, by channel mode and list index.
#pragma once

// kbit/s for list index 0..9: a mode below 1 (mono) offers 32..192, every other
// mode 64..384 (without 80). An index outside 0..9 gives 128.
int AudioBitrateFromIndex(int mode, int index);
