// The resource tables: menus, the play-button bitmap, version information,
// and the palette data read from files and the clipboard.
#include "res/Resource.h"
#include "app/PaletteData.h"
#include "res/Bitmaps.h"
#include "res/Menus.h"
#include "res/VersionInfo.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

const MenuTemplateItem* FindItem(std::span<const MenuTemplateItem> items, UINT command) {
    for (const MenuTemplateItem& item : items) {
        if (item.command == command && !(item.flags & MF_POPUP))
            return &item;
        if (const MenuTemplateItem* found = FindItem(item.children, command))
            return found;
    }
    return nullptr;
}

} // namespace

// The window finds items by command and submenus by position; the check
// marks and graying of the items are followed in the window's own tests.
TEST(Menus, FileMenuAloneWithoutAMovieAndTheMovieMenusPositions) {
    const auto none = LoadMenuTemplate(IDR_NOMOVIEMENU);
    ASSERT_EQ(none.size(), 1u);
    ASSERT_EQ(none[0].children.size(), 6u);
    EXPECT_EQ(none[0].children[1].command, IDM_CLOSE);
    EXPECT_TRUE(none[0].children[2].flags & MF_SEPARATOR);
    EXPECT_STREQ(none[0].children[3].text, "E&xit");
    EXPECT_TRUE(LoadMenuTemplate(999).empty());

    const auto menu = LoadMenuTemplate(IDR_MOVIEMENU);
    ASSERT_EQ(menu.size(), 3u);
    EXPECT_STREQ(menu[1].text, "&Movie");
    const auto options = menu[2].children;
    ASSERT_EQ(options.size(), 4u);
    const char* const titles[] = {"&Bits Per Pixel", "&Resolution", "&Tavro R4", "&Palette"};
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_STREQ(options[i].text, titles[i]);
    EXPECT_EQ(options[1].children[2].command, IDM_ALTLINE);
    EXPECT_STREQ(FindItem(menu, IDM_INFO)->text, "&Info...\t^I");
    // Commands that exist only as accelerators are in no menu.
    for (UINT command : {IDM_LASTFRAME, IDM_STEPBACK, IDM_STEPFORWARD, IDM_PLAYPAUSE, IDM_BACKTENTH,
                         IDM_FORWARDTENTH, IDM_BACKSECOND, IDM_FORWARDSECOND, IDM_SEEKBAR})
        EXPECT_EQ(FindItem(menu, command), nullptr) << command;
}

TEST(Bitmaps, PlayButtonIsARaisedFaceWithAnEngravedTriangle) {
    BitmapResource b;
    ASSERT_TRUE(LoadBitmapResource(IDB_PLAYBUTTON, b));
    EXPECT_EQ(b.header.biWidth, 20);
    EXPECT_EQ(b.header.biHeight, 21);
    EXPECT_EQ(b.header.biBitCount, 4);
    EXPECT_EQ(b.bits.size(), 12u * 21u); // rows padded to 4 bytes
    ASSERT_EQ(b.colors.size(), 16u);
    constexpr BYTE black = 0, lightGrey = 7, darkGrey = 8, white = 15;
    EXPECT_EQ(b.colors[lightGrey].rgbRed, 0xC0);
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
