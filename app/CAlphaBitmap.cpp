// Drawing a bitmap with a transparent colour.
#include "app/CAlphaBitmap.h"

#include <QPainter>

QImage MaskColour(const QImage& image, QRgb transparent) {
    QImage out = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb key = transparent & 0x00FFFFFFu;
    for (int y = 0; y < out.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x)
            row[x] = (row[x] & 0x00FFFFFFu) == key ? 0u : (row[x] | 0xFF000000u);
    }
    return out;
}

void CAlphaBitmap::DrawTransparent(QPainter& painter, int x, int y, QRgb transparent) const {
    if (image_.isNull()) return;
    painter.save();
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.drawImage(x, y, MaskColour(image_, transparent));
    painter.restore();
}
