// Loads the input as a BMP at every target depth, then remaps, copies and
// blits what loaded, with rectangles taken from the input's last bytes.
#include "../FuzzFile.h"
#include "image/DibImage.h"
#include "platform/gdi/Gdi.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

int take(const std::uint8_t* data, std::size_t size, std::size_t fromEnd) {
    if (size < fromEnd + 2)
        return 0;
    return static_cast<int>(static_cast<std::int8_t>(data[size - fromEnd - 1])) * 3;
}

HPALETTE grayPalette() {
    std::vector<BYTE> storage(4 + 256 * 4);
    auto* log = reinterpret_cast<LOGPALETTE*>(storage.data());
    log->palVersion = 0x300;
    log->palNumEntries = 256;
    for (int i = 0; i < 256; ++i) {
        const PALETTEENTRY e{static_cast<BYTE>(i), static_cast<BYTE>(i), static_cast<BYTE>(i), 0};
        std::memcpy(storage.data() + 4 + 4 * i, &e, 4);
    }
    return CreatePalette(log);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzFile file(data, size);
    static HPALETTE palette = grayPalette();
    const int targets[] = {8, 16, 24, 32, 1};
    for (int target : targets) {
        DibImage image;
        if (!image.Load(nullptr, file.Path(), target))
            continue;
        image.MatchPalette(palette);

        // Copy into a frame of the same depth at positions from the input.
        const LONG w = 37;
        const LONG h = 23;
        const LONG stride = ((target * w) / 8 + 3) / 4 * 4;
        std::vector<BYTE> frame(static_cast<std::size_t>(stride * h));
        std::vector<BYTE> header(sizeof(BITMAPINFOHEADER) + 1024);
        auto* bi = reinterpret_cast<BITMAPINFOHEADER*>(header.data());
        *bi = BITMAPINFOHEADER{40, w, h, 1, static_cast<WORD>(target), BI_RGB, 0, 0, 0, 0, 0};
        DibImage composite;
        if (!composite.Attach(bi, frame.data()))
            continue;
        image.CopyTo(&composite, take(data, size, 0), take(data, size, 1), take(data, size, 2) + 20,
                     take(data, size, 3) + 20, take(data, size, 4), take(data, size, 5));

        // And blit the picture onto a DIB section through GDI, stretched.
        void* bits = nullptr;
        *bi = BITMAPINFOHEADER{
            40, image.Width(), image.Height(), 1, static_cast<WORD>(target), BI_RGB, 0, 0, 0, 0, 0};
        std::memcpy(header.data() + 40, image.Info()->bmiColors, target == 8 ? 1024 : 0);
        HBITMAP section = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(header.data()),
                                           DIB_RGB_COLORS, &bits, nullptr, 0);
        if (section == nullptr)
            continue;
        std::memcpy(bits, image.Bits(), static_cast<std::size_t>(image.Stride()) * image.Height());
        HDC src = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(src, section);
        {
            std::vector<BYTE> out(sizeof(BITMAPINFOHEADER) + 1024);
            auto* ob = reinterpret_cast<BITMAPINFO*>(out.data());
            ob->bmiHeader = BITMAPINFOHEADER{40, 19, -11, 1, 8, BI_RGB, 0, 0, 0, 16, 0};
            void* outBits = nullptr;
            HBITMAP dest = CreateDIBSection(nullptr, ob, DIB_RGB_COLORS, &outBits, nullptr, 0);
            HDC dst = CreateCompatibleDC(nullptr);
            HGDIOBJ oldDest = SelectObject(dst, dest);
            StretchBlt(dst, take(data, size, 6), take(data, size, 7), take(data, size, 8),
                       take(data, size, 9), src, take(data, size, 10), take(data, size, 11),
                       take(data, size, 12), take(data, size, 13), SRCCOPY);
            SelectObject(dst, oldDest);
            DeleteDC(dst);
            DeleteObject(dest);
        }
        SelectObject(src, old);
        DeleteDC(src);
        DeleteObject(section);
    }
    return 0;
}
