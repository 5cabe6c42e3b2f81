// The palette data the window reads from files and the clipboard.
#include "app/PaletteData.h"
#include "image/PaletteFile.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(PaletteData, RiffPaletteReadsBackThroughThePaletteFileReader) {
    std::vector<PALETTEENTRY> colours(256);
    colours[200] = {200, 55, 7, 0};
    const std::vector<BYTE> file = MakeRiffPalette(colours);
    alignas(4) BYTE storage[kPaletteRecordBytes] = {};
    auto* record = reinterpret_cast<LOGPALETTE*>(storage);
    ASSERT_EQ(ReadPaletteBytes(file.data(), file.size(), record), 0);
    ASSERT_EQ(record->palNumEntries, 256);
    EXPECT_EQ(record->palPalEntry[200].peRed, 200);
    EXPECT_EQ(record->palPalEntry[200].peGreen, 55);
}

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

    EXPECT_TRUE(FillPaletteRecord(colours, record, sizeof storage));
    EXPECT_EQ(record->palNumEntries, 256);
    EXPECT_FALSE(FillPaletteRecord(colours, record, 100));
    EXPECT_FALSE(FillPaletteRecord({}, record, sizeof storage));
}
