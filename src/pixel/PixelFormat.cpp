#include "pixel/PixelFormat.h"

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
