// Storage of the engine's report words.
#include "engine/EngineReport.h"

EngineReportRecord EngineReport;
