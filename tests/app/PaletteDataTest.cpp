// The palette data the window reads from files and the clipboard.
#include "app/PaletteData.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(PaletteData, RiffPaletteRoundTripsAndHostileFilesAreRefused) {
    std::vector<PALETTEENTRY> colours(256);
    for (int i = 0; i < 256; ++i)
        colours[static_cast<size_t>(i)] = {static_cast<BYTE>(i), static_cast<BYTE>(255 - i), 7, 0};
    std::vector<BYTE> file = MakeRiffPalette(colours);
    std::vector<PALETTEENTRY> read;
    ASSERT_TRUE(ParseRiffPalette(file.data(), file.size(), read));
    ASSERT_EQ(read.size(), 256u);
    EXPECT_EQ(read[200].peRed, 200);
    EXPECT_EQ(read[200].peGreen, 55);

    // Cut short: the entries would run past the bytes read.
    std::vector<PALETTEENTRY> untouched{{1, 2, 3, 0}};
    EXPECT_FALSE(ParseRiffPalette(file.data(), file.size() - 1, untouched));
    EXPECT_EQ(untouched.size(), 1u);
    // A count larger than the data chunk holds.
    std::vector<BYTE> lying = MakeRiffPalette({{1, 2, 3, 0}});
    lying[22] = 200;
    EXPECT_FALSE(ParseRiffPalette(lying.data(), lying.size(), read));
    // Zero entries, more than 256, not a palette form, nothing at all.
    std::vector<BYTE> empty = MakeRiffPalette({});
    EXPECT_FALSE(ParseRiffPalette(empty.data(), empty.size(), read));
    std::vector<BYTE> big = MakeRiffPalette(std::vector<PALETTEENTRY>(300));
    EXPECT_FALSE(ParseRiffPalette(big.data(), big.size(), read));
    std::vector<BYTE> wave = file;
    std::memcpy(wave.data() + 8, "WAVE", 4);
    EXPECT_FALSE(ParseRiffPalette(wave.data(), wave.size(), read));
    EXPECT_FALSE(ParseRiffPalette(nullptr, 0, read));
    // A chunk that claims more than the form holds ends the search.
    std::vector<BYTE> junk = {'R', 'I', 'F', 'F', 16,  0,   0,    0,    'P',  'A',
                              'L', ' ', 'J', 'U', 'N', 'K', 0xFF, 0xFF, 0xFF, 0x7F};
    EXPECT_FALSE(ParseRiffPalette(junk.data(), junk.size(), read));
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
