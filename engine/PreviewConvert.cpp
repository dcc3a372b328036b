// Preview conversion: the choice of converters for the display depth, the
// 4:2:0 converter of the true-colour previews and the 24-bit frame and field
// converters.
#include "engine/PreviewConvert.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "engine/EngineState.h"
#include "settings/EncoderSettings.h"
#include "settings/Report.h"

PreviewConversionState PreviewConversion;
PreviewConversionOptions PreviewOptions;

bool OutputPreviewUsesChosenConverter() { return PreviewPictures.PaletteDisplay || PreviewOptions.outputThroughChosen; }
PreviewConverters PreviewConverterSet = {ConvertFrameRgb24, ConvertFieldRgb24First, ConvertFieldRgb24Second};

namespace {

// Tables of the 24-bit frame and field converters (1/256 units).
struct Rgb24TableSet {
    int32_t crToRed[256], cbToGreen[256], crToGreen[256], cbToBlue[256], luma[256];
};

const Rgb24TableSet& Rgb24Tables() {
    static const Rgb24TableSet tables = [] {
        Rgb24TableSet t{};
        for (int v = 0; v < 256; ++v) {
            t.crToRed[v] = 359 * (v - 128);
            t.cbToGreen[v] = -88 * (v - 128);
            t.crToGreen[v] = -183 * (v - 128);
            t.cbToBlue[v] = 454 * (v - 128);
            t.luma[v] = 298 * v;
        }
        return t;
    }();
    return tables;
}

uint8_t ClampByte(int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }

uint8_t Scaled256(int v) { return static_cast<uint8_t>(std::clamp(v, 0, 65280) >> 8); }

// Picture geometry the converters share.
struct PreviewGeometry {
    int width, height;
    ptrdiff_t lumaLine, chromaLine;
    int chromaFormat;
    const uint8_t* ChromaRow(const uint8_t* plane, int line) const {
        return plane + (chromaFormat == 1 ? line / 2 : line) * chromaLine;
    }
    int ChromaColumn(int x) const { return chromaFormat == 3 ? x : x / 2; }
};

PreviewGeometry Geometry() {
    PreviewGeometry g;
    g.width = EncoderSettings.horizontalSize;
    g.height = EncoderSettings.verticalSize;
    g.chromaFormat = PreviewConversion.chromaFormat;
    g.lumaLine = Sequence.EncodeWidth;
    g.chromaLine = g.chromaFormat == 3 ? Sequence.EncodeWidth : Sequence.ChromaWidth;
    return g;
}

bool Usable(const FramePlanes& planes, const uint8_t* bitmap, const PreviewGeometry& g) {
    return planes.y && planes.cb && planes.cr && bitmap && g.width > 0 && g.height > 0 && g.width <= g.lumaLine &&
           g.ChromaColumn(g.width - 1) < g.chromaLine;
}

void Rgb24Line(const uint8_t* luma, const uint8_t* cb, const uint8_t* cr, const PreviewGeometry& g, uint8_t* out) {
    const Rgb24TableSet& t = Rgb24Tables();
    for (int x = 0; x < g.width; ++x) {
        const int c = g.ChromaColumn(x);
        const int y = t.luma[luma[x]];
        out[3 * x] = Scaled256(y + t.cbToBlue[cb[c]]);
        out[3 * x + 1] = Scaled256(y + t.cbToGreen[cb[c]] + t.crToGreen[cr[c]]);
        out[3 * x + 2] = Scaled256(y + t.crToRed[cr[c]]);
    }
}

uint8_t* FrameTarget() {
    return PreviewConversion.bitmap ? PreviewConversion.bitmap : PreviewPictures.OutputPreviewBuffer;
}

void ConvertFieldRgb24(const FramePlanes& planes, uint8_t* bitmap, int field) {
    const PreviewGeometry g = Geometry();
    if (!Usable(planes, bitmap, g)) return;
    const ptrdiff_t row = 4 * ((3 * g.width + 3) / 4);
    const int lines = (g.height - field + 1) / 2;
    if (lines < 1) return;
    std::vector<uint8_t> average(static_cast<size_t>(g.width));
    for (int r = 0; r < g.height; ++r) {
        const int j = std::min(r / 2, lines - 1);
        const int source = 2 * j + field;
        const uint8_t* luma = planes.y + source * g.lumaLine;
        const uint8_t* cb = g.ChromaRow(planes.cb, source);
        const uint8_t* cr = g.ChromaRow(planes.cr, source);
        uint8_t* out = bitmap + (g.height - 1 - r) * row;
        if (r % 2 == 0 || lines == 1) {
            Rgb24Line(luma, cb, cr, g, out);
            continue;
        }
        // Between two field lines: their mean luma; after the last, the line before it stands in.
        const int other = j + 1 < lines ? source + 2 : source - 2;
        const uint8_t* second = planes.y + other * g.lumaLine;
        for (int x = 0; x < g.width; ++x) average[x] = static_cast<uint8_t>((luma[x] + second[x]) >> 1);
        Rgb24Line(average.data(), cb, cr, g, out);
    }
}

}  // namespace

void ConvertPreviewRowPlain(const uint8_t* luma, const uint8_t* cb, const uint8_t* cr, uint8_t* out, int width) {
    const YuvToRgbTableSet& t = YuvToRgbTables();
    for (int x = 0; x < width; ++x) {
        const int y = t.lumaScale[luma[x]], u = cb[x / 2], v = cr[x / 2];
        // The sums are clamped arithmetically: no sum can fall outside the byte range unnoticed.
        out[3 * x] = ClampByte(((y + t.cbToBlue[u]) >> 10) - 278);
        out[3 * x + 1] = ClampByte(((y + t.cbToGreen[u] + t.crToGreen[v]) >> 10) + 136);
        out[3 * x + 2] = ClampByte(((y + t.crToRed[v]) >> 10) - 224);
    }
}

PreviewKernels PreviewKernelSet = [] {
    PreviewKernels k;
    preview_init(false, k);
    return k;
}();

void preview_init(bool simd, PreviewKernels& kernels) {
    kernels.convertRow = simd ? ConvertPreviewRowSse2 : ConvertPreviewRowPlain;
}

const YuvToRgbTableSet& YuvToRgbTables() {
    static const YuvToRgbTableSet tables = [] {
        YuvToRgbTableSet t{};
        for (int v = 0; v < 256; ++v) {
            t.lumaScale[v] = 1192 * v;
            t.cbToBlue[v] = 2066 * v + 512;
            t.cbToGreen[v] = -400 * v;
            t.crToGreen[v] = -832 * v + 512;
            t.crToRed[v] = 1634 * v + 512;
        }
        return t;
    }();
    return tables;
}

// The tables are built on first use, once, whichever thread gets there first;
// start-up calls this so that the first preview does not pay for it.
void InitYuvToRgbTables() { (void)YuvToRgbTables(); }

void ConvertYuvToRgbPreview(const FramePlanes& planes, uint8_t* bitmap, int* done) {
    if (done) *done = 0;
    PreviewGeometry g = Geometry();
    g.chromaFormat = 1;
    g.chromaLine = Sequence.ChromaWidth;
    if (!Usable(planes, bitmap, g)) return;
    const PreviewRowFn convertRow = PreviewKernelSet.convertRow;
    const ptrdiff_t row = 4 * ((3 * g.width + 3) / 4);
    for (int y = 0; y < g.height; ++y)
        convertRow(planes.y + y * g.lumaLine, g.ChromaRow(planes.cb, y), g.ChromaRow(planes.cr, y),
                   bitmap + (g.height - 1 - y) * row, g.width);
    // Both panes' drawings read the size, each under its own lock: it is
    // written only when it changes, which the set-up's own setting leaves to
    // pictures of another size than the encoding's.
    if (PreviewPictures.PreviewPictureWidth != g.width) PreviewPictures.PreviewPictureWidth = g.width;
    if (PreviewPictures.PreviewPictureHeight != g.height) PreviewPictures.PreviewPictureHeight = g.height;
    if (done) *done = 1;
}

void ConvertFrameRgb24(const FramePlanes& planes) {
    uint8_t* bitmap = FrameTarget();
    if (PreviewConversion.chromaFormat == 1) {
        ConvertYuvToRgbPreview(
            planes, bitmap,
            bitmap == PreviewPictures.OutputPreviewBuffer ? &PreviewPictures.OutputPreviewReady : nullptr);
        return;
    }
    const PreviewGeometry g = Geometry();
    if (!Usable(planes, bitmap, g)) return;
    const ptrdiff_t row = 4 * ((3 * g.width + 3) / 4);
    for (int y = 0; y < g.height; ++y)
        Rgb24Line(planes.y + y * g.lumaLine, g.ChromaRow(planes.cb, y), g.ChromaRow(planes.cr, y), g,
                  bitmap + (g.height - 1 - y) * row);
}

void ConvertFieldRgb24First(const FramePlanes& planes, uint8_t* bitmap) { ConvertFieldRgb24(planes, bitmap, 0); }
void ConvertFieldRgb24Second(const FramePlanes& planes, uint8_t* bitmap) { ConvertFieldRgb24(planes, bitmap, 1); }

int InitDisplayConversion(int bitsPerPixel) {
    (void)DitherIndex(0, 128, 128, 0, false);  // builds the dither tables for every depth
    if (bitsPerPixel == 8) {
        const bool narrow = PreviewConversion.chromaFormat == 1;
        PreviewConverterSet = {ConvertFrameDither8, narrow ? ConvertFieldDither8First : ConvertFieldDither8FirstWide,
                               narrow ? ConvertFieldDither8Second : ConvertFieldDither8SecondWide};
        return 256;
    }
    // Any other depth keeps working true-colour converters, so a preview drawn
    // after the report still shows a picture.
    PreviewConverterSet = {ConvertFrameRgb24, ConvertFieldRgb24First, ConvertFieldRgb24Second};
    InitYuvToRgbTables();
    (void)Rgb24Tables();
    if (bitsPerPixel != 24) ReportFatalError("Unsupported dither type");
    return 256;
}

void ConvertPictureForPreview(const FramePlanes& planes) {
    const PreviewConverters& c = PreviewConverterSet;
    if (PreviewConversion.frameFlag) {
        c.frame(planes);
        return;
    }
    uint8_t* const* buffers = PreviewConversion.fieldBuffers;
    const int structure = PreviewConversion.pictureStructure;
    if (structure == 2 || (structure == 3 && PreviewConversion.topFieldFirst)) {
        c.firstField(planes, buffers[0]);
        c.secondField(planes, buffers[1]);
    } else {
        c.secondField(planes, buffers[0]);
        c.firstField(planes, buffers[1]);
    }
}

// ---------------------------------------------------------------------------
// 8-bit ordered dither.

namespace {

struct DitherTableSet {
    uint8_t lumaLevelStore[272];  // index -8..263: 16 x luma level (1..14)
    const uint8_t* lumaLevel;     // centre: lumaLevel[-8 .. 263]
    uint8_t cbLevel[144];         // 4 x chroma level (0..3), by half sample
    uint8_t crLevel[144];         // chroma level (0..3), by half sample
    uint8_t index[256];           // level sum to palette index
};

const DitherTableSet& DitherTables() {
    static const DitherTableSet tables = [] {
        DitherTableSet t{};
        for (int i = -8; i < 264; ++i) {
            const int level = i < 16 ? 1 : std::clamp(std::min(i, 255) >> 4, 1, 14);
            t.lumaLevelStore[i + 8] = static_cast<uint8_t>(16 * level);
        }
        t.lumaLevel = t.lumaLevelStore + 8;
        for (int i = 0; i < 144; ++i) {
            const int q = std::clamp((std::min(i, 137) - 40) >> 4, 0, 3);
            t.crLevel[i] = static_cast<uint8_t>(q);
            t.cbLevel[i] = static_cast<uint8_t>(4 * q);
        }
        for (int v = 0; v < 256; ++v) t.index[v] = static_cast<uint8_t>(std::clamp(v, 16, 240) - 16);
        return t;
    }();
    return tables;
}

// Chroma offsets of the four pixels of a group on the first and second line of
// a pair; the luma offset is always the chroma offset minus 8.
constexpr int ChromaDither[2][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}};

void DitherLine(const uint8_t* luma, const uint8_t* cb, const uint8_t* cr, const PreviewGeometry& g, bool secondLine,
                uint8_t* out) {
    const DitherTableSet& t = DitherTables();
    const int* offsets = ChromaDither[secondLine ? 1 : 0];
    for (int x = 0; x < g.width; ++x) {
        const int dc = offsets[x & 3];
        const int c = g.ChromaColumn(x);
        out[x] = t.index[t.lumaLevel[luma[x] + dc - 8] + t.cbLevel[(cb[c] >> 1) + dc] + t.crLevel[(cr[c] >> 1) + dc]];
    }
}

void ConvertFieldDither8(const FramePlanes& planes, uint8_t* bitmap, int field, bool wide) {
    PreviewGeometry g = Geometry();
    if (!wide) {
        g.chromaFormat = 1;
        g.chromaLine = Sequence.ChromaWidth;
    }
    if (!Usable(planes, bitmap, g)) return;
    const ptrdiff_t row = 4 * ((g.width + 3) / 4);
    const int lines = (g.height - field + 1) / 2;
    if (lines < 1) return;
    std::vector<uint8_t> average(static_cast<size_t>(g.width));
    for (int r = 0; r < g.height; ++r) {
        const int j = std::min(r / 2, lines - 1);
        const int source = 2 * j + field;
        const uint8_t* luma = planes.y + source * g.lumaLine;
        const uint8_t* cb = g.ChromaRow(planes.cb, source);
        const uint8_t* cr = g.ChromaRow(planes.cr, source);
        uint8_t* out = bitmap + (g.height - 1 - r) * row;
        if (r % 2 == 0 || lines == 1) {
            DitherLine(luma, cb, cr, g, false, out);
            continue;
        }
        const int other = j + 1 < lines ? source + 2 : source - 2;
        const uint8_t* second = planes.y + other * g.lumaLine;
        for (int x = 0; x < g.width; ++x) average[x] = static_cast<uint8_t>((luma[x] + second[x]) >> 1);
        DitherLine(average.data(), cb, cr, g, true, out);
    }
}

}  // namespace

int DitherIndex(int y, int cb, int cr, int column, bool secondLine) {
    const DitherTableSet& t = DitherTables();
    const int dc = ChromaDither[secondLine ? 1 : 0][column & 3];
    const int yv = std::clamp(y, 0, 255), cbv = std::clamp(cb, 0, 255), crv = std::clamp(cr, 0, 255);
    return t.index[t.lumaLevel[yv + dc - 8] + t.cbLevel[(cbv >> 1) + dc] + t.crLevel[(crv >> 1) + dc]];
}

void ConvertFrameDither8(const FramePlanes& planes) {
    uint8_t* bitmap = FrameTarget();
    const PreviewGeometry g = Geometry();
    if (!Usable(planes, bitmap, g)) return;
    const ptrdiff_t row = 4 * ((g.width + 3) / 4);
    for (int y = 0; y < g.height; ++y)
        DitherLine(planes.y + y * g.lumaLine, g.ChromaRow(planes.cb, y), g.ChromaRow(planes.cr, y), g, (y & 1) != 0,
                   bitmap + (g.height - 1 - y) * row);
}

void ConvertFieldDither8First(const FramePlanes& planes, uint8_t* bitmap) {
    ConvertFieldDither8(planes, bitmap, 0, false);
}
void ConvertFieldDither8Second(const FramePlanes& planes, uint8_t* bitmap) {
    ConvertFieldDither8(planes, bitmap, 1, false);
}
void ConvertFieldDither8FirstWide(const FramePlanes& planes, uint8_t* bitmap) {
    ConvertFieldDither8(planes, bitmap, 0, true);
}
void ConvertFieldDither8SecondWide(const FramePlanes& planes, uint8_t* bitmap) {
    ConvertFieldDither8(planes, bitmap, 1, true);
}
