// The video area shows exactly the pixels the engine blitted into its window
// surface: a 24-bit surface is painted from a 32-bit copy kept up to date
// from the rectangles the blits report, so these cases paint after blits of
// every row length, after several blits between two paints, after a blit
// made by the paint itself and after a new video size, with the processor's
// byte shuffles and with the plain loop.
#include "QtTestApp.h"

#include "app/VideoWidget.h"

#include <QImage>
#include <QPixmap>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>

namespace {

// A colour of its own for every pixel and blit, with red, green and blue
// all different, so that a swapped channel or a shifted pixel shows.
QRgb Pattern(int x, int y, int seed) {
    return qRgb((x * 37 + y * 11 + seed) & 255, (x * 5 + y * 73 + 2 * seed) & 255,
                ((x * 91) ^ (y * 7) ^ seed) & 255);
}

class VideoWidgetTest : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        cadmo::test::TestApplication();
        if (GetParam()[0] != '\0')
            setenv("CADMO_CPU", GetParam(), 1);
        widget = std::make_unique<VideoWidget>(nullptr, Window(), 24, [this](HDC dc) {
            if (duringPaint)
                duringPaint(dc);
        });
        widget->SetShowSurface(true);
    }
    void TearDown() override {
        widget.reset();
        unsetenv("CADMO_CPU");
    }
    HWND Window() { return reinterpret_cast<HWND>(this); }

    // Blits a w x h pattern to (x, y) of the surface through a window DC
    // (`window`, or one of its own), as the engine draws, and records the
    // colours expected there.
    void Blit(int x, int y, int w, int h, int seed, HDC window = nullptr) {
        HDC dc = window ? window : GetDC(Window());
        // Top-down rows of 32 bits.
        const BITMAPINFO info{{sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
        void* bits = nullptr;
        HDC memory = CreateCompatibleDC(dc);
        HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        ASSERT_NE(bitmap, nullptr);
        // A 32-bit DIB row is blue, green, red and a spare byte per pixel, as
        // a QRgb lies in memory.
        for (int row = 0; row < h; ++row)
            for (int col = 0; col < w; ++col) {
                const QRgb c = Pattern(x + col, y + row, seed);
                static_cast<QRgb*>(bits)[row * w + col] = c;
                if (x + col >= 0 && x + col < expected.width() && y + row >= 0 && y + row < expected.height())
                    expected.setPixel(x + col, y + row, c);
            }
        HGDIOBJ old = SelectObject(memory, bitmap);
        EXPECT_TRUE(BitBlt(dc, x, y, w, h, memory, 0, 0, SRCCOPY));
        SelectObject(memory, old);
        DeleteObject(bitmap);
        DeleteDC(memory);
        if (!window)
            ReleaseDC(Window(), dc);
    }
    void Resize(int w, int h) {
        widget->SetVideoSize(w, h);
        expected = QImage(w, h, QImage::Format_RGB32);
        expected.fill(qRgb(0, 0, 0));
    }
    // True when the widget paints exactly what was blitted.
    bool Painted() { return widget->grab().toImage().convertToFormat(QImage::Format_RGB32) == expected; }

    std::unique_ptr<VideoWidget> widget;
    std::function<void(HDC)> duringPaint;
    QImage expected;
};

TEST_P(VideoWidgetTest, EveryRowLengthAndEveryChangeIsPaintedAsBlitted) {
    // Row lengths around the four-pixel steps and their six-pixel reach.
    for (int w : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 17, 64}) {
        Resize(w, 3);
        Blit(0, 0, w, 3, w);
        EXPECT_TRUE(Painted()) << "width " << w;
    }
    Resize(40, 20);
    Blit(0, 0, 40, 20, 1);
    ASSERT_TRUE(Painted());
    // Two blits before the next paint, apart from each other, one reaching
    // past the edge; then one inside the first.
    Blit(3, 1, 5, 2, 2);
    Blit(30, 15, 20, 10, 3);
    EXPECT_TRUE(Painted());
    Blit(4, 1, 2, 1, 4);
    EXPECT_TRUE(Painted());
    // Stopped, the engine draws the current frame from within the paint.
    duringPaint = [this](HDC dc) { Blit(2, 2, 9, 3, 6, dc); };
    EXPECT_TRUE(Painted());
    duringPaint = nullptr;
    // A new size, even the same one again, starts black, then shows its
    // blits.
    for (const auto& [w, h] : {std::pair{40, 20}, std::pair{9, 9}}) {
        Resize(w, h);
        EXPECT_TRUE(Painted()) << "cleared at width " << w;
        Blit(1, 1, 4, 4, w);
        EXPECT_TRUE(Painted()) << "after a blit at width " << w;
    }
}

// "" leaves the processor's byte shuffles on; "sse2" holds the plain loop.
INSTANTIATE_TEST_SUITE_P(Cpu, VideoWidgetTest, ::testing::Values("", "sse2"),
                         [](const auto& p) { return p.param[0] ? std::string(p.param) : "native"; });

} // namespace
