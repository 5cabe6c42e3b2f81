#include "app/PaletteData.h"

#include <cstddef>

namespace {

constexpr WORD paletteVersion = 0x300;
constexpr size_t clipboardFirstEntry = 10;
constexpr size_t clipboardEntryCount = 236;

void PutDword(std::vector<BYTE>& out, DWORD v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<BYTE>(v >> (8 * i)));
}

} // namespace

std::vector<BYTE> MakeRiffPalette(const std::vector<PALETTEENTRY>& entries) {
    std::vector<BYTE> out;
    const DWORD dataSize = static_cast<DWORD>(4 + entries.size() * 4);
    out.insert(out.end(), {'R', 'I', 'F', 'F'});
    PutDword(out, 4 + 8 + dataSize);
    out.insert(out.end(), {'P', 'A', 'L', ' ', 'd', 'a', 't', 'a'});
    PutDword(out, dataSize);
    out.push_back(static_cast<BYTE>(paletteVersion & 0xFF));
    out.push_back(static_cast<BYTE>(paletteVersion >> 8));
    out.push_back(static_cast<BYTE>(entries.size() & 0xFF));
    out.push_back(static_cast<BYTE>(entries.size() >> 8));
    for (const PALETTEENTRY& e : entries)
        out.insert(out.end(), {e.peRed, e.peGreen, e.peBlue, e.peFlags});
    return out;
}

void FillClipboardPaletteRecord(const std::vector<PALETTEENTRY>& clipboardPalette, LOGPALETTE* record) {
    record->palVersion = paletteVersion;
    record->palNumEntries = static_cast<WORD>(clipboardEntryCount);
    PALETTEENTRY* out = record->palPalEntry;
    for (size_t i = 0; i < clipboardEntryCount; ++i) {
        const size_t from = clipboardFirstEntry + i;
        out[i] = from < clipboardPalette.size() ? clipboardPalette[from] : PALETTEENTRY{0, 0, 0, 0};
    }
}
