#include "pixel/PixelFormat.h"

std::size_t DibRowBytes(LONG width, WORD bitCount) {
    if (width <= 0 || bitCount == 0 || bitCount > 32)
        return 0;
    std::uint64_t bits = static_cast<std::uint64_t>(width) * bitCount;
    std::uint64_t bytes = ((bits + 31) / 32) * 4;
    if (bytes > 0x7fffffffu)
        return 0;
    return static_cast<std::size_t>(bytes);
}

int SourceBytesPerPixel(SourceLayout layout) {
    switch (layout) {
    case SourceLayout::Bgr24:
    case SourceLayout::Rgb24:
        return 3;
    case SourceLayout::Bgrx32:
        return 4;
    case SourceLayout::Rgb555:
    case SourceLayout::Rgb565:
        return 2;
    case SourceLayout::Pal8:
        return 1;
    }
    return 0;
}
