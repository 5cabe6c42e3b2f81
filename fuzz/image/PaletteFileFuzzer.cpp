// Reads the input as a RIFF palette file into a record with guard bytes on
// both sides; a write outside the record aborts, and so does a different
// answer or record from the same bytes read in memory.
#include "../FuzzFile.h"
#include "image/PaletteFile.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzFile file(data, size);
    alignas(4) std::array<BYTE, kPaletteRecordBytes + 64> storage;
    storage.fill(0xC3);
    auto* record = reinterpret_cast<LOGPALETTE*>(storage.data() + 32);
    const int result = ReadPaletteFileAt(file.Path(), record);
    for (std::size_t i = 0; i < 32; ++i)
        if (storage[i] != 0xC3 || storage[32 + kPaletteRecordBytes + i] != 0xC3)
            std::abort();
    if (result == 0) {
        // Every announced entry lies inside the record.
        if (4 + std::size_t{record->palNumEntries} * 4 > kPaletteRecordBytes)
            std::abort();
    }
    alignas(4) std::array<BYTE, kPaletteRecordBytes> memory;
    memory.fill(0xC3);
    if (ReadPaletteBytes(data, size, reinterpret_cast<LOGPALETTE*>(memory.data())) != result ||
        std::memcmp(memory.data(), storage.data() + 32, kPaletteRecordBytes) != 0)
        std::abort();
    return 0;
}
