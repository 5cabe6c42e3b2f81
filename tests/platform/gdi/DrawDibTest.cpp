#include "GdiTestSupport.h"

#include "platform/gdi/Gdi.h"
#include "platform/vfw/DrawDib.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <vector>

namespace {

HWND fakeWindow(std::uintptr_t n) {
    return reinterpret_cast<HWND>(n);
}

// A packed DIB in memory: header, colour table, pixels.
struct MemoryDib {
    std::vector<BYTE> info = std::vector<BYTE>(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD));
    std::vector<BYTE> bits;
    int stride = 0;
    MemoryDib(int w, int h, int bpp) {
        header() = BITMAPINFOHEADER{40, w, h, 1, static_cast<WORD>(bpp), BI_RGB, 0, 0, 0, 0, 0};
        stride = ((w * bpp + 31) / 32) * 4;
        bits.assign(static_cast<std::size_t>(stride * std::abs(h)), 0);
    }
    BITMAPINFOHEADER& header() { return *reinterpret_cast<BITMAPINFOHEADER*>(info.data()); }
    RGBQUAD* colors() { return reinterpret_cast<RGBQUAD*>(info.data() + sizeof(BITMAPINFOHEADER)); }
    BYTE* At(int x, int y) {
        const int h = header().biHeight;
        const int row = h < 0 ? y : h - 1 - y;
        return bits.data() + row * stride + x * header().biBitCount / 8;
    }
};

struct Window {
    std::shared_ptr<WindowSurface> surface;
    HWND hwnd;
    HDC dc;
    Window(std::uintptr_t id, int w, int h, int bpp)
        : surface(std::make_shared<WindowSurface>(w, h, bpp)), hwnd(fakeWindow(id)) {
        RegisterWindowSurface(hwnd, surface);
        dc = GetDC(hwnd);
    }
    ~Window() {
        ReleaseDC(hwnd, dc);
        RegisterWindowSurface(hwnd, nullptr);
    }
    DWORD Pixel32(int x, int y) {
        WindowSurface::View v = surface->Lock();
        DWORD p;
        std::memcpy(&p, v.Bits() + y * v.Stride() + 4 * x, 4);
        return p & 0xFFFFFF;
    }
};

TEST(DrawDib, StretchesAndConvertsOntoATrueColourWindow) {
    Window win(0x500, 6, 4, 32);
    MemoryDib pic(3, 2, 16);
    auto put16 = [&](int x, int y, WORD v) { std::memcpy(pic.At(x, y), &v, 2); };
    put16(0, 0, 0x7C00); // red
    put16(1, 0, 0x03E0); // green
    put16(2, 0, 0x001F); // blue
    put16(0, 1, 0x7FFF);
    HDRAWDIB dd = DrawDibOpen();
    ASSERT_NE(dd, nullptr);
    ASSERT_TRUE(DrawDibBegin(dd, nullptr, 6, 4, &pic.header(), 3, 2, 0));
    ASSERT_TRUE(DrawDibDraw(dd, win.dc, 0, 0, 6, 4, &pic.header(), pic.bits.data(), 0, 0, 3, 2, 0));
    EXPECT_EQ(win.Pixel32(0, 0), 0xFF0000u);
    EXPECT_EQ(win.Pixel32(1, 1), 0xFF0000u);
    EXPECT_EQ(win.Pixel32(2, 0), 0x00FF00u);
    EXPECT_EQ(win.Pixel32(5, 1), 0x0000FFu);
    EXPECT_EQ(win.Pixel32(1, 3), 0xFFFFFFu);
    EXPECT_EQ(win.Pixel32(5, 3), 0x000000u);

    // Only the part of the picture named by the source rectangle is drawn,
    // counted from the top of the picture.
    Window small(0x501, 1, 1, 32);
    ASSERT_TRUE(DrawDibDraw(dd, small.dc, 0, 0, 1, 1, &pic.header(), pic.bits.data(), 0, 1, 1, 1, 0));
    EXPECT_EQ(small.Pixel32(0, 0), 0xFFFFFFu);

    EXPECT_FALSE(DrawDibDraw(dd, win.dc, 0, 0, 6, 4, &pic.header(), pic.bits.data(), 1, 0, 3, 2, 0))
        << "a source rectangle leaving the picture is refused";
    EXPECT_FALSE(DrawDibDraw(dd, win.dc, 0, 0, 6, 4, &pic.header(), nullptr, 0, 0, 3, 2, 0));
    pic.header().biCompression = BI_RLE8;
    EXPECT_FALSE(DrawDibDraw(dd, win.dc, 0, 0, 6, 4, &pic.header(), pic.bits.data(), 0, 0, 3, 2, 0));
    EXPECT_TRUE(DrawDibEnd(dd));
    EXPECT_TRUE(DrawDibClose(dd));
}

TEST(DrawDib, DeepPictureOnAPaletteWindowUsesNearbyPaletteColours) {
    constexpr int kW = 64;
    constexpr int kH = 64;
    Window win(0x600, kW, kH, 8);
    MemoryDib pic(kW, kH, 24);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            BYTE* p = pic.At(x, y);
            p[0] = static_cast<BYTE>(x * 4);       // blue
            p[1] = static_cast<BYTE>(y * 4);       // green
            p[2] = static_cast<BYTE>(255 - x * 2); // red
        }

    HDRAWDIB dd = DrawDibOpen();
    ASSERT_TRUE(DrawDibSetPalette(dd, nullptr));
    EXPECT_EQ(DrawDibRealize(dd, win.dc, FALSE), 256u);
    ASSERT_TRUE(DrawDibBegin(dd, nullptr, kW, kH, &pic.header(), kW, kH, 0));
    ASSERT_TRUE(DrawDibStart(dd, 66666));
    ASSERT_TRUE(DrawDibDraw(dd, win.dc, 0, 0, kW, kH, &pic.header(), pic.bits.data(), 0, 0, kW, kH, 0));

    // The default palette's cube has steps of 51 levels; an ordered dither
    // may pick either neighbour, so a pixel is at most one step off, and
    // over a 4x4 tile the dither averages back to within a third of a step.
    WindowSurface::View v = win.surface->Lock();
    double totalError = 0;
    for (int ty = 0; ty < kH; ty += 4)
        for (int tx = 0; tx < kW; tx += 4) {
            int sum[3] = {0, 0, 0};
            int want[3] = {0, 0, 0};
            for (int y = ty; y < ty + 4; ++y)
                for (int x = tx; x < tx + 4; ++x) {
                    const PALETTEENTRY& e = v.Palette()[v.Bits()[y * v.Stride() + x]];
                    const BYTE* p = pic.At(x, y);
                    ASSERT_LE(std::abs(e.peRed - p[2]), 51);
                    ASSERT_LE(std::abs(e.peGreen - p[1]), 51);
                    ASSERT_LE(std::abs(e.peBlue - p[0]), 51);
                    sum[0] += e.peRed;
                    sum[1] += e.peGreen;
                    sum[2] += e.peBlue;
                    want[0] += p[2];
                    want[1] += p[1];
                    want[2] += p[0];
                }
            for (int c = 0; c < 3; ++c)
                totalError += std::abs(sum[c] - want[c]) / 16.0;
        }
    const double meanTileError = totalError / (3.0 * (kW / 4) * (kH / 4));
    EXPECT_LT(meanTileError, 17.0);

    // Into an 8-bit DIB section of a memory DC compatible with a true-colour
    // screen, the picture is dithered the same way.
    std::vector<RGBQUAD> table(256);
    for (int i = 0; i < 256; ++i)
        table[static_cast<std::size_t>(i)] =
            Quad(v.Palette()[i].peRed, v.Palette()[i].peGreen, v.Palette()[i].peBlue);
    std::vector<BYTE> shown;
    for (int y = 0; y < kH; ++y)
        shown.insert(shown.end(), v.Bits() + y * v.Stride(), v.Bits() + y * v.Stride() + kW);
    v = WindowSurface::View(); // no GDI call while the window is locked
    TestDib offscreen(kW, kH, 8, table);
    ASSERT_TRUE(DrawDibDraw(dd, offscreen.dc, 0, 0, kW, kH, &pic.header(), pic.bits.data(), 0, 0, kW, kH, 0));
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            ASSERT_EQ(offscreen.Get(x, y), shown[static_cast<std::size_t>(y * kW + x)]) << x << "," << y;
    DrawDibStop(dd);
    DrawDibEnd(dd);
    DrawDibClose(dd);
}

TEST(DrawDib, EightBitPictureWithItsOwnTableOnADeepWindow) {
    Window win(0x700, 2, 2, 24);
    MemoryDib pic(2, -2, 8); // top-down
    pic.header().biClrUsed = 2;
    pic.colors()[0] = Quad(1, 2, 3);
    pic.colors()[1] = Quad(250, 128, 0);
    *pic.At(1, 0) = 1;
    *pic.At(0, 1) = 1;
    HDRAWDIB dd = DrawDibOpen();
    // No explicit begin: the draw begins by itself.
    ASSERT_TRUE(DrawDibDraw(dd, win.dc, 0, 0, -1, -1, &pic.header(), pic.bits.data(), 0, 0, -1, -1, 0));
    WindowSurface::View v = win.surface->Lock();
    EXPECT_EQ(v.Bits()[0], 3);                // (0,0) blue of colour 0
    EXPECT_EQ(v.Bits()[3 + 2], 250);          // (1,0) red of colour 1
    EXPECT_EQ(v.Bits()[v.Stride() + 2], 250); // (0,1)
    DrawDibClose(dd);
}

} // namespace
