// Small helpers shared by the drawing-layer tests.
#pragma once

#include "platform/gdi/Gdi.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

// A DIB section with its pixel memory, selected into its own memory DC.
struct TestDib {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ saved = nullptr;
    BYTE* bits = nullptr;
    int width = 0;
    int height = 0; // as in the header: negative for top-down
    int bitsPixel = 0;

    TestDib(int w, int h, int bpp, const std::vector<RGBQUAD>& colors = {})
        : width(w), height(h), bitsPixel(bpp) {
        std::vector<BYTE> info(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD));
        auto* bi = reinterpret_cast<BITMAPINFO*>(info.data());
        bi->bmiHeader = BITMAPINFOHEADER{
            40, w, h, 1, static_cast<WORD>(bpp), BI_RGB, 0, 0, 0, static_cast<DWORD>(colors.size()), 0};
        if (!colors.empty())
            std::memcpy(info.data() + sizeof(BITMAPINFOHEADER), colors.data(),
                        colors.size() * sizeof(RGBQUAD));
        void* p = nullptr;
        bitmap = CreateDIBSection(nullptr, bi, DIB_RGB_COLORS, &p, nullptr, 0);
        bits = static_cast<BYTE*>(p);
        dc = CreateCompatibleDC(nullptr);
        saved = SelectObject(dc, bitmap);
    }
    ~TestDib() {
        if (dc != nullptr) {
            SelectObject(dc, saved);
            DeleteDC(dc);
        }
        if (bitmap != nullptr)
            DeleteObject(bitmap);
    }
    TestDib(const TestDib&) = delete;
    TestDib& operator=(const TestDib&) = delete;

    int Stride() const { return ((width * bitsPixel + 31) / 32) * 4; }
    int Rows() const { return height < 0 ? -height : height; }
    // Pixel (x, y) with y counted from the top of the picture.
    BYTE* At(int x, int y) const {
        const int row = height < 0 ? y : Rows() - 1 - y;
        return bits + row * Stride() + x * bitsPixel / 8;
    }
    DWORD Get(int x, int y) const {
        DWORD v = 0;
        std::memcpy(&v, At(x, y), static_cast<std::size_t>(bitsPixel / 8));
        return v;
    }
    void Set(int x, int y, DWORD v) { std::memcpy(At(x, y), &v, static_cast<std::size_t>(bitsPixel / 8)); }
};

inline RGBQUAD Quad(BYTE r, BYTE g, BYTE b) {
    return RGBQUAD{b, g, r, 0};
}
