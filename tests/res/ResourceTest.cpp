// The resources read at run time: the play-button bitmap, version
// information, and the palette data read from files and the clipboard. (The
// menus are followed in the window's own tests.)
#include "res/Resource.h"
#include "app/PaletteData.h"
#include "res/Bitmaps.h"
#include "res/VersionInfo.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(Bitmaps, PlayButtonIsARaisedFaceWithAnEngravedTriangle) {
    BitmapResource b;
    ASSERT_TRUE(LoadBitmapResource(IDB_PLAYBUTTON, b));
    ASSERT_EQ(b.bits.size(), 12u * 21u); // 20 x 21 at 4 bits, rows padded to 4 bytes
    constexpr BYTE black = 0, lightGrey = 7, darkGrey = 8, white = 15;
    // White top and left edges, black bottom and right, a light grey face; the
    // triangle points right, widest at the middle row, with a lit lower edge.
    // Outside the picture reads as 0.
    const struct {
        int x, y;
        BYTE index;
    } pixels[] = {{0, 0, white},      {0, 10, white},    {10, 0, white},    {19, 10, black},
                  {10, 20, black},    {3, 3, lightGrey}, {7, 10, darkGrey}, {12, 10, darkGrey},
                  {12, 6, lightGrey}, {13, 10, white},   {-1, 0, 0},        {20, 0, 0}};
    for (const auto& p : pixels)
        EXPECT_EQ(BitmapPixelIndex(b, p.x, p.y), p.index) << p.x << "," << p.y;
    BitmapResource untouched;
    EXPECT_FALSE(LoadBitmapResource(117, untouched));
}

TEST(VersionInfo, NamesTheProductAndReportsMissingValues) {
    std::string_view v;
    DWORD error = 0;
    ASSERT_TRUE(VerQueryValue("\\StringFileInfo\\040904E4\\ProductName", v, error));
    EXPECT_EQ(v, "Cadmo");
    EXPECT_FALSE(VerQueryValue("\\StringFileInfo\\040904E4\\Comments", v, error));
    EXPECT_EQ(error, ERROR_RESOURCE_NAME_NOT_FOUND);
    EXPECT_TRUE(v.empty());
    EXPECT_FALSE(VerQueryValue("\\StringFileInfo\\040704E4\\ProductName", v, error));
    EXPECT_EQ(error, ERROR_RESOURCE_TYPE_NOT_FOUND);
}

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
