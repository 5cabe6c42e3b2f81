#include "codecs/common/DitherPalette.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

double Distance(const RGBQUAD& q, int r, int g, int b) {
    return std::sqrt(double((q.rgbRed - r) * (q.rgbRed - r) + (q.rgbGreen - g) * (q.rgbGreen - g) +
                            (q.rgbBlue - b) * (q.rgbBlue - b)));
}

// The table answers from the centre of a 8 x 8 x 8 cell, so its colour may
// be farther than the exact nearest by at most the distance from the cell
// centre to a corner and back: 2 * sqrt(3) * 4.
TEST(DitherPalette, TableLookupIsCloseToExactSearch) {
    std::mt19937 random(7);
    DitherPalette palettes[2];
    RGBQUAD odd[256];
    for (int i = 0; i < 256; ++i)
        odd[i] = RGBQUAD{BYTE(random()), BYTE(random()), BYTE(random()), 0};
    palettes[1].SetColors(odd, 256);
    for (const DitherPalette& p : palettes) {
        for (int n = 0; n < 20000; ++n) {
            int r = random() & 255, g = random() & 255, b = random() & 255;
            double exact = Distance(p.Colors()[p.Nearest(r, g, b)], r, g, b);
            double table = Distance(p.Colors()[p.Lookup(r, g, b)], r, g, b);
            ASSERT_LE(table, exact + 2 * std::sqrt(3.0) * 4 + 1e-9) << r << "," << g << "," << b;
        }
    }
}

TEST(DitherPalette, SetColorsReplacesOnlyTheGivenEntriesAndResetRestores) {
    DitherPalette p;
    RGBQUAD one = {1, 2, 3, 99};
    p.SetColors(&one, 1);
    EXPECT_FALSE(p.IsDefault());
    EXPECT_EQ(p.Colors()[0].rgbRed, 3);
    EXPECT_EQ(p.Colors()[0].rgbReserved, 0);
    EXPECT_EQ(p.Colors()[255].rgbRed, DitherPalette::DefaultColors()[255].rgbRed);
    p.SetColors(&one, -5); // nothing given: the default palette
    EXPECT_TRUE(p.IsDefault());
    p.SetColors(&one, 1);
    p.Reset();
    EXPECT_TRUE(p.IsDefault());
    EXPECT_EQ(p.Lookup(3, 2, 1), p.Lookup(0, 0, 0));
}

} // namespace
