// The palette record the window builds from a clipboard palette. (The RIFF
// bytes of the clipboard's own palette type are read by the palette file
// reader, tested with it, and taken from the clipboard in the window test.)
#include "app/PaletteData.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(PaletteData, ClipboardRecordTakesEntriesTenTo245) {
    alignas(4) BYTE storage[1032] = {};
    auto* record = reinterpret_cast<LOGPALETTE*>(storage);
    std::vector<PALETTEENTRY> colours(256);
    for (int i = 0; i < 256; ++i)
        colours[static_cast<size_t>(i)] = {static_cast<BYTE>(i), 0, 0, 0};
    FillClipboardPaletteRecord(colours, record);
    EXPECT_EQ(record->palVersion, 0x300);
    EXPECT_EQ(record->palNumEntries, 236);
    const PALETTEENTRY* e = record->palPalEntry;
    EXPECT_EQ(e[0].peRed, 10);
    EXPECT_EQ(e[235].peRed, 245);
    // A short clipboard palette gives black for the entries it lacks rather
    // than whatever was in the record.
    std::memset(storage, 0xAB, sizeof storage);
    FillClipboardPaletteRecord(std::vector<PALETTEENTRY>(16, PALETTEENTRY{9, 9, 9, 0}), record);
    EXPECT_EQ(e[5].peRed, 9);
    EXPECT_EQ(e[6].peRed, 0);
    EXPECT_EQ(e[235].peBlue, 0);
}
