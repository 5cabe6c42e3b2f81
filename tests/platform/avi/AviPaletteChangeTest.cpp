// Palette changes ("##pc" chunks): kept apart from the frames, found with
// FIND_FORMAT, and applied by AVIStreamReadFormat at their frame, whether the
// file is read through idx1 or scanned; damaged changes are ignored.
#include "AviTestUtil.h"

#include <cstring>

using namespace cadmo::test;

// Found by argument lookup from the comparisons of colour tables below.
static bool operator==(const RGBQUAD& a, const RGBQUAD& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

namespace {

const RGBQUAD kRed{0, 0, 255, 0}, kGreen{0, 255, 0, 0}, kBlue{255, 0, 0, 0}, kGrey{9, 9, 9, 0};

// A 4-bit stream of six frames with four colours. Before frame 2 entries 1
// and 2 become red and green, before frame 4 entry 0 becomes blue. Before
// frames 1, 3 and 5 come damaged changes, each to be ignored without hiding
// the good ones: all 256 entries (a count of 0) for the 4-entry table, a
// count past the chunk (says 3, holds 1), and a chunk shorter than a record.
TestAviSpec PaletteSpec() {
    TestAviSpec spec{.bitCount = 4, .frames = 6, .colors = {kGrey, kGrey, kGrey, kGrey}, .clrUsed = 4};
    spec.audio = false;
    spec.paletteChange = [](int f) -> std::vector<BYTE> {
        if (f == 1)
            return PaletteChangeRecord(0, 0, std::vector<RGBQUAD>(256, kRed));
        if (f == 2)
            return PaletteChangeRecord(1, 2, {kRed, kGreen});
        if (f == 3)
            return PaletteChangeRecord(0, 3, {kRed});
        if (f == 4)
            return PaletteChangeRecord(0, 1, {kBlue});
        return f == 5 ? std::vector<BYTE>{0, 1} : std::vector<BYTE>{};
    };
    return spec;
}

std::vector<RGBQUAD> TableAt(PAVISTREAM s, LONG pos) {
    std::vector<BYTE> format(40 + 16);
    LONG size = static_cast<LONG>(format.size());
    EXPECT_EQ(AVIStreamReadFormat(s, pos, format.data(), &size), AVIERR_OK);
    std::vector<RGBQUAD> table(4);
    std::memcpy(table.data(), format.data() + 40, 16);
    return table;
}

class AviPaletteChange : public AviTest, public ::testing::WithParamInterface<bool> {};

TEST_P(AviPaletteChange, TakeEffectAtTheirFrameAndAreNotFrames) {
    TestAviSpec spec = PaletteSpec();
    spec.options.writeIdx1 = GetParam();
    OpenedAvi avi(Write(spec));
    EXPECT_EQ(avi.details.fIndexRebuilt, !GetParam());
    EXPECT_EQ(AVIStreamLength(avi.video), 6);
    EXPECT_TRUE(ReadsBack(avi, spec)) << "every frame reads as written, no change read as a frame";

    AVISTREAMINFOA info{};
    ASSERT_EQ(AVIStreamInfoA(avi.video, &info, sizeof info), AVIERR_OK);
    EXPECT_TRUE(info.dwFlags & AVISTREAMINFO_FORMATCHANGES);

    const LONG prev[] = {0, 0, 2, 2, 4, 4, 4};
    for (LONG pos = 0; pos <= 6; ++pos)
        EXPECT_EQ(AVIStreamFindSample(avi.video, pos, FIND_PREV | FIND_FORMAT), prev[pos]) << pos;
    EXPECT_EQ(AVIStreamFindSample(avi.video, 1, FIND_NEXT | FIND_FORMAT), 2);
    EXPECT_EQ(AVIStreamFindSample(avi.video, 3, FIND_NEXT | FIND_FORMAT), 4);
    EXPECT_EQ(AVIStreamFindSample(avi.video, 5, FIND_NEXT | FIND_FORMAT), -1);

    const std::vector<RGBQUAD> start = {kGrey, kGrey, kGrey, kGrey}, second = {kGrey, kRed, kGreen, kGrey},
                               third = {kBlue, kRed, kGreen, kGrey};
    // Read out of order: going back restores the earlier table.
    for (LONG pos : {5, 0, 3, 2, 1, 4})
        EXPECT_EQ(TableAt(avi.video, pos), pos < 2 ? start : pos < 4 ? second : third) << pos;
}

INSTANTIATE_TEST_SUITE_P(Index, AviPaletteChange, ::testing::Bool(),
                         [](const auto& p) { return p.param ? "Idx1" : "Scanned"; });

// A change in a stream whose format has no colour table is ignored and
// leaves the stream whole.
TEST_F(AviTest, PaletteChangeWithoutAPaletteIsIgnored) {
    TestAviSpec spec{.frames = 6, .audio = false};
    spec.paletteChange = [](int f) {
        return f == 1 ? PaletteChangeRecord(0, 1, {kRed}) : std::vector<BYTE>{};
    };
    OpenedAvi avi(Write(spec));
    EXPECT_EQ(AVIStreamLength(avi.video), 6);
    EXPECT_TRUE(ReadsBack(avi, spec));
    EXPECT_EQ(AVIStreamFindSample(avi.video, 1, FIND_NEXT | FIND_FORMAT), -1);
}

} // namespace
