// Stand-in for the AVI input until the AVI source is in place: no input is
// ever open. Removed when the real source arrives.
#include "job/AviSource.h"

int AviRequestedChannels = 0;

int AviGetVideoRate() { return 0; }
int AviGetVideoScale() { return 0; }
