// Device contexts, bitmaps, palettes and blits over plain pixel memory.
//
// The engine draws with the published GDI calls; here a device context is a
// view of a pixel surface with a bit depth of 8, 16, 24 or 32 bits per pixel:
//   - 8 bits:  one palette index per pixel;
//   - 16 bits: RGB 5-5-5 in a little-endian word, top bit zero;
//   - 24 bits: blue, green, red bytes;
//   - 32 bits: blue, green, red, unused bytes.
// Rows are padded to 4 bytes. Coordinates are always counted from the top
// row, whatever the orientation of the memory behind the surface (DIB
// sections with a positive height are stored bottom-up, as in every DIB).
//
// Objects
//   A memory DC (CreateCompatibleDC) shows the bitmap selected into it; it
//   starts with a 1x1 stock bitmap. A DIB section (CreateDIBSection) owns its
//   pixel memory, which a codec may write straight into; its colour table
//   gives the colours of an 8-bit section. A window DC (GetDC) shows the
//   window surface that the shell registered for the window (see below).
//   A bitmap can be selected into one DC at a time; a bitmap or palette that
//   is selected somewhere cannot be deleted (DeleteObject fails), so a DC
//   never points at freed memory. Stale or foreign handles are refused with
//   ERROR_INVALID_HANDLE, never dereferenced.
//
// Blits (BitBlt, StretchBlt) support SRCCOPY; other operations fail with
// ERROR_NOT_SUPPORTED. They convert between any two depths: an 8-bit source
// is read through its colour table; an 8-bit destination takes the index of
// the nearest colour (squared RGB distance) of its colour table (a memory
// DC) or of the realised palette (a window surface), keeping an 8-bit
// source's index where both sides give it the same colour, so identical
// tables copy indices unchanged. Both rectangles
// are clipped to their surfaces; only destination pixels whose source pixel
// lies inside the source surface are written. StretchBlt samples the nearest
// source pixel (COLORONCOLOR; other modes behave the same): destination
// column i of a stretch reads source column xSrc + i * wSrc / wDst. Negative
// extents mirror, as published.
//
// Threads: GDI calls may come from any thread. A DC and the objects selected
// into it are used by one thread at a time (the player hands its drawing DC
// from the window thread to the playback thread and back, never sharing it).
// Window surfaces are shared with the GUI thread and carry their own mutex.
// GetLastError/SetLastError keep one value per thread.
//
// The window surface (for the shell)
//   The shell creates a WindowSurface for its video widget and registers it
//   for the window handle with RegisterWindowSurface. GetDC(hwnd) then gives
//   a DC that draws into it; ReleaseDC ends that DC. A blit into a window DC
//   holds the surface's mutex while it writes pixels, then, after releasing
//   the mutex, calls the surface's changed callback with the written
//   rectangle; the widget should only queue a repaint from it (the callback
//   runs on the drawing thread, often the playback thread). The widget reads
//   the pixels through WindowSurface::Lock(), a view that holds the same
//   mutex while it lives. The surface's memory is top-down. An 8-bit surface
//   holds palette indices; its realised palette (set by RealizePalette on a
//   DC with a palette selected) gives their colours. The depth and size are
//   set by the shell (Resize) to the display's depth or to a chosen one;
//   GetDeviceCaps(BITSPIXEL) reports it. Resize clears the pixels to black.
//   A DC keeps its surface alive, so the shell may unregister and drop a
//   surface while a DC is still held; blits then land in the orphaned
//   surface, unseen.
#pragma once

#include "platform/win32/Types.h"

#include <functional>
#include <memory>
#include <mutex>

using HANDLE = void*;
using LPVOID = void*;

// ---- Handles ----------------------------------------------------------------
// Bitmaps and palettes share the base type of every GDI object, so they pass
// to SelectObject and DeleteObject as in C; the result of SelectObject is
// cast back with static_cast<HBITMAP>.

struct HGDIOBJ__ {
    virtual ~HGDIOBJ__() = default;

protected:
    HGDIOBJ__() = default;
};
struct HBITMAP__ : HGDIOBJ__ {
protected:
    HBITMAP__() = default;
};
struct HPALETTE__ : HGDIOBJ__ {
protected:
    HPALETTE__() = default;
};
struct HDC__;

using HGDIOBJ = HGDIOBJ__*;
using HBITMAP = HBITMAP__*;
using HPALETTE = HPALETTE__*;
using HDC = HDC__*;

// ---- Last error ---------------------------------------------------------------

constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_BUSY = 170;

DWORD GetLastError();
void SetLastError(DWORD dwErrCode);

// ---- Constants ------------------------------------------------------------------

// GetDeviceCaps indices.
constexpr int HORZRES = 8;
constexpr int VERTRES = 10;
constexpr int BITSPIXEL = 12;
constexpr int PLANES = 14;
constexpr int NUMCOLORS = 24;
constexpr int RASTERCAPS = 38;
constexpr int SIZEPALETTE = 104;
constexpr int RC_PALETTE = 0x0100;

// Raster operations.
constexpr DWORD SRCCOPY = 0x00CC0020;

// Stretch modes.
constexpr int BLACKONWHITE = 1;
constexpr int WHITEONBLACK = 2;
constexpr int COLORONCOLOR = 3;
constexpr int HALFTONE = 4;
constexpr int STRETCH_ANDSCANS = BLACKONWHITE;
constexpr int STRETCH_ORSCANS = WHITEONBLACK;
constexpr int STRETCH_DELETESCANS = COLORONCOLOR;
constexpr int STRETCH_HALFTONE = HALFTONE;

// CreateDIBSection usage.
constexpr UINT DIB_RGB_COLORS = 0;
constexpr UINT DIB_PAL_COLORS = 1;

// Stock objects.
constexpr int DEFAULT_PALETTE = 15;

constexpr UINT GDI_ERROR = 0xFFFFFFFF;
constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;

// ---- Device contexts --------------------------------------------------------------

// A memory DC with the depth of `hdc` (32 bits when `hdc` is null).
HDC CreateCompatibleDC(HDC hdc);
BOOL DeleteDC(HDC hdc);
int GetDeviceCaps(HDC hdc, int index);

// Selects a bitmap into a memory DC and returns the one it held; null on
// failure (a palette must go through SelectPalette).
HGDIOBJ SelectObject(HDC hdc, HGDIOBJ h);
BOOL DeleteObject(HGDIOBJ ho);
HGDIOBJ GetStockObject(int i);

// Returns the previous mode, 0 on failure.
int SetStretchBltMode(HDC hdc, int mode);
int GetStretchBltMode(HDC hdc);

BOOL BitBlt(HDC hdcDest, int xDest, int yDest, int width, int height, HDC hdcSrc, int xSrc, int ySrc,
            DWORD rop);
BOOL StretchBlt(HDC hdcDest, int xDest, int yDest, int wDest, int hDest, HDC hdcSrc, int xSrc, int ySrc,
                int wSrc, int hSrc, DWORD rop);
// Blits complete before they return; kept so callers read as published.
BOOL GdiFlush();

// ---- DIB sections ---------------------------------------------------------------------

// Accepts an info header (biSize >= 40) of 8, 16, 24 or 32 bits, BI_RGB, a
// positive width and non-zero height (negative: top-down), planes 1, and a
// frame of at most 1 GB. `pbmi` carries the colour table of an 8-bit section
// (ColorCount entries; DIB_PAL_COLORS: WORD indices into the DC's palette).
// File mappings are not supported: `hSection` must be null.
HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* pbmi, UINT usage, void** ppvBits, HANDLE hSection,
                         DWORD offset);
// Colour table of the 8-bit DIB section selected into `hdc`.
UINT SetDIBColorTable(HDC hdc, UINT iStart, UINT cEntries, const RGBQUAD* prgbq);
UINT GetDIBColorTable(HDC hdc, UINT iStart, UINT cEntries, RGBQUAD* prgbq);

// ---- Palettes ---------------------------------------------------------------------------

// 1..256 entries (more are refused).
HPALETTE CreatePalette(const LOGPALETTE* plpal);
// With `pPalEntries` null returns the number of entries.
UINT GetPaletteEntries(HPALETTE hpal, UINT iStart, UINT cEntries, PALETTEENTRY* pPalEntries);
UINT SetPaletteEntries(HPALETTE hpal, UINT iStart, UINT cEntries, const PALETTEENTRY* pPalEntries);
// Nearest entry by squared RGB distance, the lowest index on a tie;
// CLR_INVALID for a bad handle.
UINT GetNearestPaletteIndex(HPALETTE h, COLORREF color);
// Returns the previous palette (the stock DEFAULT_PALETTE at first), null on
// failure.
HPALETTE SelectPalette(HDC hdc, HPALETTE hPal, BOOL bForceBkgd);
// On a window DC of 8 bits, makes the selected palette the surface's realised
// palette and returns the number of entries; 0 on other DCs; GDI_ERROR on a
// bad handle.
UINT RealizePalette(HDC hdc);

// ---- Window surfaces -----------------------------------------------------------------

class WindowSurface {
public:
    // Called after pixels in `changed` (top-down, clipped) were written.
    using ChangedCallback = std::function<void(const RECT& changed)>;

    // A black surface; a bad depth or size gives an empty 0x0 surface of 32 bits.
    WindowSurface(int width, int height, int bitsPixel);
    ~WindowSurface();
    WindowSurface(const WindowSurface&) = delete;
    WindowSurface& operator=(const WindowSurface&) = delete;

    // New size and depth (8, 16, 24, 32), pixels cleared to black. Returns
    // false, changing nothing, for other depths, negative sizes or more than
    // 1 GB of pixels.
    bool Resize(int width, int height, int bitsPixel);
    void SetChangedCallback(ChangedCallback callback);

    // A locked, read-only view of the pixels. Hold it only while copying
    // out, and call no GDI function (nor BitsPixel) while holding it: they
    // may need the same lock.
    class View {
    public:
        int Width() const { return width_; }
        int Height() const { return height_; }
        int BitsPixel() const { return bitsPixel_; }
        int Stride() const { return stride_; }
        // Row 0 is the top row.
        const BYTE* Bits() const { return bits_; }
        // The realised palette: 256 entries, meaningful at 8 bits.
        const PALETTEENTRY* Palette() const { return palette_; }

    private:
        friend class WindowSurface;
        std::unique_lock<std::mutex> lock_;
        int width_ = 0;
        int height_ = 0;
        int bitsPixel_ = 0;
        int stride_ = 0;
        const BYTE* bits_ = nullptr;
        const PALETTEENTRY* palette_ = nullptr;
    };
    View Lock() const;

    int BitsPixel() const;

    struct State; // the pixels, guarded by its own mutex

private:
    std::shared_ptr<State> state_;
    friend struct WindowSurfaceAccess;
};

// Makes GetDC(hwnd) draw into `surface` (replacing any earlier one); a null
// surface unregisters the window.
void RegisterWindowSurface(HWND hwnd, std::shared_ptr<WindowSurface> surface);

// A DC on the window's registered surface; null (ERROR_INVALID_HANDLE) for an
// unregistered window. GetDC(nullptr) stands for the screen: the surface
// registered for a null window when the shell registered one (so it can
// report the display's depth), else a DC on no pixels, of 32 bits, only good
// for GetDeviceCaps.
HDC GetDC(HWND hwnd);
// 1 when released, 0 when `hdc` is not a window DC.
int ReleaseDC(HWND hwnd, HDC hdc);
