#include "app/VideoWidget.h"

#include "pixel/FrameConverter.h"

#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QThread>

namespace {

// Rows of blue, green, red bytes as the 0xffRRGGBB words of
// QImage::Format_RGB32: the rectangle `area` of the 24-bit `view` into the
// same place of `image`, which has the view's size.
void Bgr24ToRgb32(const WindowSurface::View& view, const QRect& area, QImage& image) {
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const uchar* src = view.Bits() + static_cast<std::ptrdiff_t>(y) * view.Stride() + 3 * area.left();
        FrameConverter::Bgr24ToOpaque32(src, area.width(),
                                        reinterpret_cast<QRgb*>(image.scanLine(y)) + area.left());
    }
}

// A QImage over the surface's pixels, valid while `view` lives.
QImage ImageOfView(const WindowSurface::View& view) {
    const int w = view.Width();
    const int h = view.Height();
    if (w <= 0 || h <= 0 || view.Bits() == nullptr)
        return {};
    switch (view.BitsPixel()) {
    case 8: {
        QImage image(view.Bits(), w, h, view.Stride(), QImage::Format_Indexed8);
        QList<QRgb> colors(256);
        const PALETTEENTRY* palette = view.Palette();
        for (int i = 0; i < 256; ++i)
            colors[i] =
                palette ? qRgb(palette[i].peRed, palette[i].peGreen, palette[i].peBlue) : qRgb(i, i, i);
        image.setColorTable(colors);
        return image;
    }
    case 16:
        return QImage(view.Bits(), w, h, view.Stride(), QImage::Format_RGB555);
    case 24:
        return QImage(view.Bits(), w, h, view.Stride(), QImage::Format_BGR888);
    case 32:
        return QImage(view.Bits(), w, h, view.Stride(), QImage::Format_RGB32);
    default:
        return {};
    }
}

} // namespace

VideoWidget::VideoWidget(QWidget* parent, HWND windowHandle, int depth, std::function<void(HDC)> paintMovie)
    : QWidget(parent), window(windowHandle), bitsPixel(depth), paint(std::move(paintMovie)),
      surface(std::make_shared<WindowSurface>(0, 0, depth)) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    surface->SetChangedCallback([this](const RECT& changed) { SurfaceChanged(changed); });
    RegisterWindowSurface(window, surface);
}

VideoWidget::~VideoWidget() {
    // The engine may still hold a DC on the surface; it keeps the surface alive
    // but must not call back into this widget.
    surface->SetChangedCallback({});
    RegisterWindowSurface(window, nullptr);
}

void VideoWidget::SetVideoSize(int width, int height) {
    surface->Resize(width > 0 ? width : 0, height > 0 ? height : 0, bitsPixel);
    {
        // The cleared surface is copied whole at the next paint.
        std::lock_guard<std::mutex> guard(dirtyLock);
        shown = QImage();
        dirty = QRect();
    }
    setFixedSize(width > 0 ? width : 0, height > 0 ? height : 0);
    update();
}

void VideoWidget::SetShowSurface(bool show) {
    showSurface = show;
    update();
}

void VideoWidget::SurfaceChanged(const RECT& changed) {
    {
        std::lock_guard<std::mutex> guard(dirtyLock);
        dirty |= QRect(changed.left, changed.top, changed.right - changed.left, changed.bottom - changed.top);
    }
    // A blit made by our own paint is about to be shown anyway.
    if (inPaint && QThread::currentThread() == thread())
        return;
    // One queued repaint at a time, however fast the playback thread draws.
    if (repaintQueued.exchange(true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            repaintQueued = false;
            update();
        },
        Qt::QueuedConnection);
}

void VideoWidget::paintEvent(QPaintEvent*) {
    if (showSurface && paint) {
        HDC dc = GetDC(window);
        if (dc != nullptr) {
            inPaint = true;
            paint(dc);
            inPaint = false;
            ReleaseDC(window, dc);
        }
    }
    QPainter painter(this);
    const QColor grey(windowBackgroundGrey, windowBackgroundGrey, windowBackgroundGrey);
    if (!showSurface) {
        painter.fillRect(rect(), grey);
        return;
    }
    // A 24-bit surface is shown from its 32-bit copy, which needs no lock
    // while it is painted; other depths are shown straight from the surface.
    std::optional<WindowSurface::View> view(surface->Lock());
    QImage image;
    if (view->BitsPixel() == 24) {
        UpdateShown(*view);
        view.reset();
        image = shown;
    } else {
        image = ImageOfView(*view);
    }
    if (image.isNull()) {
        painter.fillRect(rect(), grey);
        return;
    }
    painter.drawImage(0, 0, image);
    if (image.width() < width())
        painter.fillRect(image.width(), 0, width() - image.width(), height(), grey);
    if (image.height() < height())
        painter.fillRect(0, image.height(), image.width(), height() - image.height(), grey);
}

void VideoWidget::UpdateShown(const WindowSurface::View& view) {
    const QRect all(0, 0, view.Width(), view.Height());
    QRect copy;
    {
        std::lock_guard<std::mutex> guard(dirtyLock);
        copy = dirty;
        dirty = QRect();
    }
    if (all.isEmpty() || view.Bits() == nullptr) {
        shown = QImage();
        return;
    }
    if (shown.size() != all.size()) {
        shown = QImage(all.size(), QImage::Format_RGB32);
        copy = all;
    }
    Bgr24ToRgb32(view, copy & all, shown);
}

QImage VideoWidget::SurfaceImage() const {
    const WindowSurface::View view = surface->Lock();
    return ImageOfView(view).copy();
}
