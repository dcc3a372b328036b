// The engine's process-wide records, each kept by the module that owns it:
// the sequence (set-up), the picture and the driver's own (picture driver),
// the input path's, the previews (preview drawing) and the reports.
#pragma once

#include "engine/Encoder.h"
#include "engine/EngineReport.h"
#include "engine/Input.h"
#include "engine/PictureDriver.h"
#include "engine/PreviewConvert.h"
