#include "app/PaletteData.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <utility>

namespace {

constexpr WORD paletteVersion = 0x300;
constexpr size_t clipboardFirstEntry = 10;
constexpr size_t clipboardEntryCount = 236;
constexpr size_t maxPaletteEntries = 256;

DWORD ReadDword(const BYTE* p) {
    return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) | (static_cast<DWORD>(p[2]) << 16) |
           (static_cast<DWORD>(p[3]) << 24);
}

WORD ReadWord(const BYTE* p) {
    return static_cast<WORD>(p[0] | (p[1] << 8));
}

void PutDword(std::vector<BYTE>& out, DWORD v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<BYTE>(v >> (8 * i)));
}

} // namespace

bool ParseRiffPalette(const BYTE* bytes, size_t size, std::vector<PALETTEENTRY>& entries) {
    if (bytes == nullptr || size < 12 || std::memcmp(bytes, "RIFF", 4) != 0 ||
        std::memcmp(bytes + 8, "PAL ", 4) != 0)
        return false;
    // The form ends where its size says or where the bytes end, whichever is
    // first: a short file is read as far as it goes, never beyond.
    const size_t formEnd = std::min<size_t>(size, 8 + static_cast<size_t>(ReadDword(bytes + 4)));
    size_t offset = 12;
    while (offset + 8 <= formEnd) {
        const BYTE* chunk = bytes + offset;
        const size_t chunkSize = ReadDword(chunk + 4);
        const size_t available = formEnd - offset - 8;
        if (std::memcmp(chunk, "data", 4) == 0) {
            if (chunkSize > available || chunkSize < 4)
                return false;
            const size_t count = ReadWord(chunk + 10);
            if (count == 0 || count > maxPaletteEntries || 4 + count * 4 > chunkSize)
                return false;
            std::vector<PALETTEENTRY> read(count);
            std::memcpy(read.data(), chunk + 12, count * sizeof(PALETTEENTRY));
            entries = std::move(read);
            return true;
        }
        if (chunkSize > available)
            return false;
        offset += 8 + chunkSize + (chunkSize & 1);
    }
    return false;
}

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

bool FillPaletteRecord(const std::vector<PALETTEENTRY>& entries, LOGPALETTE* record, size_t recordBytes) {
    if (entries.empty() ||
        offsetof(LOGPALETTE, palPalEntry) + entries.size() * sizeof(PALETTEENTRY) > recordBytes)
        return false;
    record->palVersion = paletteVersion;
    record->palNumEntries = static_cast<WORD>(entries.size());
    std::memcpy(record->palPalEntry, entries.data(), entries.size() * sizeof(PALETTEENTRY));
    return true;
}
