// A bitmap drawn with one colour left transparent (the form's and the
// progress panels' pictures, always with white as that colour).
#pragma once

#include <QColor>
#include <QImage>

class QPainter;

// The image with every pixel of `transparent` (alpha ignored) made fully
// transparent; other pixels keep their colour, opaque.
QImage MaskColour(const QImage& image, QRgb transparent);

class CAlphaBitmap {
public:
    CAlphaBitmap() = default;
    explicit CAlphaBitmap(QImage image) : image_(std::move(image)) {}
    virtual ~CAlphaBitmap() = default;

    bool Load(const QString& file) { return image_.load(file); }
    const QImage& Image() const { return image_; }
    int Width() const { return image_.width(); }
    int Height() const { return image_.height(); }

    // Draws the whole bitmap with its top-left corner at (x, y); pixels of
    // the transparent colour leave the destination as it was.
    virtual void DrawTransparent(QPainter& painter, int x, int y, QRgb transparent) const;

private:
    QImage image_;
};
