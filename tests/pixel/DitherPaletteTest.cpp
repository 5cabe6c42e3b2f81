#include "pixel/DitherPalette.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// Each table cell holds exactly the colour an exhaustive search finds for
// the cell's centre (lowest index on a tie), whatever the palette: the
// default one, random colours, and a few colours repeated many times.
TEST(DitherPalette, TableHoldsTheExactNearestColourOfEveryCellCentre) {
    std::mt19937 random(11);
    RGBQUAD odd[256], few[256];
    for (int i = 0; i < 256; ++i) {
        odd[i] = RGBQUAD{BYTE(random()), BYTE(random()), BYTE(random()), 0};
        few[i] = RGBQUAD{BYTE(40 * (i % 3)), BYTE(200 - 60 * (i % 4)), BYTE(i % 2 ? 255 : 0), 0};
    }
    DitherPalette palettes[3];
    palettes[1].SetColors(odd, 256);
    palettes[2].SetColors(few, 256);
    for (const DitherPalette& p : palettes)
        for (int cell = 0; cell < 32 * 32 * 32; ++cell) {
            const int r = ((cell >> 10) << 3) + 4, g = (((cell >> 5) & 31) << 3) + 4,
                      b = ((cell & 31) << 3) + 4;
            ASSERT_EQ(p.Lookup(r, g, b), p.Nearest(r, g, b)) << r << "," << g << "," << b;
        }
}

} // namespace
