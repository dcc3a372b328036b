// The AVI side of the input path: fetch the mapped frame from the cache,
// check it, expand palettes, paint the black borders, hand it to the
// deinterlacer and the input preview, convert it to YUV 4:2:0, filter and pad.
#include <algorithm>
#include <mutex>

#include "engine/EngineState.h"
#include "engine/Input.h"
#include "engine/InputBitmap.h"
#include "platform/Format.h"
#include "settings/EncoderSettings.h"
#include "settings/JobUtil.h"
#include "settings/Report.h"

namespace {

int Fail(const std::string& text) {
    ErrorMessageBuffer = text;
    ReportFatalError(ErrorMessageBuffer);
    return -1;
}

}  // namespace

int ReadAviFrame(const FramePlanes& planes) {
    if (!InputAvi.isOpen || !InputAvi.isOpen() || !InputAvi.readFrame)
        return Fail(" AVI library has not been initialized ");
    const int w = EncoderSettings.horizontalSize, h = EncoderSettings.verticalSize;
    if (w < 2 || h < 2 || w > Sequence.EncodeWidth || h > Sequence.EncodeHeight || !planes.y || !planes.cb ||
        !planes.cr)
        return -1;

    CurrentPicture.CurrentInputFrame = MapOutputToInputFrame(InputState.CurrentFrameNumber);
    bool reported = false;
    const uint8_t* bitmap = FetchInputFrame(CurrentPicture.CurrentInputFrame, reported);
    if (!bitmap) {
        if (reported) return -1;
        return Fail(platform::Format(
            "Failed to read frame %ld from AVI file.\n\nVFW file reader has exceeded the 2GB limitation\nthat exists "
            "in AVI 1.0 file structure.\n\nPlease reduce the number of frames to encode.\n",
            static_cast<long>(InputState.CurrentFrameNumber)));
    }
    const BitmapInfo info = ReadBitmapInfo(bitmap);
    if (info.width != w)
        return Fail("MPEG Image width different from AVI file frame width.\n Size convertion not supported. ");
    if (info.height != h)
        return Fail("MPEG Image height greate then AVI file frame height.\n Size convertion not supported.");
    // A longer palette than 8 bits can index would place the pixels past the slot.
    if (info.paletteCount > 256 || (info.bits != 24 && info.bits != 8))
        return Fail(" Cannot read image from AVI file. \n Unsupported image format. ");

    const int rowBytes = (3 * w + 3) & ~3;
    const uint8_t* palette = bitmap + BitmapHeaderSize;
    // The frame is ours to change: it lies in a cache slot or the direct buffer.
    uint8_t* rgb = const_cast<uint8_t*>(palette + 4 * info.paletteCount);

    const bool preview = EncoderSettings.showInput != 0;
    std::unique_lock<std::mutex> previewLock(PreviewPictures.InputPreviewLock, std::defer_lock);
    if (preview) previewLock.lock();
    if (info.bits == 8) {
        if (info.paletteCount == 0) return Fail(" Cannot get image bitmap palette from AVI file. ");
        uint8_t* target;
        if (preview) {
            if (!PreviewPictures.InputPreviewBuffer)
                return Fail(
                    " Cannot read palette based AVI file. Array for input frame RGB buffer is not allocated. ");
            target = PreviewPictures.InputPreviewBuffer;
        } else {
            if (!InputState.InputRgbBuffer)
                InputState.InputRgbBuffer = static_cast<uint8_t*>(AllocAligned(static_cast<size_t>(rowBytes) * h + 32));
            if (!InputState.InputRgbBuffer)
                return Fail(" Cannot read palette based AVI file. Array for RGB buffer is not allocated. ");
            target = InputState.InputRgbBuffer;
        }
        ExpandPaletteFrame(rgb, palette, info.paletteCount, w, h, target);
        rgb = target;
    }

    ClearBorderRows(rgb, rowBytes, h, EncoderSettings.bottomBorderLines, EncoderSettings.topBorderLines,
                    Sequence.EncodeHeight - 2);

    const bool sourceDeinterlaces = InputAvi.deinterlacesItself && InputAvi.deinterlacesItself();
    if (EncoderSettings.deinterlace && !EncoderSettings.interlacedCoding && !sourceDeinterlaces &&
        DeinterlaceAndAnalyseFrame)
        rgb = DeinterlaceAndAnalyseFrame(rgb, w, h, rowBytes, info.bits);

    if (preview) {
        // A copy, not a pointer into the cache: the read-ahead may reuse the
        // slot while the preview is still drawn from it.
        if (PreviewPictures.InputPreviewBuffer && rgb != PreviewPictures.InputPreviewBuffer)
            CopyBytesFast(PreviewPictures.InputPreviewBuffer, rgb, static_cast<size_t>(rowBytes) * h);
        PreviewPictures.InputPreviewPixels =
            PreviewPictures.InputPreviewBuffer ? PreviewPictures.InputPreviewBuffer : rgb;
        PreviewPictures.InputPreviewReady = 1;
        previewLock.unlock();
    }
    if (InputState.InputPreviewOnly) return 0;

    const bool filter = InputState.InputFilterOn && InputState.FilterPlane;
    ConvertRgbFrameToYuv(rgb, w, h, filter ? InputState.FilterPlane : planes.y, Sequence.EncodeWidth, planes.cb,
                         planes.cr, Sequence.ChromaWidth, EncoderSettings.blackLevel);
    if (filter) FilterInputLuma(planes.y, w, h, Sequence.EncodeWidth);
    if (w < Sequence.EncodeWidth || h < Sequence.EncodeHeight) {
        PadFrameEdges(planes.y, w, h, Sequence.EncodeWidth, Sequence.EncodeHeight);
        PadFrameEdges(planes.cb, w >> 1, h >> 1, Sequence.ChromaWidth, Sequence.ChromaHeight);
        PadFrameEdges(planes.cr, w >> 1, h >> 1, Sequence.ChromaWidth, Sequence.ChromaHeight);
    }
    return 0;
}
