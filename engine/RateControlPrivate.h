// Helpers the rate-control files share.
#pragma once

#include "engine/RateControl.h"

// The constant mode and the variable modes that plan the VBV.
inline bool RcPlannedVbv() {
    return RateControlState.RateControlMode == kRcConstant || RateControlState.RateControlMode >= kRcFirstPlannedVbr;
}

// Even value held in 2..62.
inline int RcEvenClamp(int q) {
    q &= ~1;
    return q < 2 ? 2 : q > 62 ? 62 : q;
}
