#include "GdiTestSupport.h"

#include "platform/gdi/Gdi.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Fills a picture with a value unique to each pixel: 0x00RRGGBB = (x, y, 7).
void fillXY(TestDib& d) {
    for (int y = 0; y < d.Rows(); ++y)
        for (int x = 0; x < d.width; ++x)
            d.Set(x, y, static_cast<DWORD>((x << 16) | (y << 8) | 7));
}

TEST(GdiBlit, OneToOneKeepsTopRowOnTopAcrossOrientations) {
    TestDib bottomUp(5, 3, 24);
    TestDib topDown(5, -3, 24);
    fillXY(bottomUp);
    // The top row of a bottom-up DIB is the last row in memory.
    EXPECT_EQ(bottomUp.bits[2 * bottomUp.Stride() + 2], 0); // x 0 in red
    EXPECT_EQ(bottomUp.bits[0 * bottomUp.Stride() + 1], 2); // y 2 in green

    ASSERT_TRUE(BitBlt(topDown.dc, 0, 0, 5, 3, bottomUp.dc, 0, 0, SRCCOPY));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(topDown.Get(x, y), static_cast<DWORD>((x << 16) | (y << 8) | 7)) << x << "," << y;
}

TEST(GdiBlit, ClipsToBothSurfacesAndLeavesTheRestAlone) {
    TestDib src(4, 4, 24);
    TestDib dst(4, 4, 24);
    fillXY(src);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            dst.Set(x, y, 0xABCDEF);

    // Destination hangs off the bottom right; source starts left of the picture.
    ASSERT_TRUE(BitBlt(dst.dc, 2, 2, 4, 4, src.dc, -1, 0, SRCCOPY));
    // Destination column 2 would read source column -1: not written.
    EXPECT_EQ(dst.Get(2, 2), 0xABCDEFu);
    EXPECT_EQ(dst.Get(3, 2), static_cast<DWORD>((0 << 16) | (0 << 8) | 7));
    EXPECT_EQ(dst.Get(3, 3), static_cast<DWORD>((0 << 16) | (1 << 8) | 7));
    EXPECT_EQ(dst.Get(1, 1), 0xABCDEFu);

    // Wholly outside: succeeds, writes nothing.
    EXPECT_TRUE(BitBlt(dst.dc, 10, 10, 4, 4, src.dc, 0, 0, SRCCOPY));
    EXPECT_TRUE(BitBlt(dst.dc, 0, 0, 4, 4, src.dc, 100, 0, SRCCOPY));
    EXPECT_EQ(dst.Get(0, 0), 0xABCDEFu);
}

TEST(GdiBlit, StretchIsNearestPixelAndMirrorsWithNegativeExtents) {
    TestDib src(2, 2, 32);
    src.Set(0, 0, 0x111111);
    src.Set(1, 0, 0x222222);
    src.Set(0, 1, 0x333333);
    src.Set(1, 1, 0x444444);

    TestDib big(4, 4, 32);
    ASSERT_EQ(SetStretchBltMode(big.dc, COLORONCOLOR), BLACKONWHITE);
    ASSERT_TRUE(StretchBlt(big.dc, 0, 0, 4, 4, src.dc, 0, 0, 2, 2, SRCCOPY));
    const DWORD expect2x[4][4] = {{0x111111, 0x111111, 0x222222, 0x222222},
                                  {0x111111, 0x111111, 0x222222, 0x222222},
                                  {0x333333, 0x333333, 0x444444, 0x444444},
                                  {0x333333, 0x333333, 0x444444, 0x444444}};
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(big.Get(x, y), expect2x[y][x]) << x << "," << y;

    // Halving takes every other pixel, starting with the first.
    TestDib wide(5, 1, 24);
    fillXY(wide);
    TestDib half(2, 1, 24);
    ASSERT_TRUE(StretchBlt(half.dc, 0, 0, 2, 1, wide.dc, 0, 0, 4, 1, SRCCOPY));
    EXPECT_EQ(half.Get(0, 0) >> 16, 0u);
    EXPECT_EQ(half.Get(1, 0) >> 16, 2u);

    // (w - 1, -w) mirrors onto the same columns.
    TestDib mirror(5, 1, 24);
    ASSERT_TRUE(StretchBlt(mirror.dc, 4, 0, -5, 1, wide.dc, 0, 0, 5, 1, SRCCOPY));
    for (int x = 0; x < 5; ++x)
        EXPECT_EQ(mirror.Get(x, 0) >> 16, static_cast<DWORD>(4 - x));
}

TEST(GdiBlit, ConvertsBetweenDepths) {
    const std::vector<RGBQUAD> table = {Quad(0, 0, 0), Quad(255, 255, 255), Quad(255, 0, 0),
                                        Quad(10, 200, 30)};
    TestDib pal(4, 1, 8, table);
    for (int x = 0; x < 4; ++x)
        pal.Set(x, 0, static_cast<DWORD>(x));

    TestDib rgb24(4, 1, 24);
    ASSERT_TRUE(BitBlt(rgb24.dc, 0, 0, 4, 1, pal.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(rgb24.Get(0, 0), 0x000000u);
    EXPECT_EQ(rgb24.Get(1, 0), 0xFFFFFFu);
    EXPECT_EQ(rgb24.Get(2, 0), 0xFF0000u);
    EXPECT_EQ(rgb24.Get(3, 0), 0x0AC81Eu);

    // 24 to 16 truncates to 5-5-5; 16 to 32 replicates the top bits.
    TestDib rgb16(4, 1, 16);
    ASSERT_TRUE(BitBlt(rgb16.dc, 0, 0, 4, 1, rgb24.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(rgb16.Get(1, 0), 0x7FFFu);
    EXPECT_EQ(rgb16.Get(2, 0), 0x7C00u);
    EXPECT_EQ(rgb16.Get(3, 0), static_cast<DWORD>(((10 >> 3) << 10) | ((200 >> 3) << 5) | (30 >> 3)));
    TestDib rgb32(4, 1, 32);
    ASSERT_TRUE(BitBlt(rgb32.dc, 0, 0, 4, 1, rgb16.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(rgb32.Get(1, 0), 0xFFFFFFu);
    EXPECT_EQ(rgb32.Get(3, 0), static_cast<DWORD>((0x08 << 16) | (0xCE << 8) | 0x18));

    // Deep to 8 bits: the nearest colour of the destination's own table.
    const std::vector<RGBQUAD> other = {Quad(250, 250, 250), Quad(0, 0, 0), Quad(12, 190, 40),
                                        Quad(200, 10, 10)};
    TestDib back(4, 1, 8, other);
    ASSERT_TRUE(BitBlt(back.dc, 0, 0, 4, 1, rgb24.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(back.Get(0, 0), 1u);
    EXPECT_EQ(back.Get(1, 0), 0u);
    EXPECT_EQ(back.Get(2, 0), 3u);
    EXPECT_EQ(back.Get(3, 0), 2u);

    // 8 to 8 with different tables maps colours, not indices.
    TestDib remapped(4, 1, 8, other);
    ASSERT_TRUE(BitBlt(remapped.dc, 0, 0, 4, 1, pal.dc, 0, 0, SRCCOPY));
    for (int x = 0; x < 4; ++x)
        EXPECT_EQ(remapped.Get(x, 0), back.Get(x, 0));
}

TEST(GdiBlit, RefusesBadHandlesAndUnsupportedOperations) {
    TestDib a(2, 2, 24);
    HDC dead = CreateCompatibleDC(nullptr);
    ASSERT_TRUE(DeleteDC(dead));
    SetLastError(0);
    EXPECT_FALSE(BitBlt(a.dc, 0, 0, 2, 2, dead, 0, 0, SRCCOPY));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(BitBlt(a.dc, 0, 0, 2, 2, a.dc, 0, 0, 0x00EE0086 /* SRCPAINT */));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);

    // Overlapping copy inside one picture reads the original pixels.
    TestDib row(4, 1, 32);
    for (int x = 0; x < 4; ++x)
        row.Set(x, 0, static_cast<DWORD>(x + 1));
    ASSERT_TRUE(BitBlt(row.dc, 1, 0, 3, 1, row.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(row.Get(1, 0), 1u);
    EXPECT_EQ(row.Get(2, 0), 2u);
    EXPECT_EQ(row.Get(3, 0), 3u);
}

TEST(GdiObjects, DibSectionRules) {
    std::vector<BYTE> info(sizeof(BITMAPINFOHEADER) + 256 * 4);
    auto* bi = reinterpret_cast<BITMAPINFO*>(info.data());
    void* bits = reinterpret_cast<void*>(1);
    auto create = [&](LONG w, LONG h, WORD bpp, DWORD compression) {
        bi->bmiHeader = BITMAPINFOHEADER{40, w, h, 1, bpp, compression, 0, 0, 0, 0, 0};
        return CreateDIBSection(nullptr, bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    };
    EXPECT_EQ(create(0, 10, 24, BI_RGB), nullptr);
    EXPECT_EQ(bits, nullptr);
    EXPECT_EQ(create(10, 10, 8, BI_RLE8), nullptr);
    EXPECT_EQ(create(10, 10, 4, BI_RGB), nullptr);
    EXPECT_EQ(create(65536, 65536, 32, BI_RGB), nullptr); // 16 GB
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    HBITMAP ok = create(3, -2, 24, BI_RGB);
    ASSERT_NE(ok, nullptr);
    ASSERT_NE(bits, nullptr);
    for (int i = 0; i < 2 * 12; ++i)
        EXPECT_EQ(static_cast<BYTE*>(bits)[i], 0) << "pixel memory starts black";

    // One DC at a time; a selected bitmap cannot be deleted.
    HDC one = CreateCompatibleDC(nullptr);
    HDC two = CreateCompatibleDC(nullptr);
    HGDIOBJ stock = SelectObject(one, ok);
    ASSERT_NE(stock, nullptr);
    EXPECT_EQ(SelectObject(two, ok), nullptr);
    EXPECT_FALSE(DeleteObject(ok));
    EXPECT_EQ(SelectObject(one, stock), ok);
    EXPECT_TRUE(DeleteObject(ok));
    EXPECT_FALSE(DeleteObject(ok)) << "a second delete is refused, not a double free";
    EXPECT_EQ(GetDeviceCaps(one, BITSPIXEL), 32);
    DeleteDC(one);
    DeleteDC(two);
}

TEST(GdiObjects, PalettesSelectRealiseAndMatch) {
    HPALETTE pal = MakePalette({{0, 0, 0, 0}, {100, 100, 100, 0}, {200, 0, 0, 0}, {100, 100, 100, 0}});
    ASSERT_NE(pal, nullptr);

    PALETTEENTRY out[8] = {};
    EXPECT_EQ(GetPaletteEntries(pal, 2, 8, out), 2u) << "cut at the palette's end";
    EXPECT_EQ(out[0].peRed, 200);

    EXPECT_EQ(GetNearestPaletteIndex(pal, RGB(190, 10, 0)), 2u);
    EXPECT_EQ(GetNearestPaletteIndex(pal, RGB(100, 100, 100)), 1u) << "lowest index wins a tie";
    EXPECT_EQ(GetNearestPaletteIndex(nullptr, 0), CLR_INVALID);

    HDC dc = CreateCompatibleDC(nullptr);
    HPALETTE old = SelectPalette(dc, pal, FALSE);
    EXPECT_EQ(old, static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)));
    EXPECT_EQ(RealizePalette(dc), 0u) << "a memory DC has no system palette";
    EXPECT_FALSE(DeleteObject(pal)) << "still selected";
    EXPECT_EQ(SelectPalette(dc, old, FALSE), pal);
    EXPECT_TRUE(DeleteObject(pal));
    EXPECT_TRUE(DeleteObject(GetStockObject(DEFAULT_PALETTE))) << "stock objects ignore deletion";
    EXPECT_EQ(GetPaletteEntries(static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)), 0, 0, nullptr), 20u);
    DeleteDC(dc);

    EXPECT_EQ(MakePalette({}), nullptr);
}

} // namespace
