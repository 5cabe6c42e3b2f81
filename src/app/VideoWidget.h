// The video area of the main window: shows the window surface that the engine
// draws into through GetDC(window). Blits from any thread land in the surface
// and queue a repaint here; painting first lets the engine draw the current
// frame (PaintMovie), then copies the surface to the screen. Where the
// surface does not reach, the window's mid-grey background shows.
//
// A 24-bit surface (blue, green, red bytes) is not handed to Qt as it is:
// Qt converts that layout to the screen's 32-bit pixels through its slowest,
// generic path on every paint. Instead the rectangles the blits changed are
// copied into a 32-bit picture kept here, which the paint then copies
// unconverted; the pixels shown are the same.
#pragma once

#include "platform/gdi/Gdi.h"

#include <QImage>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class VideoWidget : public QWidget {
    Q_OBJECT
public:
    // `window` is the handle the surface is registered under; `paint` is
    // called with a DC on the surface at every paint (the engine's
    // PaintMovie), before the surface is shown.
    VideoWidget(QWidget* parent, HWND window, int bitsPixel, std::function<void(HDC)> paint);
    ~VideoWidget() override;

    // New picture size; the surface keeps the display's depth and is cleared.
    void SetVideoSize(int width, int height);
    // Whether a movie is shown at all; without one the area is plain grey.
    void SetShowSurface(bool show);

    const std::shared_ptr<WindowSurface>& Surface() const { return surface; }
    // The widget's picture as it would be painted now (for tests).
    QImage SurfaceImage() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void SurfaceChanged(const RECT& changed);
    // Brings `shown` up to date with a 24-bit view: resized to it, and the
    // rectangles changed since the last paint copied.
    void UpdateShown(const WindowSurface::View& view);

    HWND window;
    int bitsPixel;
    std::function<void(HDC)> paint;
    std::shared_ptr<WindowSurface> surface;
    bool showSurface = false;
    bool inPaint = false;
    std::atomic<bool> repaintQueued{false};
    // The 32-bit copy of a 24-bit surface, and the part of the surface
    // changed since it was last brought up to date (blits report it from
    // any thread).
    QImage shown;
    std::mutex dirtyLock;
    QRect dirty;
};

// The grey of the window background, RGB(128, 128, 128).
inline constexpr unsigned windowBackgroundGrey = 128;
