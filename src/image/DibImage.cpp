#include "image/DibImage.h"

#include "pixel/DibRules.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr const char* kErrorTitle = "Cadmo error";
constexpr const char* kNotDib = "Not a Windows DIB.";
constexpr const char* kNot256 = "Not a 256 color bitmap.";

constexpr std::size_t kFullInfoBytes = sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD); // 1064
// A picture larger than this is refused rather than allocated.
constexpr std::int64_t kMaxPixelBytes = std::int64_t{1} << 28;

// Bytes of a stride x height picture; -1 when it is empty or too large.
std::int64_t pictureBytes(std::int64_t width, std::int64_t height, int bitCount) {
    if (width <= 0 || height <= 0 || width > 0x7fffffff || height > 0x7fffffff)
        return -1;
    const std::int64_t stride = DibStride(width, bitCount);
    if (stride <= 0 || stride > kMaxPixelBytes / height)
        return -1;
    return stride * height;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

template <typename T> using Owned = std::unique_ptr<T, FreeDeleter>;

bool readExact(std::FILE* f, void* dst, std::size_t n) {
    return std::fread(dst, 1, n, f) == n;
}

void warn(MessageSink* owner, const char* text) {
    if (owner != nullptr)
        owner->ShowMessageBox(text, kErrorTitle, MB_ICONWARNING);
}

// Writes one 8-bit row at `targetBits` through the colour table.
void convertRow(const BYTE* src, BYTE* dst, LONG width, int targetBits, const RGBQUAD* table) {
    for (LONG x = 0; x < width; ++x) {
        const RGBQUAD& c = table[src[x]];
        switch (targetBits) {
        case 16: {
            const unsigned v = ((c.rgbRed >> 3) << 10) | ((c.rgbGreen >> 3) << 5) | (c.rgbBlue >> 3);
            dst[2 * x] = static_cast<BYTE>(v);
            dst[2 * x + 1] = static_cast<BYTE>(v >> 8);
            break;
        }
        case 24:
            dst[3 * x] = c.rgbBlue;
            dst[3 * x + 1] = c.rgbGreen;
            dst[3 * x + 2] = c.rgbRed;
            break;
        default: // 32
            dst[4 * x] = c.rgbBlue;
            dst[4 * x + 1] = c.rgbGreen;
            dst[4 * x + 2] = c.rgbRed;
            dst[4 * x + 3] = 0;
            break;
        }
    }
}

} // namespace

UINT ColorCount(const BITMAPINFOHEADER* header) {
    if (header == nullptr)
        return 0;
    const bool core = header->biSize == sizeof(BITMAPCOREHEADER);
    WORD bitCount;
    if (core) {
        BITMAPCOREHEADER ch;
        std::memcpy(&ch, header, sizeof ch); // only 12 bytes may be there
        bitCount = ch.bcBitCount;
    } else {
        bitCount = header->biBitCount;
    }
    if (bitCount >= 9)
        return 0;
    UINT count = bitCount == 1 ? 2 : bitCount == 4 ? 16 : bitCount == 8 ? 256 : 0;
    if (!core && header->biClrUsed != 0) {
        count = header->biClrUsed;
        if (bitCount == 1 || bitCount == 4 || bitCount == 8)
            count = std::min<UINT>(count, 1u << bitCount);
    }
    return count;
}

DibImage::~DibImage() {
    std::free(info);
    FreeBits();
}

void DibImage::FreeBits() {
    if (ownsBits)
        std::free(bits);
    bits = nullptr;
}

LONG DibImage::Width() const {
    return info != nullptr ? info->bmiHeader.biWidth : 0;
}

LONG DibImage::Height() const {
    return info != nullptr ? info->bmiHeader.biHeight : 0;
}

LONG DibImage::Stride() const {
    return info != nullptr ? static_cast<LONG>(DibStride(info->bmiHeader.biWidth, info->bmiHeader.biBitCount))
                           : 0;
}

void DibImage::GetRect(RECT* rect) const {
    if (rect != nullptr)
        *rect = RECT{0, 0, Width(), Height()};
}

bool DibImage::Load(MessageSink* owner, const char* path, int targetBitCount) {
    if (path == nullptr)
        return false;
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
    if (!file)
        return false;

    BITMAPFILEHEADER fileHeader;
    if (!readExact(file.get(), &fileHeader, sizeof fileHeader) || fileHeader.bfType != 0x4D42)
        return false;
    BITMAPINFOHEADER header;
    if (!readExact(file.get(), &header, sizeof header))
        return false;
    if (header.biSize != sizeof(BITMAPINFOHEADER)) {
        warn(owner, kNotDib);
        return false;
    }
    // Compressed and top-down pixels cannot be read as plain rows.
    if (header.biBitCount != 8 || header.biCompression != BI_RGB || header.biHeight < 0) {
        warn(owner, kNot256);
        return false;
    }
    if (!IsPixelDepth(targetBitCount))
        return false;
    const std::int64_t indexBytes = pictureBytes(header.biWidth, header.biHeight, 8);
    const std::int64_t targetBytes = pictureBytes(header.biWidth, header.biHeight, targetBitCount);
    if (indexBytes < 0 || targetBytes < 0)
        return false;
    // The pixel data is what the file header says lies behind its offset; it
    // must hold every row. Only the rows are read, so a file that claims
    // gigabytes costs nothing.
    const std::int64_t pixelSize =
        static_cast<std::int64_t>(fileHeader.bfSize) - static_cast<std::int64_t>(fileHeader.bfOffBits);
    if (pixelSize < indexBytes)
        return false;

    Owned<BITMAPINFO> newInfo(static_cast<BITMAPINFO*>(std::calloc(1, kFullInfoBytes)));
    if (!newInfo)
        return false;
    newInfo->bmiHeader = header;
    newInfo->bmiHeader.biBitCount = static_cast<WORD>(targetBitCount);
    auto* table =
        reinterpret_cast<RGBQUAD*>(reinterpret_cast<BYTE*>(newInfo.get()) + sizeof(BITMAPINFOHEADER));
    const UINT colors = ColorCount(&header);
    if (!readExact(file.get(), table, colors * sizeof(RGBQUAD)))
        return false;

    // Pixels follow the colour table directly.
    Owned<BYTE> indices(static_cast<BYTE*>(std::malloc(static_cast<std::size_t>(indexBytes))));
    if (!indices || !readExact(file.get(), indices.get(), static_cast<std::size_t>(indexBytes)))
        return false;

    Owned<BYTE> pixels;
    if (targetBitCount == 8) {
        pixels = std::move(indices);
    } else {
        pixels.reset(static_cast<BYTE*>(std::calloc(1, static_cast<std::size_t>(targetBytes))));
        if (!pixels)
            return false;
        const std::int64_t srcStride = DibStride(header.biWidth, 8);
        const std::int64_t dstStride = DibStride(header.biWidth, targetBitCount);
        for (LONG y = 0; y < header.biHeight; ++y)
            convertRow(indices.get() + y * srcStride, pixels.get() + y * dstStride, header.biWidth,
                       targetBitCount, table);
    }

    std::free(info);
    info = newInfo.release();
    FreeBits();
    bits = pixels.release();
    ownsBits = true;
    return true;
}

bool DibImage::MatchPalette(HPALETTE palette) {
    if (palette == nullptr || info == nullptr || info->bmiHeader.biBitCount != 8 || bits == nullptr)
        return false;
    RGBQUAD* table = info->bmiColors;
    std::array<BYTE, 256> map{};
    for (std::size_t i = 0; i < 256; ++i) {
        const UINT index =
            GetNearestPaletteIndex(palette, RGB(table[i].rgbRed, table[i].rgbGreen, table[i].rgbBlue));
        if (index == CLR_INVALID || index > 255)
            return false; // not a palette: leave the picture as it is
        map[i] = static_cast<BYTE>(index);
    }
    const std::int64_t bytes = pictureBytes(info->bmiHeader.biWidth, info->bmiHeader.biHeight, 8);
    for (std::int64_t i = 0; i < bytes; ++i)
        bits[i] = map[bits[i]];

    std::array<PALETTEENTRY, 256> entries{};
    const UINT n = GetPaletteEntries(palette, 0, 256, entries.data());
    for (UINT i = 0; i < n; ++i) {
        table[i].rgbRed = entries[i].peRed;
        table[i].rgbGreen = entries[i].peGreen;
        table[i].rgbBlue = entries[i].peBlue;
    }
    return true;
}

bool DibImage::Attach(const BITMAPINFOHEADER* header, void* pixels) {
    if (header == nullptr || header->biSize < sizeof(BITMAPINFOHEADER))
        return false;
    const WORD bitCount = header->biBitCount;
    if (!CanWriteFrame(header->biWidth, header->biHeight, bitCount) ||
        pictureBytes(header->biWidth, header->biHeight, bitCount) < 0)
        return false;
    std::free(info);
    info = nullptr;
    const std::size_t size = bitCount == 8 ? kFullInfoBytes : sizeof(BITMAPINFO);
    auto* block = static_cast<BITMAPINFO*>(std::calloc(1, size));
    if (block == nullptr)
        return false;
    block->bmiHeader = *header;
    block->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    const UINT colors = ColorCount(header);
    std::memcpy(block->bmiColors, reinterpret_cast<const BYTE*>(header) + header->biSize,
                colors * sizeof(RGBQUAD));
    info = block;
    FreeBits();
    bits = static_cast<BYTE*>(pixels);
    ownsBits = false;
    return true;
}

BYTE* DibImage::PixelAddress(int x, int y) const {
    if (info == nullptr || bits == nullptr || x < 0 || y < 0 || x >= Width() || y >= Height())
        return nullptr;
    const std::int64_t stride = Stride();
    return bits + stride * (Height() - y - 1) + static_cast<std::int64_t>(x) * info->bmiHeader.biBitCount / 8;
}

void DibImage::CopyTo(DibImage* dest, int dx, int dy, int w, int h, int sx, int sy) {
    if (dest == nullptr || info == nullptr || dest->info == nullptr ||
        dest->info->bmiHeader.biBitCount != info->bmiHeader.biBitCount)
        return;
    // 64-bit arithmetic: the clipping below must not overflow on extreme
    // positions (the picture may be dragged anywhere).
    std::int64_t x0 = sx, y0 = sy, x1 = dx, y1 = dy, cw = w, ch = h;
    const std::int64_t srcW = Width(), srcH = Height();
    const std::int64_t dstW = dest->Width(), dstH = dest->Height();

    // Horizontal, against the source, then the destination.
    if (x0 < 0) {
        x1 -= x0;
        cw += x0;
        x0 = 0;
    } else if (x0 > srcW - cw) {
        if (x0 >= srcW)
            return;
        cw = srcW - x0;
    }
    if (x1 < 0) {
        cw += x1;
        x0 -= x1;
        x1 = 0;
    } else if (cw > 0 && x1 > dstW - cw) {
        cw = dstW - x1;
    }
    // Vertical, the same way.
    if (y0 < 0) {
        y1 -= y0;
        ch += y0;
        y0 = 0;
    } else if (y0 > srcH - ch) {
        if (y0 >= srcH)
            return;
        ch = srcH - y0;
    }
    if (y1 < 0) {
        ch += y1;
        y0 -= y1;
        y1 = 0;
    } else if (ch > 0 && y1 > dstH - ch) {
        ch = dstH - y1;
    }
    if (cw <= 0 || ch <= 0)
        return;
    ch = std::min({ch, srcH - y0, dstH - y1});
    cw = std::min({cw, srcW - x0, dstW - x1});
    if (cw <= 0 || ch <= 0)
        return;

    // From the lowest row of the rectangle in memory upwards.
    const BYTE* from = PixelAddress(static_cast<int>(x0), static_cast<int>(y0 + ch - 1));
    BYTE* to = dest->PixelAddress(static_cast<int>(x1), static_cast<int>(y1 + ch - 1));
    if (from == nullptr || to == nullptr)
        return;
    const std::size_t rowBytes = static_cast<std::size_t>(cw * info->bmiHeader.biBitCount / 8);
    const std::int64_t srcStride = Stride();
    const std::int64_t dstStride = dest->Stride();
    for (std::int64_t row = 0; row < ch; ++row) {
        std::memmove(to, from, rowBytes);
        from += srcStride;
        to += dstStride;
    }
}
