#include "platform/gdi/Gdi.h"

#include "pixel/DibRules.h"
#include "pixel/PixelBlitter.h"
#include "platform/gdi/GdiInternal.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

constexpr std::int64_t kMaxPixelBytes = std::int64_t{1} << 30;

thread_local DWORD lastError = ERROR_SUCCESS;

// The 20 colours every palette device reserves, in their published order.
constexpr std::array<PALETTEENTRY, 20> kStaticColors = {{
    {0, 0, 0, 0},       {128, 0, 0, 0},     {0, 128, 0, 0},     {128, 128, 0, 0},   {0, 0, 128, 0},
    {128, 0, 128, 0},   {0, 128, 128, 0},   {192, 192, 192, 0}, {192, 220, 192, 0}, {166, 202, 240, 0},
    {255, 251, 240, 0}, {160, 160, 164, 0}, {128, 128, 128, 0}, {255, 0, 0, 0},     {0, 255, 0, 0},
    {255, 255, 0, 0},   {0, 0, 255, 0},     {255, 0, 255, 0},   {0, 255, 255, 0},   {255, 255, 255, 0},
}};

RGBQUAD toQuad(const PALETTEENTRY& e) {
    return RGBQUAD{e.peBlue, e.peGreen, e.peRed, 0};
}

// What an 8-bit window shows before any palette is realised: the static
// colours at both ends, a 6x6x6 colour cube and a grey ramp between.
std::array<PALETTEENTRY, 256> initialSystemPalette() {
    std::array<PALETTEENTRY, 256> p{};
    for (int i = 0; i < 10; ++i) {
        p[static_cast<std::size_t>(i)] = kStaticColors[static_cast<std::size_t>(i)];
        p[static_cast<std::size_t>(246 + i)] = kStaticColors[static_cast<std::size_t>(10 + i)];
    }
    int k = 10;
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                p[static_cast<std::size_t>(k++)] = PALETTEENTRY{
                    static_cast<BYTE>(r * 51), static_cast<BYTE>(g * 51), static_cast<BYTE>(b * 51), 0};
    for (int i = 0; i < 20; ++i) {
        const auto v = static_cast<BYTE>(12 + i * 12);
        p[static_cast<std::size_t>(k++)] = PALETTEENTRY{v, v, v, 0};
    }
    return p;
}

struct Bitmap final : HBITMAP__ {
    ~Bitmap() override { std::free(memory); }
    BYTE* memory = nullptr;
    PixelMap map;
    std::array<RGBQUAD, 256> colors{};
    HDC selectedInto = nullptr;
    bool stock = false;
};

struct Palette final : HPALETTE__ {
    std::vector<PALETTEENTRY> entries;
    int selections = 0;
    bool stock = false;
};

} // namespace

struct WindowSurface::State {
    mutable std::mutex mutex; // guards everything below but the callback
    std::vector<BYTE> pixels;
    int width = 0;
    int height = 0;
    int bitsPixel = 32;
    int stride = 0;
    std::array<PALETTEENTRY, 256> palette = initialSystemPalette();
    std::array<RGBQUAD, 256> colors{};

    std::mutex callbackMutex; // held while the callback runs or changes
    ChangedCallback callback;

    State() { SyncColors(); }
    void SyncColors() {
        for (std::size_t i = 0; i < 256; ++i)
            colors[i] = toQuad(palette[i]);
    }
    PixelMap Map() {
        PixelMap m;
        m.bits = pixels.data();
        m.width = width;
        m.height = height;
        m.bitsPixel = bitsPixel;
        m.stride = stride;
        m.bottomUp = false;
        m.colors = colors.data();
        m.numColors = 256;
        return m;
    }
    void Notify(const RECT& r) {
        std::lock_guard lock(callbackMutex);
        if (callback)
            callback(r);
    }
};

struct HDC__ {
    enum class Type { Memory, Window, Screen };
    Type type = Type::Memory;
    int bitsPixel = 32; // the device's depth (memory and screen DCs)
    Bitmap* bitmap = nullptr;
    std::shared_ptr<WindowSurface::State> surface;
    HWND hwnd = nullptr;
    Palette* palette = nullptr;
    int stretchMode = BLACKONWHITE;
    PixelBlitter blitter;
};

namespace {

struct Registry {
    std::mutex mutex;
    std::unordered_set<const void*> live;
    std::unordered_map<HWND, std::shared_ptr<WindowSurface>> windows;
};

Registry& registry() {
    static Registry r;
    return r;
}

Palette* stockPalette() {
    static Palette* p = [] {
        auto* pal = new Palette;
        pal->entries.assign(kStaticColors.begin(), kStaticColors.end());
        pal->stock = true;
        std::lock_guard lock(registry().mutex);
        registry().live.insert(static_cast<HGDIOBJ>(pal));
        return pal;
    }();
    return p;
}

Bitmap* stockBitmap() {
    static Bitmap* b = [] {
        auto* bmp = new Bitmap;
        bmp->memory = static_cast<BYTE*>(std::calloc(1, 4));
        bmp->map = PixelMap{bmp->memory, 1, 1, 32, 4, false, nullptr, 0};
        bmp->stock = true;
        std::lock_guard lock(registry().mutex);
        registry().live.insert(static_cast<HGDIOBJ>(bmp));
        return bmp;
    }();
    return b;
}

// Call with the registry locked.
bool isLive(const void* p) {
    return p != nullptr && registry().live.count(p) != 0;
}

template <typename T> T fail(DWORD error, T value) {
    lastError = error;
    return value;
}

Bitmap* asBitmap(HGDIOBJ h) {
    return dynamic_cast<Bitmap*>(h);
}
Palette* asPalette(HGDIOBJ h) {
    return dynamic_cast<Palette*>(h);
}

// The palette behind a handle, or null for a dead or non-palette handle.
// Registry locked.
Palette* livePalette(HPALETTE h) {
    return isLive(h) ? asPalette(h) : nullptr;
}

HDC newDC(HDC__::Type type, int bitsPixel) {
    auto* dc = new (std::nothrow) HDC__;
    if (dc == nullptr)
        return nullptr;
    dc->type = type;
    dc->bitsPixel = bitsPixel;
    dc->palette = stockPalette();
    if (type == HDC__::Type::Memory)
        dc->bitmap = stockBitmap();
    std::lock_guard lock(registry().mutex);
    registry().live.insert(dc);
    return dc;
}

// Drops a DC's selections and the DC itself. Registry locked.
void destroyDC(HDC dc) {
    if (dc->bitmap != nullptr && !dc->bitmap->stock)
        dc->bitmap->selectedInto = nullptr;
    if (dc->palette != nullptr && !dc->palette->stock)
        --dc->palette->selections;
    registry().live.erase(dc);
    delete dc;
}

int surfaceBits(const WindowSurface::State& s) {
    std::lock_guard lock(s.mutex);
    return s.bitsPixel;
}

int deviceBits(HDC dc) {
    return dc->type == HDC__::Type::Window ? surfaceBits(*dc->surface) : dc->bitsPixel;
}

// Runs `draw` on the destination's pixels, holding the window surface's lock
// when there is one, then tells the window which rectangle changed.
template <typename Draw> void drawInto(HDC dst, WindowSurface::State* srcSurface, Draw draw) {
    RECT written{0, 0, 0, 0};
    if (dst->type == HDC__::Type::Memory) {
        if (srcSurface != nullptr) {
            std::lock_guard lock(srcSurface->mutex);
            draw(dst->bitmap->map, written);
        } else {
            draw(dst->bitmap->map, written);
        }
        return;
    }
    if (dst->type != HDC__::Type::Window)
        return;
    WindowSurface::State& s = *dst->surface;
    {
        std::unique_lock<std::mutex> lockDst(s.mutex, std::defer_lock);
        std::unique_lock<std::mutex> lockSrc;
        if (srcSurface != nullptr && srcSurface != &s) {
            lockSrc = std::unique_lock<std::mutex>(srcSurface->mutex, std::defer_lock);
            std::lock(lockDst, lockSrc);
        } else {
            lockDst.lock();
        }
        draw(s.Map(), written);
    }
    if (written.right > written.left && written.bottom > written.top)
        s.Notify(written);
}

} // namespace

// ---- Last error ---------------------------------------------------------------

DWORD GetLastError() {
    return lastError;
}
void SetLastError(DWORD dwErrCode) {
    lastError = dwErrCode;
}

// ---- Device contexts --------------------------------------------------------------

HDC CreateCompatibleDC(HDC hdc) {
    int bits = 32;
    if (hdc != nullptr) {
        {
            std::lock_guard lock(registry().mutex);
            if (!isLive(hdc))
                return fail<HDC>(ERROR_INVALID_HANDLE, nullptr);
        }
        bits = deviceBits(hdc);
    }
    HDC dc = newDC(HDC__::Type::Memory, bits);
    return dc != nullptr ? dc : fail<HDC>(ERROR_NOT_ENOUGH_MEMORY, nullptr);
}

BOOL DeleteDC(HDC hdc) {
    std::lock_guard lock(registry().mutex);
    if (!isLive(hdc))
        return fail<BOOL>(ERROR_INVALID_HANDLE, FALSE);
    destroyDC(hdc);
    return TRUE;
}

int GetDeviceCaps(HDC hdc, int index) {
    {
        std::lock_guard lock(registry().mutex);
        if (!isLive(hdc))
            return fail<int>(ERROR_INVALID_HANDLE, 0);
    }
    const int bits = deviceBits(hdc);
    switch (index) {
    case BITSPIXEL:
        return bits;
    case PLANES:
        return 1;
    case HORZRES:
    case VERTRES: {
        if (hdc->type != HDC__::Type::Window)
            return 0;
        std::lock_guard lock(hdc->surface->mutex);
        return index == HORZRES ? hdc->surface->width : hdc->surface->height;
    }
    case NUMCOLORS:
        return bits == 8 ? 20 : -1;
    case SIZEPALETTE:
        return bits == 8 ? 256 : 0;
    case RASTERCAPS:
        return bits == 8 ? RC_PALETTE : 0;
    default:
        return 0;
    }
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ h) {
    std::lock_guard lock(registry().mutex);
    if (!isLive(hdc) || !isLive(h))
        return fail<HGDIOBJ>(ERROR_INVALID_HANDLE, nullptr);
    Bitmap* bmp = asBitmap(h);
    if (bmp == nullptr || hdc->type != HDC__::Type::Memory)
        return fail<HGDIOBJ>(ERROR_INVALID_PARAMETER, nullptr);
    Bitmap* old = hdc->bitmap;
    if (bmp == old)
        return old;
    if (!bmp->stock && bmp->selectedInto != nullptr)
        return fail<HGDIOBJ>(ERROR_BUSY, nullptr); // already shown by another DC
    if (old != nullptr && !old->stock)
        old->selectedInto = nullptr;
    if (!bmp->stock)
        bmp->selectedInto = hdc;
    hdc->bitmap = bmp;
    return old;
}

BOOL DeleteObject(HGDIOBJ ho) {
    std::lock_guard lock(registry().mutex);
    if (!isLive(ho))
        return fail<BOOL>(ERROR_INVALID_HANDLE, FALSE);
    if (Bitmap* bmp = asBitmap(ho)) {
        if (bmp->stock)
            return TRUE;
        if (bmp->selectedInto != nullptr)
            return fail<BOOL>(ERROR_BUSY, FALSE);
    } else if (Palette* pal = asPalette(ho)) {
        if (pal->stock)
            return TRUE;
        if (pal->selections > 0)
            return fail<BOOL>(ERROR_BUSY, FALSE);
    }
    registry().live.erase(ho);
    delete ho;
    return TRUE;
}

HGDIOBJ GetStockObject(int i) {
    if (i == DEFAULT_PALETTE)
        return stockPalette();
    return fail<HGDIOBJ>(ERROR_INVALID_PARAMETER, nullptr);
}

int SetStretchBltMode(HDC hdc, int mode) {
    std::lock_guard lock(registry().mutex);
    if (!isLive(hdc))
        return fail<int>(ERROR_INVALID_HANDLE, 0);
    if (mode < BLACKONWHITE || mode > HALFTONE)
        return fail<int>(ERROR_INVALID_PARAMETER, 0);
    const int old = hdc->stretchMode;
    hdc->stretchMode = mode;
    return old;
}

int GetStretchBltMode(HDC hdc) {
    std::lock_guard lock(registry().mutex);
    return isLive(hdc) ? hdc->stretchMode : fail<int>(ERROR_INVALID_HANDLE, 0);
}

BOOL StretchBlt(HDC hdcDest, int xDest, int yDest, int wDest, int hDest, HDC hdcSrc, int xSrc, int ySrc,
                int wSrc, int hSrc, DWORD rop) {
    if (rop != SRCCOPY)
        return fail<BOOL>(ERROR_NOT_SUPPORTED, FALSE);
    {
        std::lock_guard lock(registry().mutex);
        if (!isLive(hdcDest) || !isLive(hdcSrc))
            return fail<BOOL>(ERROR_INVALID_HANDLE, FALSE);
    }
    if (hdcSrc->type == HDC__::Type::Screen)
        return TRUE; // no pixels to read

    WindowSurface::State* srcSurface = hdcSrc->type == HDC__::Type::Window ? hdcSrc->surface.get() : nullptr;
    const bool sameMemory =
        (srcSurface != nullptr && hdcDest->type == HDC__::Type::Window &&
         hdcDest->surface.get() == srcSurface) ||
        (srcSurface == nullptr && hdcDest->type == HDC__::Type::Memory && hdcDest->bitmap == hdcSrc->bitmap);
    drawInto(hdcDest, srcSurface, [&](const PixelMap& dst, RECT& written) {
        PixelMap src = srcSurface != nullptr ? srcSurface->Map() : hdcSrc->bitmap->map;
        if (!sameMemory) {
            hdcDest->blitter.Stretch(dst, xDest, yDest, wDest, hDest, src, xSrc, ySrc, wSrc, hSrc, &written);
            return;
        }
        // Overlapping source and destination: read from a snapshot.
        std::vector<BYTE> copy(src.bits, src.bits + static_cast<std::size_t>(src.stride) * src.height);
        std::array<RGBQUAD, 256> colors{};
        if (src.colors != nullptr)
            std::copy_n(src.colors, 256, colors.begin());
        src.bits = copy.data();
        src.colors = colors.data();
        hdcDest->blitter.Stretch(dst, xDest, yDest, wDest, hDest, src, xSrc, ySrc, wSrc, hSrc, &written);
    });
    return TRUE;
}

BOOL BitBlt(HDC hdcDest, int xDest, int yDest, int width, int height, HDC hdcSrc, int xSrc, int ySrc,
            DWORD rop) {
    return StretchBlt(hdcDest, xDest, yDest, width, height, hdcSrc, xSrc, ySrc, width, height, rop);
}

BOOL GdiFlush() {
    return TRUE;
}

BOOL GdiStretchFromMap(HDC hdcDest, int dx, int dy, int dw, int dh, const PixelMap& src, int sx, int sy,
                       int sw, int sh) {
    {
        std::lock_guard lock(registry().mutex);
        if (!isLive(hdcDest))
            return fail<BOOL>(ERROR_INVALID_HANDLE, FALSE);
    }
    drawInto(hdcDest, nullptr, [&](const PixelMap& dst, RECT& written) {
        hdcDest->blitter.Stretch(dst, dx, dy, dw, dh, src, sx, sy, sw, sh, &written);
    });
    return TRUE;
}

int GdiTargetBitsPixel(HDC hdc) {
    {
        std::lock_guard lock(registry().mutex);
        if (!isLive(hdc))
            return fail<int>(ERROR_INVALID_HANDLE, 0);
        if (hdc->type == HDC__::Type::Memory)
            return hdc->bitmap->map.bitsPixel;
    }
    return deviceBits(hdc);
}

// ---- DIB sections ---------------------------------------------------------------------

HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* pbmi, UINT usage, void** ppvBits, HANDLE hSection,
                         DWORD offset) {
    if (ppvBits != nullptr)
        *ppvBits = nullptr;
    if (pbmi == nullptr || hSection != nullptr || offset != 0 ||
        (usage != DIB_RGB_COLORS && usage != DIB_PAL_COLORS))
        return fail<HBITMAP>(ERROR_INVALID_PARAMETER, nullptr);
    const BITMAPINFOHEADER& h = pbmi->bmiHeader;
    if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biSize > 4096 || h.biPlanes != 1 ||
        h.biCompression != BI_RGB || !CanWriteFrame(h.biWidth, h.biHeight, h.biBitCount))
        return fail<HBITMAP>(ERROR_INVALID_PARAMETER, nullptr);
    const auto height = static_cast<int>(DibRows(h.biHeight));
    const std::int64_t stride = DibStride(h.biWidth, h.biBitCount);
    if (stride < 0 || stride * height > kMaxPixelBytes)
        return fail<HBITMAP>(ERROR_INVALID_PARAMETER, nullptr);

    auto* bmp = new (std::nothrow) Bitmap;
    if (bmp == nullptr)
        return fail<HBITMAP>(ERROR_NOT_ENOUGH_MEMORY, nullptr);
    const std::size_t bytes = static_cast<std::size_t>(stride * height);
    // Rows start 64-byte aligned for the converters; the size is rounded up
    // as aligned_alloc requires.
    bmp->memory = static_cast<BYTE*>(std::aligned_alloc(64, (bytes + 63) / 64 * 64));
    if (bmp->memory == nullptr) {
        delete bmp;
        return fail<HBITMAP>(ERROR_NOT_ENOUGH_MEMORY, nullptr);
    }
    std::memset(bmp->memory, 0, bytes);
    bmp->map = PixelMap{bmp->memory,    h.biWidth, height, h.biBitCount, static_cast<int>(stride),
                        h.biHeight > 0, nullptr,   0};

    if (h.biBitCount == 8) {
        const int n = h.biClrUsed == 0 ? 256 : static_cast<int>(std::min<DWORD>(h.biClrUsed, 256));
        const BYTE* table = reinterpret_cast<const BYTE*>(pbmi) + h.biSize;
        if (usage == DIB_RGB_COLORS) {
            std::memcpy(bmp->colors.data(), table, static_cast<std::size_t>(n) * sizeof(RGBQUAD));
        } else {
            std::lock_guard lock(registry().mutex);
            if (!isLive(hdc)) {
                delete bmp;
                return fail<HBITMAP>(ERROR_INVALID_HANDLE, nullptr);
            }
            const std::vector<PALETTEENTRY>& entries = hdc->palette->entries;
            for (int i = 0; i < n; ++i) {
                WORD index;
                std::memcpy(&index, table + 2 * i, 2);
                if (index < entries.size())
                    bmp->colors[static_cast<std::size_t>(i)] = toQuad(entries[index]);
            }
        }
        bmp->map.colors = bmp->colors.data();
        bmp->map.numColors = n;
    }
    {
        std::lock_guard lock(registry().mutex);
        registry().live.insert(static_cast<HGDIOBJ>(bmp));
    }
    if (ppvBits != nullptr)
        *ppvBits = bmp->memory;
    return bmp;
}

UINT SetDIBColorTable(HDC hdc, UINT iStart, UINT cEntries, const RGBQUAD* prgbq) {
    std::lock_guard lock(registry().mutex);
    if (!isLive(hdc) || hdc->type != HDC__::Type::Memory || prgbq == nullptr)
        return fail<UINT>(ERROR_INVALID_PARAMETER, 0);
    Bitmap* bmp = hdc->bitmap;
    if (bmp->map.bitsPixel != 8 || iStart >= static_cast<UINT>(bmp->map.numColors))
        return 0;
    const UINT n = std::min<UINT>(cEntries, static_cast<UINT>(bmp->map.numColors) - iStart);
    std::copy_n(prgbq, n, bmp->colors.begin() + iStart);
    return n;
}

UINT GetDIBColorTable(HDC hdc, UINT iStart, UINT cEntries, RGBQUAD* prgbq) {
    std::lock_guard lock(registry().mutex);
    if (!isLive(hdc) || hdc->type != HDC__::Type::Memory || prgbq == nullptr)
        return fail<UINT>(ERROR_INVALID_PARAMETER, 0);
    Bitmap* bmp = hdc->bitmap;
    if (bmp->map.bitsPixel != 8 || iStart >= static_cast<UINT>(bmp->map.numColors))
        return 0;
    const UINT n = std::min<UINT>(cEntries, static_cast<UINT>(bmp->map.numColors) - iStart);
    std::copy_n(bmp->colors.begin() + iStart, n, prgbq);
    return n;
}

// ---- Palettes ---------------------------------------------------------------------------

HPALETTE CreatePalette(const LOGPALETTE* plpal) {
    if (plpal == nullptr || plpal->palNumEntries == 0 || plpal->palNumEntries > 256)
        return fail<HPALETTE>(ERROR_INVALID_PARAMETER, nullptr);
    auto* pal = new (std::nothrow) Palette;
    if (pal == nullptr)
        return fail<HPALETTE>(ERROR_NOT_ENOUGH_MEMORY, nullptr);
    pal->entries.assign(plpal->palPalEntry, plpal->palPalEntry + plpal->palNumEntries);
    std::lock_guard lock(registry().mutex);
    registry().live.insert(static_cast<HGDIOBJ>(pal));
    return pal;
}

UINT GetPaletteEntries(HPALETTE hpal, UINT iStart, UINT cEntries, PALETTEENTRY* pPalEntries) {
    std::lock_guard lock(registry().mutex);
    Palette* pal = livePalette(hpal);
    if (pal == nullptr)
        return fail<UINT>(ERROR_INVALID_HANDLE, 0);
    const auto& entries = pal->entries;
    if (pPalEntries == nullptr)
        return static_cast<UINT>(entries.size());
    if (iStart >= entries.size())
        return 0;
    const UINT n = std::min<UINT>(cEntries, static_cast<UINT>(entries.size()) - iStart);
    std::copy_n(entries.begin() + iStart, n, pPalEntries);
    return n;
}

UINT SetPaletteEntries(HPALETTE hpal, UINT iStart, UINT cEntries, const PALETTEENTRY* pPalEntries) {
    std::lock_guard lock(registry().mutex);
    Palette* pal = livePalette(hpal);
    if (pal == nullptr || pPalEntries == nullptr)
        return fail<UINT>(ERROR_INVALID_PARAMETER, 0);
    if (pal->stock || iStart >= pal->entries.size())
        return 0;
    const UINT n = std::min<UINT>(cEntries, static_cast<UINT>(pal->entries.size()) - iStart);
    std::copy_n(pPalEntries, n, pal->entries.begin() + iStart);
    return n;
}

UINT GetNearestPaletteIndex(HPALETTE h, COLORREF color) {
    std::lock_guard lock(registry().mutex);
    Palette* pal = livePalette(h);
    if (pal == nullptr)
        return fail<UINT>(ERROR_INVALID_HANDLE, CLR_INVALID);
    const auto& entries = pal->entries;
    std::array<RGBQUAD, 256> quads{};
    for (std::size_t i = 0; i < entries.size(); ++i)
        quads[i] = toQuad(entries[i]);
    return static_cast<UINT>(NearestColor(quads.data(), static_cast<int>(entries.size()), GetRValue(color),
                                          GetGValue(color), GetBValue(color)));
}

HPALETTE SelectPalette(HDC hdc, HPALETTE hPal, BOOL /*bForceBkgd*/) {
    std::lock_guard lock(registry().mutex);
    Palette* pal = livePalette(hPal);
    if (!isLive(hdc) || pal == nullptr)
        return fail<HPALETTE>(ERROR_INVALID_HANDLE, nullptr);
    Palette* old = hdc->palette;
    if (old != pal) {
        if (!pal->stock)
            ++pal->selections;
        if (old != nullptr && !old->stock)
            --old->selections;
        hdc->palette = pal;
    }
    return old;
}

UINT RealizePalette(HDC hdc) {
    std::shared_ptr<WindowSurface::State> surface;
    std::vector<PALETTEENTRY> entries;
    {
        // The registry is never held while a surface is locked.
        std::lock_guard lock(registry().mutex);
        if (!isLive(hdc))
            return fail<UINT>(ERROR_INVALID_HANDLE, GDI_ERROR);
        if (hdc->type != HDC__::Type::Window || hdc->palette->stock)
            return 0;
        surface = hdc->surface;
        entries = hdc->palette->entries;
    }
    const UINT n = static_cast<UINT>(std::min<std::size_t>(entries.size(), 256));
    RECT all{0, 0, 0, 0};
    {
        std::lock_guard surfaceLock(surface->mutex);
        if (surface->bitsPixel != 8)
            return 0;
        std::copy_n(entries.begin(), n, surface->palette.begin());
        surface->SyncColors();
        all = RECT{0, 0, surface->width, surface->height};
    }
    if (all.right > 0 && all.bottom > 0)
        surface->Notify(all); // same indices, new colours
    return n;
}

// ---- Window surfaces -----------------------------------------------------------------

WindowSurface::WindowSurface(int width, int height, int bitsPixel) : state_(std::make_shared<State>()) {
    Resize(width, height, bitsPixel);
}

WindowSurface::~WindowSurface() {
    // Wait for a callback in flight and make sure none follows: a DC may
    // outlive this object, but the widget behind the callback does not.
    std::lock_guard lock(state_->callbackMutex);
    state_->callback = nullptr;
}

bool WindowSurface::Resize(int width, int height, int bitsPixel) {
    if (width < 0 || height < 0 || !IsPixelDepth(bitsPixel))
        return false;
    const std::int64_t stride = DibStride(width, bitsPixel);
    if (stride < 0 || stride * height > kMaxPixelBytes)
        return false;
    std::vector<BYTE> pixels;
    try {
        pixels.assign(static_cast<std::size_t>(stride * height), 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::lock_guard lock(state_->mutex);
    state_->pixels.swap(pixels);
    state_->width = width;
    state_->height = height;
    state_->bitsPixel = bitsPixel;
    state_->stride = static_cast<int>(stride);
    return true;
}

void WindowSurface::SetChangedCallback(ChangedCallback callback) {
    std::lock_guard lock(state_->callbackMutex);
    state_->callback = std::move(callback);
}

WindowSurface::View WindowSurface::Lock() const {
    View v;
    v.lock_ = std::unique_lock<std::mutex>(state_->mutex);
    v.width_ = state_->width;
    v.height_ = state_->height;
    v.bitsPixel_ = state_->bitsPixel;
    v.stride_ = state_->stride;
    v.bits_ = state_->pixels.data();
    v.palette_ = state_->palette.data();
    return v;
}

int WindowSurface::BitsPixel() const {
    return surfaceBits(*state_);
}

struct WindowSurfaceAccess {
    static std::shared_ptr<WindowSurface::State> StateOf(const WindowSurface& s) { return s.state_; }
};

void RegisterWindowSurface(HWND hwnd, std::shared_ptr<WindowSurface> surface) {
    std::lock_guard lock(registry().mutex);
    if (surface)
        registry().windows[hwnd] = std::move(surface);
    else
        registry().windows.erase(hwnd);
}

HDC GetDC(HWND hwnd) {
    std::shared_ptr<WindowSurface::State> state;
    {
        std::lock_guard lock(registry().mutex);
        auto it = registry().windows.find(hwnd);
        if (it != registry().windows.end())
            state = WindowSurfaceAccess::StateOf(*it->second);
    }
    if (!state) {
        if (hwnd != nullptr)
            return fail<HDC>(ERROR_INVALID_HANDLE, nullptr);
        HDC dc = newDC(HDC__::Type::Screen, 32);
        return dc != nullptr ? dc : fail<HDC>(ERROR_NOT_ENOUGH_MEMORY, nullptr);
    }
    HDC dc = newDC(HDC__::Type::Window, 0);
    if (dc == nullptr)
        return fail<HDC>(ERROR_NOT_ENOUGH_MEMORY, nullptr);
    dc->surface = std::move(state);
    dc->hwnd = hwnd;
    return dc;
}

int ReleaseDC(HWND /*hwnd*/, HDC hdc) {
    std::lock_guard lock(registry().mutex);
    if (!isLive(hdc) || hdc->type == HDC__::Type::Memory)
        return 0;
    destroyDC(hdc);
    return 1;
}
