// Raw YUV picture files ("%s.Y/.U/.V" or one "%s.yuv"), edge padding, the
// raw file names and the output-to-input frame mapping.
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "engine/EngineState.h"
#include "engine/Input.h"
#include "platform/Format.h"
#include "settings/EncoderSettings.h"
#include "settings/Report.h"

FrameRateConversionState FrameRateConversion;
InputStateRecord InputState;

void PadFrameEdges(uint8_t* plane, int width, int height, int lineLength, int paddedHeight) {
    if (!plane || width < 1 || height < 1 || width > lineLength) return;
    for (int i = 0; i < height; ++i) {
        uint8_t* line = plane + static_cast<std::ptrdiff_t>(i) * lineLength;
        std::memset(line + width, line[width - 1], static_cast<size_t>(lineLength - width));
    }
    const uint8_t* last = plane + static_cast<std::ptrdiff_t>(height - 1) * lineLength;
    for (int i = height; i < paddedHeight; ++i)
        std::memcpy(plane + static_cast<std::ptrdiff_t>(i) * lineLength, last, static_cast<size_t>(lineLength));
}

int MapOutputToInputFrame(int n) {
    if (!FrameRateConversion.enabled) return n;
    int m = static_cast<int>(n * FrameRateConversion.outputToInputRatio + 0.5);
    if (m < FrameRateConversion.aviFirstFrame) m = FrameRateConversion.aviFirstFrame;
    if (m >= FrameRateConversion.aviEndFrame) m = FrameRateConversion.aviEndFrame - 1;
    return m;
}

std::string FormatRawInputName(const std::string& pattern, int frame) {
    std::string out;
    bool filled = false;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%' || filled) {
            out += pattern[i];
            continue;
        }
        size_t j = i + 1;
        while (j < pattern.size() && std::strchr("-+ 0#", pattern[j])) ++j;
        const size_t widthStart = j;
        while (j < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[j]))) ++j;
        // Widths of more than two digits are not a frame number's; such text stays as it is.
        if (j - widthStart <= 2 && j < pattern.size() && std::strchr("diu", pattern[j])) {
            // Only flags and a width reach the formatter, never the user's other text.
            const std::string conversion = pattern.substr(i, j - i) + 'd';
            out += platform::Format(conversion.c_str(), frame);
            filled = true;
            i = j;
        } else {
            out += '%';
        }
    }
    return out;
}

namespace {

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// Reports the failure unless the read is a quiet one (a read ahead on a
// worker, which the picture's own read repeats when it failed).
int Fail(bool report, const std::string& text) {
    if (!report) return -1;
    ErrorMessageBuffer = text;
    ReportFatalError(ErrorMessageBuffer);
    return -1;
}

File OpenForReading(const std::string& fileName, bool report) {
    File f(std::fopen(fileName.c_str(), "rb"));
    if (!f) Fail(report, platform::Format("Couldn't open %s\n", fileName.c_str()));
    return f;
}

// Reads `height` lines of `width` bytes into the plane and pads it; a file
// that ends early is an error, so no stale samples pass as a picture.
int ReadPlane(FILE* f, const std::string& fileName, uint8_t* plane, int width, int height, int lineLength,
              int paddedHeight, bool report) {
    // One read of the packed lines, then each line moved out to its place,
    // the last first (a line only ever moves to a higher address).
    const size_t bytes = static_cast<size_t>(width) * height;
    const size_t got = std::fread(plane, 1, bytes, f);
    if (got != bytes) {
        if (std::ferror(f)) return Fail(report, platform::Format("Couldn't read %s\n", fileName.c_str()));
        return Fail(report, platform::Format("Couldn't read %s: the file ends before the picture is complete\n",
                                             fileName.c_str()));
    }
    if (lineLength != width)
        for (int i = height - 1; i > 0; --i)
            std::memmove(plane + static_cast<std::ptrdiff_t>(i) * lineLength,
                         plane + static_cast<std::ptrdiff_t>(i) * width, static_cast<size_t>(width));
    PadFrameEdges(plane, width, height, lineLength, paddedHeight);
    return 0;
}

int ReadRawPlanes(const std::string& name, const FramePlanes& planes, int type, bool report) {
    const int w = EncoderSettings.horizontalSize, h = EncoderSettings.verticalSize;
    if (w < 2 || h < 2 || w > Sequence.EncodeWidth || h > Sequence.EncodeHeight || !planes.y || !planes.cb ||
        !planes.cr)
        return -1;
    struct PlaneRead {
        uint8_t* plane;
        int width, height, line, padded;
        const char* suffix;
    };
    const PlaneRead reads[3] = {{planes.y, w, h, Sequence.EncodeWidth, Sequence.EncodeHeight, ".Y"},
                                {planes.cb, w >> 1, h >> 1, Sequence.ChromaWidth, Sequence.ChromaHeight, ".U"},
                                {planes.cr, w >> 1, h >> 1, Sequence.ChromaWidth, Sequence.ChromaHeight, ".V"}};
    if (type == 0) {
        for (const PlaneRead& r : reads) {
            const std::string fileName = name + r.suffix;
            File f = OpenForReading(fileName, report);
            if (!f) return -1;
            if (ReadPlane(f.get(), fileName, r.plane, r.width, r.height, r.line, r.padded, report) < 0) return -1;
        }
        return 0;
    }
    const std::string fileName = name + ".yuv";
    File f = OpenForReading(fileName, report);
    if (!f) return -1;
    for (const PlaneRead& r : reads)
        if (ReadPlane(f.get(), fileName, r.plane, r.width, r.height, r.line, r.padded, report) < 0) return -1;
    return 0;
}

}  // namespace

int ReadRawFrame(const std::string& name, const FramePlanes& planes, int type) {
    return ReadRawPlanes(name, planes, type, true);
}

int ReadRawFrameQuietly(const std::string& name, const FramePlanes& planes, int type) {
    return ReadRawPlanes(name, planes, type, false);
}

int ReadInputFrame(const std::string& name, const FramePlanes& planes) {
    switch (EncoderSettings.inputType) {
        case 0:
        case 1:
            return ReadRawFrame(name, planes, EncoderSettings.inputType);
        case 2:
            return ReadAviFrame(planes);
        default:
            return 0;
    }
}
