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

    // Blits a w x h pattern to (x, y) of the surface through a window DC,
    // as the engine draws, and records the colours expected there.
    void Blit(HDC window, int x, int y, int w, int h, int seed) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = w;
        info.bmiHeader.biHeight = -h;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 24;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        HDC memory = CreateCompatibleDC(window);
        HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        ASSERT_NE(bitmap, nullptr);
        const int stride = (w * 3 + 3) & ~3;
        for (int row = 0; row < h; ++row)
            for (int col = 0; col < w; ++col) {
                const QRgb c = Pattern(x + col, y + row, seed);
                BYTE* p = static_cast<BYTE*>(bits) + row * stride + col * 3;
                p[0] = static_cast<BYTE>(qBlue(c));
                p[1] = static_cast<BYTE>(qGreen(c));
                p[2] = static_cast<BYTE>(qRed(c));
                if (x + col >= 0 && x + col < expected.width() && y + row >= 0 && y + row < expected.height())
                    expected.setPixel(x + col, y + row, c);
            }
        HGDIOBJ old = SelectObject(memory, bitmap);
        EXPECT_TRUE(BitBlt(window, x, y, w, h, memory, 0, 0, SRCCOPY));
        SelectObject(memory, old);
        DeleteObject(bitmap);
        DeleteDC(memory);
    }
    void Blit(int x, int y, int w, int h, int seed) {
        HDC dc = GetDC(Window());
        ASSERT_NE(dc, nullptr);
        Blit(dc, x, y, w, h, seed);
        ReleaseDC(Window(), dc);
    }
    void Resize(int w, int h) {
        widget->SetVideoSize(w, h);
        expected = QImage(w, h, QImage::Format_RGB32);
        expected.fill(qRgb(0, 0, 0));
    }
    // The first pixel painted differently from what was blitted, or "".
    std::string Mismatch() {
        const QImage painted = widget->grab().toImage();
        if (painted.size() != expected.size())
            return "painted size differs";
        for (int y = 0; y < expected.height(); ++y)
            for (int x = 0; x < expected.width(); ++x)
                if ((painted.pixel(x, y) & 0xffffff) != (expected.pixel(x, y) & 0xffffff))
                    return "pixel " + std::to_string(x) + "," + std::to_string(y);
        return "";
    }

    std::unique_ptr<VideoWidget> widget;
    std::function<void(HDC)> duringPaint;
    QImage expected;
};

TEST_P(VideoWidgetTest, EveryRowLengthIsPaintedAsBlitted) {
    // Row lengths around the four-pixel steps and their six-pixel reach.
    for (int w : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 17, 64}) {
        Resize(w, 3);
        Blit(0, 0, w, 3, w);
        EXPECT_EQ(Mismatch(), "") << "width " << w;
    }
}

TEST_P(VideoWidgetTest, ChangesBetweenPaintsAreAllShown) {
    Resize(40, 20);
    Blit(0, 0, 40, 20, 1);
    ASSERT_EQ(Mismatch(), "");
    // Two blits before the next paint, apart from each other, one reaching
    // past the edge; then one inside the first.
    Blit(3, 1, 5, 2, 2);
    Blit(30, 15, 20, 10, 3);
    EXPECT_EQ(Mismatch(), "");
    Blit(4, 1, 2, 1, 4);
    EXPECT_EQ(Mismatch(), "");
}

TEST_P(VideoWidgetTest, ABlitMadeByThePaintItselfIsShown) {
    // Stopped, the engine draws the current frame from within the paint.
    Resize(24, 8);
    Blit(0, 0, 24, 8, 5);
    ASSERT_EQ(Mismatch(), "");
    duringPaint = [this](HDC dc) { Blit(dc, 2, 2, 9, 3, 6); };
    EXPECT_EQ(Mismatch(), "");
}

TEST_P(VideoWidgetTest, ANewSizeStartsBlackThenShowsItsBlits) {
    Resize(16, 16);
    Blit(0, 0, 16, 16, 7);
    ASSERT_EQ(Mismatch(), "");
    for (int size : {16, 9}) {
        Resize(size, size);
        EXPECT_EQ(Mismatch(), "") << "cleared at " << size;
        Blit(1, 1, 4, 4, size);
        EXPECT_EQ(Mismatch(), "") << "after a blit at " << size;
    }
}

// "" leaves the processor's byte shuffles on; "sse2" holds the plain loop.
INSTANTIATE_TEST_SUITE_P(Cpu, VideoWidgetTest, ::testing::Values("", "sse2"),
                         [](const auto& p) { return p.param[0] ? std::string(p.param) : "native"; });

} // namespace
