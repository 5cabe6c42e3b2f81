// Basic Win32 types and records shared by every platform stand-in.
//
// The engine is written against the published Win32 API names, so the integer
// types here keep their published widths on this LP64 platform: a DWORD is 32
// bits even though a C `long` is 64. Records that are stored in files or
// exchanged with codecs (bitmap headers, wave formats, palettes) keep their
// published byte layouts; the static_asserts below pin them down. Records that
// hold pointers (declared in the folders that own them) grow to 64-bit pointer
// sizes, and each such header says so.
#pragma once

#include <cstddef>
#include <cstdint>


using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using UINT = std::uint32_t;
using INT = std::int32_t;
using BOOL = std::int32_t;
using HRESULT = std::int32_t;
using FOURCC = DWORD;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using DWORD_PTR = std::uintptr_t;
using COLORREF = DWORD;
using MMRESULT = UINT;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// A four-character code as it is stored in a file: the first character in the
// lowest byte.
constexpr FOURCC mmioFOURCC(char a, char b, char c, char d) {
    return static_cast<FOURCC>(static_cast<BYTE>(a)) | (static_cast<FOURCC>(static_cast<BYTE>(b)) << 8) |
           (static_cast<FOURCC>(static_cast<BYTE>(c)) << 16) | (static_cast<FOURCC>(static_cast<BYTE>(d)) << 24);
}

constexpr WORD LOWORD(std::uintptr_t v) { return static_cast<WORD>(v & 0xffff); }
constexpr WORD HIWORD(std::uintptr_t v) { return static_cast<WORD>((v >> 16) & 0xffff); }
constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b) {
    return static_cast<COLORREF>(r) | (static_cast<COLORREF>(g) << 8) | (static_cast<COLORREF>(b) << 16);
}
constexpr BYTE GetRValue(COLORREF c) { return static_cast<BYTE>(c & 0xff); }
constexpr BYTE GetGValue(COLORREF c) { return static_cast<BYTE>((c >> 8) & 0xff); }
constexpr BYTE GetBValue(COLORREF c) { return static_cast<BYTE>((c >> 16) & 0xff); }

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

struct POINT {
    LONG x;
    LONG y;
};

struct SIZE {
    LONG cx;
    LONG cy;
};

#pragma pack(push, 2)
// The 14-byte file header in front of a .bmp file.
struct BITMAPFILEHEADER {
    WORD bfType;
    DWORD bfSize;
    WORD bfReserved1;
    WORD bfReserved2;
    DWORD bfOffBits;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPFILEHEADER) == 14);

struct BITMAPCOREHEADER {
    DWORD bcSize;
    WORD bcWidth;
    WORD bcHeight;
    WORD bcPlanes;
    WORD bcBitCount;
};
static_assert(sizeof(BITMAPCOREHEADER) == 12);

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

struct RGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
};
static_assert(sizeof(RGBQUAD) == 4);

struct RGBTRIPLE {
    BYTE rgbtBlue;
    BYTE rgbtGreen;
    BYTE rgbtRed;
};
static_assert(sizeof(RGBTRIPLE) == 3);

// A header followed by its colour table; callers allocate room for as many
// entries as they need and index past the declared one.
struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};

constexpr DWORD BI_RGB = 0;
constexpr DWORD BI_RLE8 = 1;
constexpr DWORD BI_RLE4 = 2;
constexpr DWORD BI_BITFIELDS = 3;

struct PALETTEENTRY {
    BYTE peRed;
    BYTE peGreen;
    BYTE peBlue;
    BYTE peFlags;
};
static_assert(sizeof(PALETTEENTRY) == 4);

constexpr BYTE PC_RESERVED = 0x01;
constexpr BYTE PC_EXPLICIT = 0x02;
constexpr BYTE PC_NOCOLLAPSE = 0x04;

// A palette header followed by its entries; as with BITMAPINFO, the record is
// allocated with room for palNumEntries entries.
struct LOGPALETTE {
    WORD palVersion;
    WORD palNumEntries;
    PALETTEENTRY palPalEntry[1];
};
static_assert(offsetof(LOGPALETTE, palPalEntry) == 4);

#pragma pack(push, 2)
struct WAVEFORMAT {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
};
struct PCMWAVEFORMAT {
    WAVEFORMAT wf;
    WORD wBitsPerSample;
};
struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMAT) == 14);
static_assert(sizeof(PCMWAVEFORMAT) == 16);
static_assert(sizeof(WAVEFORMATEX) == 18);

constexpr WORD WAVE_FORMAT_PCM = 1;
constexpr WORD WAVE_FORMAT_ADPCM = 2;

// Window handles and messages cross from the engine to the shell only as
// opaque values; the shell decides what they stand for.
struct HWND__;
using HWND = HWND__*;
