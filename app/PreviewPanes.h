// The preview container of the view: the input and the output pane side by
// side, each a caption strip, a framed area and, centred in it, the picture
// window the encoder's preview drawing paints into (the idle picture while
// nothing has been drawn and no encoding runs).
#pragma once

#include <QImage>
#include <QWidget>

// Set by the view once its first layout is done; before it the panes keep
// their creation geometry.
extern int PanesReady;
// The picture shown while no encoding runs (350 x 238), made with the main window.
extern QImage IdlePictureBitmap;
extern int IdlePictureLoaded;
void LoadIdlePicture();

// Picture window of one side (input 0, output 1).
class CPictureWindow : public QWidget {
    Q_OBJECT
public:
    CPictureWindow(int pane, QWidget* parent);
    int Pane() const { return pane_; }
    // The client area the preview is drawn into (inside the border).
    QRect ClientRect() const;
    // Takes a drawn preview picture, placed at `target` in client coordinates.
    void TakeFrame(const QImage& frame, const QRect& target);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const int pane_;
    QImage frame_;
    QRect frameTarget_;
    bool painting_ = false;
};

// Framed area of one side: re-centres its picture window and draws the frame around it.
class CFramedArea : public QWidget {
    Q_OBJECT
public:
    CFramedArea(int pane, QWidget* parent);
    CPictureWindow* Picture() const { return picture_; }
    // Centres the picture window for the current preview size and settings.
    void RecenterPicture();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    const int pane_;
    CPictureWindow* picture_;
};

// Pane of one side: the framed area above an 18-pixel caption strip.
class CPaneWindow : public QWidget {
    Q_OBJECT
public:
    CPaneWindow(int pane, QWidget* parent);
    CFramedArea* Framed() const { return framed_; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QString caption_;
    CFramedArea* framed_;
};

class CMLeftWnd2 : public CPictureWindow {
public:
    explicit CMLeftWnd2(QWidget* parent);
};
class CMRightWnd2 : public CPictureWindow {
public:
    explicit CMRightWnd2(QWidget* parent);
};
class CLeftWnd1 : public CFramedArea {
public:
    explicit CLeftWnd1(QWidget* parent);
};
class CRightWnd1 : public CFramedArea {
public:
    explicit CRightWnd1(QWidget* parent);
    void UpdateLayout() { RecenterPicture(); }
};
class CLeftWindow : public CPaneWindow {
public:
    explicit CLeftWindow(QWidget* parent);
};
class CRightWindow : public CPaneWindow {
public:
    explicit CRightWindow(QWidget* parent);
};

// The container of both panes; it installs the encoder's preview hooks for its lifetime.
class CStatView : public QWidget {
    Q_OBJECT
public:
    explicit CStatView(QWidget* parent);
    ~CStatView() override;
    CPaneWindow* InputPane() const { return input_; }
    CPaneWindow* OutputPane() const { return output_; }
    CPictureWindow* Picture(int pane) const;
    // Lays out both panes and, once the panes are ready, re-centres both pictures.
    void UpdateLayout();
    // Both pictures re-centred and repainted.
    void RecenterPictures();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    CRightWindow* output_;
    CLeftWindow* input_;
};

// The container while it exists (the main window's View commands use it).
extern CStatView* StatViewInstance;

// The picture of a preview drawing: the source rectangle of the bottom-up
// bitmap, top row first, scaled to the destination size. Null for a bitmap
// this program cannot read.
struct PreviewBlit;
QImage PreviewBlitImage(const PreviewBlit& blit);
