#include "platform/vfw/DrawDib.h"
#include "../gdi/GdiTestSupport.h"

namespace {

TEST(DrawDib, StretchesAndConvertsOntoATrueColourWindow) {
    TestWindow win(0x500, 6, 4, 32);
    TestDib pic(3, 2, 16);
    pic.Set(0, 0, 0x7C00); // red
    pic.Set(1, 0, 0x03E0); // green
    pic.Set(2, 0, 0x001F); // blue
    pic.Set(0, 1, 0x7FFF);
    HDRAWDIB dd = DrawDibOpen();
    ASSERT_NE(dd, nullptr);
    ASSERT_TRUE(DrawDibBegin(dd, nullptr, 6, 4, pic.Header(), 3, 2, 0));
    ASSERT_TRUE(DrawDibDraw(dd, win.dc, 0, 0, 6, 4, pic.Header(), pic.bits, 0, 0, 3, 2, 0));
    const DWORD r = 0xFF0000, g = 0x00FF00, b = 0x0000FF, w = 0xFFFFFF;
    EXPECT_EQ(win.Pixels32(),
              (std::vector<DWORD>{r, r, g, g, b, b, r, r, g, g, b, b, w, w, 0, 0, 0, 0, w, w, 0, 0, 0, 0}));

    // Only the part of the picture named by the source rectangle is drawn,
    // counted from the top of the picture.
    TestWindow small(0x501, 1, 1, 32);
    ASSERT_TRUE(DrawDibDraw(dd, small.dc, 0, 0, 1, 1, pic.Header(), pic.bits, 0, 1, 1, 1, 0));
    EXPECT_EQ(small.Pixels32(), std::vector<DWORD>{w});

    EXPECT_FALSE(DrawDibDraw(dd, win.dc, 0, 0, 6, 4, pic.Header(), pic.bits, 1, 0, 3, 2, 0))
        << "a source rectangle leaving the picture is refused";
    EXPECT_FALSE(DrawDibDraw(dd, win.dc, 0, 0, 6, 4, pic.Header(), nullptr, 0, 0, 3, 2, 0));
    pic.Header()->biCompression = BI_RLE8;
    EXPECT_FALSE(DrawDibDraw(dd, win.dc, 0, 0, 6, 4, pic.Header(), pic.bits, 0, 0, 3, 2, 0));
    EXPECT_TRUE(DrawDibEnd(dd));

    // Without a begin the draw begins by itself; -1 extents mean the
    // picture's. An 8-bit picture brings its own colour table.
    TestWindow deep(0x502, 2, 2, 32);
    TestDib eight(2, -2, 8, {Quad(1, 2, 3), Quad(250, 128, 0)}); // top-down
    *eight.At(1, 0) = 1;
    ASSERT_TRUE(DrawDibDraw(dd, deep.dc, 0, 0, -1, -1, eight.Header(), eight.bits, 0, 0, -1, -1, 0));
    EXPECT_EQ(deep.Pixels32(), (std::vector<DWORD>{0x010203, 0xFA8000, 0x010203, 0x010203}));
    EXPECT_TRUE(DrawDibClose(dd));
}

TEST(DrawDib, DeepPictureOnAPaletteWindowUsesNearbyPaletteColours) {
    constexpr int kW = 64, kH = 64;
    TestWindow win(0x600, kW, kH, 8);
    TestDib pic(kW, kH, 24);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            pic.Set(x, y, static_cast<DWORD>((255 - x * 2) << 16 | y * 4 << 8 | x * 4)); // red, green, blue

    HDRAWDIB dd = DrawDibOpen();
    ASSERT_TRUE(DrawDibSetPalette(dd, nullptr));
    EXPECT_EQ(DrawDibRealize(dd, win.dc, FALSE), 256u);
    ASSERT_TRUE(DrawDibBegin(dd, nullptr, kW, kH, pic.Header(), kW, kH, 0));
    ASSERT_TRUE(DrawDibDraw(dd, win.dc, 0, 0, kW, kH, pic.Header(), pic.bits, 0, 0, kW, kH, 0));

    // The default palette's cube has steps of 51 levels and the dither picks
    // one of the two around a value, so no pixel is more than a step off.
    // (How well the dither keeps local averages is the frame converter's test.)
    WindowSurface::View v = win.surface->Lock();
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const PALETTEENTRY& e = v.Palette()[v.Bits()[y * v.Stride() + x]];
            const BYTE* p = pic.At(x, y); // blue, green, red
            ASSERT_LE(std::abs(e.peRed - p[2]), 51) << x << "," << y;
            ASSERT_LE(std::abs(e.peGreen - p[1]), 51) << x << "," << y;
            ASSERT_LE(std::abs(e.peBlue - p[0]), 51) << x << "," << y;
        }
    v = WindowSurface::View(); // no GDI call while the window is locked
    DrawDibEnd(dd);
    DrawDibClose(dd);
}

} // namespace
