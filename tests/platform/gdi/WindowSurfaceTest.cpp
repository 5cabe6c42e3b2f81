#include "GdiTestSupport.h"

#include <atomic>
#include <thread>
#include <tuple>

namespace {

TEST(WindowSurface, BlitLandsInTheSurfaceAndReportsTheChangedArea) {
    TestWindow win(0x100, 8, 4, 24);
    std::vector<RECT> changes;
    win.surface->SetChangedCallback([&](const RECT& r) { changes.push_back(r); });
    EXPECT_EQ(std::tuple(GetDeviceCaps(win.dc, BITSPIXEL), GetDeviceCaps(win.dc, HORZRES)),
              std::tuple(24, 8));

    TestDib pic(2, 2, 24);
    pic.Set(0, 0, 0x112233);
    pic.Set(1, 1, 0x445566);
    ASSERT_TRUE(BitBlt(win.dc, 6, 3, 2, 2, pic.dc, 0, 0, SRCCOPY)); // half hangs below
    ASSERT_EQ(changes.size(), 1u);
    const RECT& r = changes[0];
    EXPECT_EQ(std::make_tuple(r.left, r.top, r.right, r.bottom), std::make_tuple(6, 3, 8, 4));
    // Top-down memory; rows of eight 3-byte pixels take 24 bytes.
    EXPECT_EQ(std::memcmp(win.surface->Lock().Bits() + 3 * 24 + 6 * 3, "\x33\x22\x11", 3), 0);

    // The shell drops its surface while the player still holds the DC: the
    // DC keeps drawing into the orphaned pixels and calls nobody.
    RegisterWindowSurface(win.hwnd, nullptr);
    win.surface.reset();
    EXPECT_EQ(GetDC(win.hwnd), nullptr);
    EXPECT_TRUE(BitBlt(win.dc, 0, 0, 2, 2, pic.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(changes.size(), 1u);

    // The screen, which the player's window DC falls back to before its
    // widget exists: 32 bits (the shell registers no display surface), and
    // drawing on its missing pixels is harmless.
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(GetDeviceCaps(screen, BITSPIXEL), 32);
    EXPECT_TRUE(BitBlt(screen, 0, 0, 2, 2, pic.dc, 0, 0, SRCCOPY));
    ReleaseDC(nullptr, screen);
}

TEST(WindowSurface, EightBitSurfaceShowsTheRealisedPalette) {
    TestWindow win(0x200, 4, 1, 8);

    // An identity palette: the picture's table, realised on the window.
    std::vector<RGBQUAD> table;
    std::vector<PALETTEENTRY> entries;
    for (int i = 0; i < 256; ++i) {
        // Entry 9 repeats entry 0, as real palettes repeat black and white.
        const BYTE v = i == 9 ? 0 : static_cast<BYTE>(i);
        table.push_back(Quad(v, static_cast<BYTE>(255 - v), 77));
        entries.push_back(PALETTEENTRY{v, static_cast<BYTE>(255 - v), 77, 0});
    }
    HPALETTE pal = MakePalette(entries);
    SelectPalette(win.dc, pal, FALSE);
    EXPECT_EQ(RealizePalette(win.dc), 256u);

    TestDib pic(4, 1, 8, table);
    const std::vector<BYTE> indices = {0, 9, 200, 255};
    std::memcpy(pic.bits, indices.data(), 4);
    ASSERT_TRUE(BitBlt(win.dc, 0, 0, 4, 1, pic.dc, 0, 0, SRCCOPY));
    WindowSurface::View v = win.surface->Lock();
    EXPECT_EQ(std::vector<BYTE>(v.Bits(), v.Bits() + 4), indices) << "identity palette copies indices";
    EXPECT_EQ(std::tuple(v.Palette()[200].peRed, v.Palette()[200].peGreen), std::tuple(200, 55));
    v = WindowSurface::View(); // no GDI call while the window is locked
    SelectPalette(win.dc, static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)), FALSE);
    DeleteObject(pal);
}

TEST(WindowSurface, ResizeRefusesWhatItCannotHold) {
    TestWindow win(0x300, 2, 2, 32);
    for (const auto& [w, h, bpp] :
         {std::tuple(2, 2, 12), std::tuple(-1, 2, 24), std::tuple(100000, 100000, 32)})
        EXPECT_FALSE(win.surface->Resize(w, h, bpp));
    EXPECT_EQ(win.surface->BitsPixel(), 32);
    ASSERT_TRUE(win.surface->Resize(3, 2, 16));
    EXPECT_EQ(win.surface->Lock().Stride(), 8);
    EXPECT_EQ(GetDeviceCaps(win.dc, BITSPIXEL), 16);
}

TEST(WindowSurface, PlaybackThreadDrawsWhileTheWidgetReads) {
    TestWindow win(0x400, 64, 48, 32);
    std::atomic<int> repaints{0};
    win.surface->SetChangedCallback([&](const RECT&) { ++repaints; });
    std::thread player([&] {
        TestDib frame(64, 48, 24);
        for (int i = 0; i < 200; ++i) {
            std::memset(frame.bits, i, static_cast<std::size_t>(frame.Stride() * 48));
            BitBlt(win.dc, 0, 0, 64, 48, frame.dc, 0, 0, SRCCOPY);
        }
    });
    // Every view must show one whole frame, never a mix of two.
    for (int i = 0; i < 200; ++i) {
        WindowSurface::View v = win.surface->Lock();
        const BYTE first = v.Bits()[0];
        for (int y = 0; y < v.Height(); y += 7)
            ASSERT_EQ(v.Bits()[y * v.Stride() + 4 * 63], first);
    }
    player.join();
    EXPECT_EQ(repaints.load(), 200);
}

} // namespace
