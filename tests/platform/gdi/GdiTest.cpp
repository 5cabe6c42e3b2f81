#include "GdiTestSupport.h"

namespace {

// Fills a picture with a value unique to each pixel: 0x00RRGGBB = (x, y, 7).
void fillXY(TestDib& d) {
    for (int y = 0; y < d.Rows(); ++y)
        for (int x = 0; x < d.Width(); ++x)
            d.Set(x, y, static_cast<DWORD>((x << 16) | (y << 8) | 7));
}

TEST(GdiBlit, OneToOneKeepsTopRowOnTopAcrossOrientations) {
    TestDib bottomUp(5, 3, 24);
    TestDib topDown(5, -3, 24);
    fillXY(bottomUp);
    ASSERT_TRUE(BitBlt(topDown.dc, 0, 0, 5, 3, bottomUp.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(topDown.Pixels(), bottomUp.Pixels());
}

TEST(GdiBlit, ClipsToBothSurfacesAndLeavesTheRestAlone) {
    TestDib src(4, 4, 24);
    TestDib dst(4, 4, 24);
    fillXY(src);
    std::memset(dst.bits, 0xEE, static_cast<std::size_t>(dst.Stride() * 4));

    // Destination hangs off the bottom right; source starts left of the
    // picture, so destination column 2 would read source column -1: not
    // written. Wholly outside: succeeds, writes nothing.
    ASSERT_TRUE(BitBlt(dst.dc, 2, 2, 4, 4, src.dc, -1, 0, SRCCOPY));
    EXPECT_TRUE(BitBlt(dst.dc, 10, 10, 4, 4, src.dc, 0, 0, SRCCOPY));
    EXPECT_TRUE(BitBlt(dst.dc, 0, 0, 4, 4, src.dc, 100, 0, SRCCOPY));
    const DWORD o = 0xEEEEEE;
    EXPECT_EQ(dst.Pixels(),
              (std::vector<DWORD>{o, o, o, o, o, o, o, o, o, o, o, 0x000007, o, o, o, 0x000107}));
}

TEST(GdiBlit, ConvertsBetweenDepths) {
    TestDib pal(4, 1, 8, {Quad(0, 0, 0), Quad(255, 255, 255), Quad(255, 0, 0), Quad(10, 200, 30)});
    std::memcpy(pal.bits, "\0\1\2\3", 4); // one row: indices 0 to 3

    TestDib rgb24(4, 1, 24);
    ASSERT_TRUE(BitBlt(rgb24.dc, 0, 0, 4, 1, pal.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(rgb24.Pixels(), (std::vector<DWORD>{0x000000, 0xFFFFFF, 0xFF0000, 0x0AC81E}));

    // 24 to 16 truncates to 5-5-5; 16 to 32 replicates the top bits.
    TestDib rgb16(4, 1, 16);
    ASSERT_TRUE(BitBlt(rgb16.dc, 0, 0, 4, 1, rgb24.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(rgb16.Pixels(), (std::vector<DWORD>{0x0000, 0x7FFF, 0x7C00, 0x0723}));
    TestDib rgb32(4, 1, 32);
    ASSERT_TRUE(BitBlt(rgb32.dc, 0, 0, 4, 1, rgb16.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(rgb32.Pixels(), (std::vector<DWORD>{0x000000, 0xFFFFFF, 0xFF0000, 0x08CE18}));

    // Deep to 8 bits: the nearest colour of the destination's own table; 8
    // to 8 with different tables maps colours, not indices.
    const std::vector<RGBQUAD> other = {Quad(250, 250, 250), Quad(0, 0, 0), Quad(12, 190, 40),
                                        Quad(200, 10, 10)};
    TestDib back(4, 1, 8, other);
    ASSERT_TRUE(BitBlt(back.dc, 0, 0, 4, 1, rgb24.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(back.Pixels(), (std::vector<DWORD>{1, 0, 3, 2}));
    TestDib remapped(4, 1, 8, other);
    ASSERT_TRUE(BitBlt(remapped.dc, 0, 0, 4, 1, pal.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(remapped.Pixels(), (std::vector<DWORD>{1, 0, 3, 2}));
}

TEST(GdiObjects, DibSectionAndPaletteRules) {
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
    EXPECT_EQ(create(65536, 65536, 32, BI_RGB), nullptr); // 16 GB
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    HBITMAP ok = create(3, -2, 24, BI_RGB);
    ASSERT_NE(ok, nullptr);
    ASSERT_NE(bits, nullptr);
    EXPECT_EQ(std::vector<BYTE>(static_cast<BYTE*>(bits), static_cast<BYTE*>(bits) + 24),
              std::vector<BYTE>(24))
        << "pixel memory starts black";
    // Neither a selected bitmap nor a selected palette is deleted under its DC.
    HPALETTE pal = MakePalette({{0, 0, 0, 0}, {100, 100, 100, 0}, {200, 0, 0, 0}});
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ stock = SelectObject(dc, ok);
    HPALETTE oldPal = SelectPalette(dc, pal, FALSE);
    EXPECT_FALSE(DeleteObject(ok));
    EXPECT_FALSE(DeleteObject(pal));
    EXPECT_EQ(SelectObject(dc, stock), ok);
    EXPECT_EQ(SelectPalette(dc, oldPal, FALSE), pal);
    DeleteDC(dc);
    EXPECT_TRUE(DeleteObject(ok));
    EXPECT_FALSE(DeleteObject(ok)) << "a second delete is refused, not a double free";
    // Palette reads stop at its end. (How pictures take a palette's nearest
    // colours is the image tests' part.)
    PALETTEENTRY out[8] = {};
    EXPECT_EQ(GetPaletteEntries(pal, 2, 8, out), 1u);
    EXPECT_EQ(out[0].peRed, 200);
    EXPECT_TRUE(DeleteObject(pal));
    EXPECT_EQ(MakePalette({}), nullptr);
}

} // namespace
