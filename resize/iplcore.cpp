// The library's core: the per-thread status context, the error raiser and its
// default report (which ends the process), status texts and the version record.
#include <cstdlib>

#include "resize/BuildInfo.h"
#include "resize/iplcore.h"

namespace {

// The context lives in thread-local storage: created zero-filled on the thread's
// first use and gone with the thread, so no thread ever sees another's status.
struct ContextSlot {
    IplErrorContext context{};
    bool created = false;
};
thread_local ContextSlot tlsSlot;

// Module name of this build, kept in the binary beside the version record.
[[gnu::used]] const char kModuleName[] = ZRNRS_BUILD_NAME;

const IplLibVersion kVersion = {
    2, 5, 2, ZRNRS_BUILD_NAME, "2.5 Release", "[2.5.2.82, 09/05/2000]", "Sep  7 2000",
    "Microsoft*", nullptr, nullptr,
};

}  // namespace

IplErrorContext* GetIplContext()
{
    ContextSlot& slot = tlsSlot;
    if (!slot.created) {
        slot.context = IplErrorContext{};
        slot.context.status = 0;
        slot.context.errorMode = 0;
        slot.context.report = DefaultErrorReport;
        slot.created = true;
    }
    return &slot.context;
}

void SetErrStatus(int status) { GetIplContext()->status = status; }

int GetErrMode() { return GetIplContext()->errorMode; }

int RaiseIplError(int status, const char* function, const char* context, const char* file,
                  int line)
{
    IplErrorContext* ctx = GetIplContext();
    if (status != kIplStsBackTrace && status != kIplStsAutoTrace) {
        ctx->status = status;
        if (status == 0)
            return 0;
    }
    return ctx->report(status, function, context, file, line);
}

int DefaultErrorReport(int status, const char*, const char*, const char*, int)
{
    // Documented behaviour of the default mode: a raised error ends the process.
    if (GetErrMode() == 0)
        std::exit(1);
    return status;
}

const char* ErrorStatusText(int status)
{
    // The header codes of a mask share the texts of the image codes.
    static const char* const kHeaderTexts[] = {
        "Null pointer to an image header",
        "Mask. Incorrect image size",
        "Mask. Incorrect offset of ROI of the image",
        "Mask. Image must be tiled or must have nonzero data pointer",
        "Mask. Incorrect widthStep of the image",
        "Mask. Incorrect Color model or channel sequence of the image",
        "Mask. Incorrect number of channels in the image",
        "Number of channels for 1U depth image must be one",
        "Mask. Incorrect depth value in the image header",
        "Mask. Incorrect alpha channel number in the image header",
        "Mask. Incorrect data order value in the image header",
        "Mask. Incorrect data origin value in the image header",
        "Mask. Incorrect data alignment value in the image header",
        "Null pointer to callback function",
        "Incorrect size of the tile",
        "Mask. Incorrect COI of the image",
        "Mask. Incorrect size of ROI in the image header",
    };
    static const char kMaskPrefix[] = "Mask. ";
    switch (status) {
    case 0: return "No Error";
    case -1: return "Backtrace";
    case -3: return "Internal error (bad state)";
    case -4: return "Insufficient memory";
    case -5: return "Bad argument";
    case -6: return "Unsupported function";
    case -7: return "Iteration convergence failed";
    case -8: return "Autotrace call";
    case -26: return "Mask image is taled";
    case -27: return "Null pointer";
    case -28: return "Incorrect vector length";
    case -29: return "Incorrect filter structure content";
    case -30: return "Incorrect transform kernel content";
    case -31: return "Incorrect filter ofset value";
    default: break;
    }
    if (status <= -9 && status >= -25) {
        const char* text = kHeaderTexts[-9 - status];
        if (text[0] == 'M' && text[4] == '.')
            return text + sizeof(kMaskPrefix) - 1;
        return text;
    }
    if (status <= -110 && status >= -125 && status != -116 && status != -122 &&
        status != -123) {
        const char* text = kHeaderTexts[-109 - status];
        return text;
    }
    return "Unknown error or status code";
}

extern "C" int iplGetErrStatus(void) { return GetIplContext()->status; }

extern "C" const IplLibVersion* iplGetLibVersion(void) { return &kVersion; }
