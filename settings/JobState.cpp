// Storage of the job's shared words.
#include "settings/JobState.h"

int UserStopFlag = 0;
int BatchStopRequested = 0;
int AudioPassActive = 0;
int MultiplexActive = 0;
int VideoEngineStage = 0;
int VideoSequenceState = 0;
int AudioAbortFlag = 0;
int MultiplexFinished = 0;
int EncodeAbortFlag = 0;
uint32_t AudioPassStartMs = 0;
uint32_t MuxStartMs = 0;
