// Small helpers shared by the drawing-layer tests.
#pragma once

#include "platform/gdi/Gdi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

// A DIB section with its pixel memory, selected into its own memory DC.
struct TestDib {
    // The header and colour table the section was made from.
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colors[256];
    } info{};
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = nullptr;
    HGDIOBJ saved = nullptr;
    BYTE* bits = nullptr;

    TestDib(int w, int h, int bpp, const std::vector<RGBQUAD>& colors = {}) {
        info.header = {
            40, w, h, 1, static_cast<WORD>(bpp), BI_RGB, 0, 0, 0, static_cast<DWORD>(colors.size()), 0};
        std::copy(colors.begin(), colors.end(), info.colors);
        void* p = nullptr;
        bitmap =
            CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &p, nullptr, 0);
        bits = static_cast<BYTE*>(p);
        saved = SelectObject(dc, bitmap);
    }
    ~TestDib() {
        SelectObject(dc, saved);
        DeleteDC(dc);
        DeleteObject(bitmap);
    }
    TestDib(const TestDib&) = delete;
    TestDib& operator=(const TestDib&) = delete;

    BITMAPINFOHEADER* Header() { return &info.header; }
    int Width() const { return info.header.biWidth; }
    int Rows() const { return std::abs(info.header.biHeight); }
    std::size_t PixelBytes() const { return info.header.biBitCount / 8u; }
    // Where the test finds its pixels: rows padded to 4 bytes.
    int Stride() const { return ((Width() * info.header.biBitCount + 31) / 32) * 4; }
    // Pixel (x, y) with y counted from the top of the picture.
    BYTE* At(int x, int y) const {
        return bits + (info.header.biHeight < 0 ? y : Rows() - 1 - y) * Stride() + x * PixelBytes();
    }
    DWORD Get(int x, int y) const {
        DWORD v = 0;
        std::memcpy(&v, At(x, y), PixelBytes());
        return v;
    }
    void Set(int x, int y, DWORD v) { std::memcpy(At(x, y), &v, PixelBytes()); }
    // Every pixel, row by row from the top.
    std::vector<DWORD> Pixels() const {
        std::vector<DWORD> all;
        for (int y = 0; y < Rows(); ++y)
            for (int x = 0; x < Width(); ++x)
                all.push_back(Get(x, y));
        return all;
    }
};

inline RGBQUAD Quad(BYTE r, BYTE g, BYTE b) {
    return RGBQUAD{b, g, r, 0};
}

inline HPALETTE MakePalette(const std::vector<PALETTEENTRY>& entries) {
    std::vector<BYTE> storage(sizeof(LOGPALETTE) + entries.size() * sizeof(PALETTEENTRY));
    auto* log = reinterpret_cast<LOGPALETTE*>(storage.data());
    log->palVersion = 0x300;
    log->palNumEntries = static_cast<WORD>(entries.size());
    if (!entries.empty())
        std::memcpy(log->palPalEntry, entries.data(), entries.size() * sizeof(PALETTEENTRY));
    return CreatePalette(log);
}

// A window of the given size and depth, with its DC, for as long as the object lives.
struct TestWindow {
    std::shared_ptr<WindowSurface> surface;
    HWND hwnd;
    HDC dc;
    TestWindow(std::uintptr_t id, int w, int h, int bpp)
        : surface(std::make_shared<WindowSurface>(w, h, bpp)), hwnd(reinterpret_cast<HWND>(id)) {
        RegisterWindowSurface(hwnd, surface);
        dc = GetDC(hwnd);
    }
    ~TestWindow() {
        ReleaseDC(hwnd, dc);
        RegisterWindowSurface(hwnd, nullptr);
    }
    // Every pixel of a 32-bit window as 0xRRGGBB, row by row from the top.
    std::vector<DWORD> Pixels32() {
        WindowSurface::View v = surface->Lock();
        std::vector<DWORD> all(static_cast<std::size_t>(v.Width() * v.Height()));
        for (int y = 0; y < v.Height(); ++y)
            std::memcpy(&all[static_cast<std::size_t>(y * v.Width())], v.Bits() + y * v.Stride(),
                        4u * v.Width());
        for (DWORD& p : all)
            p &= 0xFFFFFF;
        return all;
    }
};
