// Words of the encoding job that the passes, the pumps and the panels share.
#pragma once

#include <cstdint>

extern int UserStopFlag;
extern int BatchStopRequested;
extern int AudioPassActive;
extern int MultiplexActive;
extern int VideoEngineStage;  // 0 idle, 1 finished, 2 output under examination
// 0 none, 1 pictures being coded, 2 sequence end written.
extern int VideoSequenceState;
extern int AudioAbortFlag;
extern int MultiplexFinished;
extern int EncodeAbortFlag;
extern uint32_t AudioPassStartMs;
extern uint32_t MuxStartMs;
