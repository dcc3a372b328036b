// The AVI frame reader's resize: two image headers over the reader's own
// buffers, one call of the resize library, and the headers freed again.
#include "job/AviFilters.h"

#include "resize/ipl.h"

namespace {

// Frees the header on every path; the pixels belong to the reader.
struct HeaderHolder {
    ImageHeader* header = nullptr;
    ~HeaderHolder() {
        if (header) iplDeallocate(header, IPL_IMAGE_HEADER);
    }
};

// A header that failed is told by its null pointer as well as by the status.
ImageHeader* CreateRgbHeader(int width, int height, uint8_t* pixels) {
    ImageHeader* h = iplCreateImageHeader(3, 0, IPL_DEPTH_8U, "RGB", "BGR", IPL_DATA_ORDER_PIXEL, IPL_ORIGIN_BL,
                                          IPL_ALIGN_4BYTES, width, height, nullptr, nullptr, nullptr, nullptr);
    if (h) h->imageData = reinterpret_cast<char*>(pixels);
    return h;
}

}  // namespace

bool ResizeRgb24(uint8_t* source, int sourceWidth, int sourceHeight, uint8_t* destination, int width, int height,
                 std::string* error) {
    HeaderHolder src, dst;
    src.header = CreateRgbHeader(sourceWidth, sourceHeight, source);
    dst.header = CreateRgbHeader(width, height, destination);
    if (!src.header || !dst.header || iplGetErrStatus() < 0) {
        *error = "Error in image resizing library";
        return false;
    }
    iplResize(src.header, dst.header, width, sourceWidth, height, sourceHeight,
              ChooseInterpolation(sourceWidth, sourceHeight, width, height));
    if (iplGetErrStatus() < 0) {
        *error = "Error in image resizing library, cannot resize image";
        return false;
    }
    iplDeallocate(src.header, IPL_IMAGE_HEADER);
    src.header = nullptr;
    iplDeallocate(dst.header, IPL_IMAGE_HEADER);
    dst.header = nullptr;
    if (iplGetErrStatus() < 0) {
        *error = "Error in image resizing library, cant deallocate temporary image";
        return false;
    }
    return true;
}
