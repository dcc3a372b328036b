// The preview container, its panes and their drawing.
#include "app/PreviewPanes.h"

#include <QFontMetrics>
#include <QLinearGradient>
#include <QMetaObject>
#include <QPainter>
#include <QPointer>
#include <QThread>
#include <mutex>

#include "app/AppSettings.h"
#include "app/ViewLogic.h"
#include "engine/EngineState.h"
#include "platform/ResStrings.h"
#include "settings/EncoderSettings.h"
#include "settings/Preview.h"
#include "settings/RunState.h"

int PanesReady = 0;
QImage IdlePictureBitmap;
int IdlePictureLoaded = 0;
CStatView* StatViewInstance = nullptr;

namespace {

// The pane captions' font, and the strip below the framed area that holds a
// caption whole, descenders included.
QFont CaptionFont() {
    QFont font("MS Sans Serif");
    font.setPixelSize(16);
    font.setWeight(QFont::Medium);
    font.setStyleHint(QFont::TypeWriter);
    return font;
}

int CaptionStripHeight() { return QFontMetrics(CaptionFont()).height() + 2; }

QRect ToQRect(const ViewRect& r) { return QRect(r.x, r.y, r.width, r.height); }

int PictureBorder() { return NtVersion351 ? 1 : 2; }

bool PaneShown(int pane) { return (pane == kInputPane ? EncoderSettings.showInput : EncoderSettings.showOutput) != 0; }

}  // namespace

void LoadIdlePicture() {
    if (IdlePictureLoaded) return;
    QImage picture(350, 238, QImage::Format_RGB32);
    QPainter p(&picture);
    QLinearGradient sky(0, 0, 0, 238);
    sky.setColorAt(0, QColor(16, 40, 96));
    sky.setColorAt(1, QColor(4, 8, 24));
    p.fillRect(picture.rect(), sky);
    p.setPen(QColor(200, 210, 240));
    QFont font = p.font();
    font.setPixelSize(40);
    font.setBold(true);
    p.setFont(font);
    p.drawText(picture.rect().adjusted(0, 0, 0, -30), Qt::AlignCenter, "Tessmar");
    font.setPixelSize(14);
    font.setBold(false);
    p.setFont(font);
    p.drawText(picture.rect().adjusted(0, 60, 0, 0), Qt::AlignCenter, "MPEG encoder");
    p.end();
    IdlePictureBitmap = picture;
    IdlePictureLoaded = 1;
}

QImage PreviewBlitImage(const PreviewBlit& b) {
    if (!b.pixels || b.srcWidth < 1 || b.srcHeight < 1 || b.srcX < 0 || b.srcY < 0 ||
        b.srcX + b.srcWidth > b.bufferWidth || b.srcY + b.srcHeight > b.bufferHeight)
        return QImage();
    const bool indexed = b.bitsPerPixel == 8;
    if (!indexed && b.bitsPerPixel != 24) return QImage();
    if (indexed && (!b.palette || b.colorsUsed < 1)) return QImage();
    const int64_t stride = 4 * ((static_cast<int64_t>(b.bufferWidth) * (indexed ? 1 : 3) + 3) / 4);
    if (b.imageBytes > 0 && stride * b.bufferHeight > b.imageBytes + stride) return QImage();
    QImage image(b.srcWidth, b.srcHeight, QImage::Format_RGB32);
    for (int row = 0; row < b.srcHeight; ++row) {
        // Bitmap rows count from the bottom.
        const int from = b.srcY + b.srcHeight - 1 - row;
        const uint8_t* in = b.pixels + from * stride;
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(row));
        for (int x = 0; x < b.srcWidth; ++x) {
            const int sx = b.srcX + x;
            if (indexed) {
                const int i = in[sx];
                out[x] = 0xFF000000u | (i < b.colorsUsed ? b.palette[i] : 0u);
            } else {
                out[x] = qRgb(in[3 * sx + 2], in[3 * sx + 1], in[3 * sx]);
            }
        }
    }
    if (b.dstWidth > 0 && b.dstHeight > 0 && (b.dstWidth != b.srcWidth || b.dstHeight != b.srcHeight))
        return image.scaled(b.dstWidth, b.dstHeight, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    return image;
}

// ---- picture window ----

CPictureWindow::CPictureWindow(int pane, QWidget* parent) : QWidget(parent), pane_(pane) {
    setObjectName(pane == kInputPane ? "inputPicture" : "outputPicture");
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QRect CPictureWindow::ClientRect() const {
    const int border = PictureBorder();
    return rect().adjusted(border, border, -border, -border);
}

void CPictureWindow::TakeFrame(const QImage& frame, const QRect& target) {
    frame_ = frame;
    frameTarget_ = target;
    if (!painting_) update();
}

void CPictureWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect client = ClientRect();
    // A sunken border around the picture.
    p.fillRect(rect(), palette().color(QPalette::Dark));
    p.setPen(palette().color(QPalette::Light));
    p.drawLine(rect().bottomLeft(), rect().bottomRight());
    p.drawLine(rect().topRight(), rect().bottomRight());
    p.fillRect(client, Qt::black);

    // Let the preview drawing draw the current frame (it comes back through TakeFrame).
    painting_ = true;
    std::mutex& lock = pane_ == kInputPane ? PreviewPictures.InputPreviewLock : PreviewPictures.OutputPreviewLock;
    if (lock.try_lock()) {
        if (pane_ == kInputPane)
            DrawInputPreviewIfShown(this);
        else
            DrawOutputPreviewIfShown(this);
        lock.unlock();
    }
    painting_ = false;
    const int drawn = pane_ == kInputPane ? InputPreviewDrawn : OutputPreviewDrawn;
    if (drawn && !frame_.isNull()) {
        p.drawImage(frameTarget_.translated(client.topLeft()), frame_);
        return;
    }
    if (RunState == 2 || !IdlePictureLoaded || IdlePictureBitmap.isNull()) return;
    const IdlePicturePlacement place =
        PlaceIdlePicture(client.width(), client.height(), IdlePictureBitmap.width(), IdlePictureBitmap.height());
    if (!place.draw) return;
    p.drawImage(ToQRect(place.target).translated(client.topLeft()), IdlePictureBitmap);
}

// ---- framed area ----

CFramedArea::CFramedArea(int pane, QWidget* parent)
    : QWidget(parent), pane_(pane),
      picture_(pane == kInputPane ? static_cast<CPictureWindow*>(new CMLeftWnd2(this))
                                  : static_cast<CPictureWindow*>(new CMRightWnd2(this))) {
    setObjectName(pane == kInputPane ? "inputFrame" : "outputFrame");
    picture_->setGeometry(0, 0, kDefaultPictureWidth + 4, kDefaultPictureHeight + 4);
}

void CFramedArea::RecenterPicture() {
    if (!PanesReady) return;
    const ViewRect r = ComputePictureRect(width(), height(), PreviewWidth, PreviewHeight, PaneShown(pane_),
                                          EncoderSettings.stretchPreview != 0, NtVersion351 != 0);
    picture_->setGeometry(ToQRect(r));
    picture_->show();
    picture_->update();
    update();
}

void CFramedArea::resizeEvent(QResizeEvent*) { RecenterPicture(); }

void CFramedArea::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QPalette& colours = palette();
    const QRect r = picture_->geometry();
    // Raised edges around the picture window: the output side has only the outer one.
    auto raised = [&](const QRect& edge, const QColor& light, const QColor& dark) {
        p.setPen(light);
        p.drawLine(edge.topLeft(), edge.topRight());
        p.drawLine(edge.topLeft(), edge.bottomLeft());
        p.setPen(dark);
        p.drawLine(edge.bottomLeft(), edge.bottomRight());
        p.drawLine(edge.topRight(), edge.bottomRight());
    };
    raised(r.adjusted(-2, -2, 1, 1), colours.color(QPalette::Light), colours.color(QPalette::Shadow));
    if (pane_ == kInputPane)
        raised(r.adjusted(-1, -1, 0, 0), colours.color(QPalette::Midlight), colours.color(QPalette::Dark));
    p.setPen(colours.color(QPalette::Light));
    p.drawLine(r.left(), r.bottom() - 1, r.left(), r.top());
    p.drawLine(r.left(), r.top(), r.right(), r.top());
}

// ---- pane ----

CPaneWindow::CPaneWindow(int pane, QWidget* parent)
    : QWidget(parent), caption_(QString::fromStdString(LoadResString(pane == kInputPane ? 63312 : 63924))),
      framed_(pane == kInputPane ? static_cast<CFramedArea*>(new CLeftWnd1(this))
                                 : static_cast<CFramedArea*>(new CRightWnd1(this))) {
    setObjectName(pane == kInputPane ? "inputPane" : "outputPane");
}

void CPaneWindow::resizeEvent(QResizeEvent*) {
    if (PanesReady) framed_->setGeometry(0, 0, width(), height() - CaptionStripHeight());
}

void CPaneWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setFont(CaptionFont());
    p.setPen(palette().color(QPalette::WindowText));
    // Centred under the framed area, in the strip kept for it.
    const int strip = CaptionStripHeight();
    p.drawText(QRect(0, height() - strip, width(), strip), Qt::AlignHCenter | Qt::AlignVCenter, caption_);
}

CMLeftWnd2::CMLeftWnd2(QWidget* parent) : CPictureWindow(kInputPane, parent) {}
CMRightWnd2::CMRightWnd2(QWidget* parent) : CPictureWindow(kOutputPane, parent) {}
CLeftWnd1::CLeftWnd1(QWidget* parent) : CFramedArea(kInputPane, parent) {}
CRightWnd1::CRightWnd1(QWidget* parent) : CFramedArea(kOutputPane, parent) {}
CLeftWindow::CLeftWindow(QWidget* parent) : CPaneWindow(kInputPane, parent) {}
CRightWindow::CRightWindow(QWidget* parent) : CPaneWindow(kOutputPane, parent) {}

// ---- container ----

CStatView::CStatView(QWidget* parent)
    : QWidget(parent), output_(new CRightWindow(this)), input_(new CLeftWindow(this)) {
    setObjectName("previews");
    StatViewInstance = this;
    LoadIdlePicture();

    PreviewWindowHooks hooks;
    QPointer<CStatView> self(this);
    hooks.invalidate = [self] {
        if (!self) return;
        // The engine may ask from a worker thread: the repaint is queued to the window's thread.
        QMetaObject::invokeMethod(self, [self] {
            if (!self) return;
            self->Picture(kInputPane)->update();
            self->Picture(kOutputPane)->update();
        }, Qt::QueuedConnection);
    };
    hooks.acquireSurface = [this](int pane) -> void* { return Picture(pane); };
    hooks.releaseSurface = [](int, void*) {};
    hooks.clientSize = [this](int pane, int* w, int* h) {
        CPictureWindow* picture = Picture(pane);
        if (!picture) return false;
        *w = picture->ClientRect().width();
        *h = picture->ClientRect().height();
        return true;
    };
    hooks.blit = [](void* surface, const PreviewBlit& b) {
        auto* picture = static_cast<CPictureWindow*>(surface);
        const QImage image = PreviewBlitImage(b);
        const QRect target(b.dstX, b.dstY, image.width(), image.height());
        if (QThread::currentThread() == picture->thread()) {
            picture->TakeFrame(image, target);
            return;
        }
        QMetaObject::invokeMethod(picture, [picture, image, target] { picture->TakeFrame(image, target); },
                                  Qt::QueuedConnection);
    };
    PreviewWindows = std::move(hooks);
}

CStatView::~CStatView() {
    if (StatViewInstance == this) {
        StatViewInstance = nullptr;
        PreviewWindows = PreviewWindowHooks{};
    }
}

CPictureWindow* CStatView::Picture(int pane) const {
    if (pane == kInputPane) return input_->Framed()->Picture();
    if (pane == kOutputPane) return output_->Framed()->Picture();
    return nullptr;
}

void CStatView::UpdateLayout() {
    const PaneLayout layout =
        ComputePaneLayout(width(), height(), EncoderSettings.showInput != 0, EncoderSettings.showOutput != 0);
    input_->setGeometry(ToQRect(layout.input));
    output_->setGeometry(ToQRect(layout.output));
    if (PanesReady) RecenterPictures();
}

void CStatView::RecenterPictures() {
    input_->Framed()->RecenterPicture();
    output_->Framed()->RecenterPicture();
}

void CStatView::resizeEvent(QResizeEvent*) {
    if (PanesReady) UpdateLayout();
}
