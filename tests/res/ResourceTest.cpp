// The resources read at run time: the play-button bitmap and the version
// information. (The menus are followed in the window's own tests.)
#include "res/Resource.h"
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
    EXPECT_FALSE(LoadBitmapResource(117, b));
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
