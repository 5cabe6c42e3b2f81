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
// and 2 become red and green, before frame 4 entry 0 becomes blue; before
// frame 3 comes a damaged change, its count past the chunk.
TestAviSpec PaletteSpec() {
    TestAviSpec spec;
    spec.bitCount = 4;
    spec.frames = 6;
    spec.audio = false;
    spec.colors = {kGrey, kGrey, kGrey, kGrey};
    spec.clrUsed = 4;
    spec.paletteChange = [](int f) -> std::vector<BYTE> {
        if (f == 2)
            return PaletteChangeRecord(1, 2, {kRed, kGreen});
        if (f == 3) // damaged: seen first, so it must not hide the good ones
            return PaletteChangeRecord(0, 3, {kRed});
        if (f == 4)
            return PaletteChangeRecord(0, 1, {kBlue});
        return {};
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

// Hostile changes: each alone is ignored and leaves the stream whole.
TEST_F(AviTest, DamagedOrMisplacedPaletteChangesAreIgnored) {
    struct Case {
        const char* what;
        std::vector<BYTE> record;
        WORD bitCount;
    };
    const Case cases[] = {
        {"count past its chunk (says 4, holds 2)", PaletteChangeRecord(0, 4, {kRed, kRed}), 4},
        {"entries past the table", PaletteChangeRecord(3, 2, {kRed, kRed}), 4},
        {"all 256 entries of a 4-entry table", PaletteChangeRecord(0, 0, std::vector<RGBQUAD>(256, kRed)), 4},
        {"shorter than a record", {0, 1}, 4},
        {"stream without a palette", PaletteChangeRecord(0, 1, {kRed}), 24},
    };
    for (const Case& c : cases) {
        TestAviSpec spec = PaletteSpec();
        spec.bitCount = c.bitCount;
        if (c.bitCount > 8) {
            spec.colors.clear();
            spec.clrUsed = 0;
        }
        spec.paletteChange = [&](int f) { return f == 1 ? c.record : std::vector<BYTE>{}; };
        OpenedAvi avi(Write(spec));
        EXPECT_EQ(AVIStreamLength(avi.video), 6) << c.what;
        EXPECT_TRUE(ReadsBack(avi, spec)) << c.what;
        EXPECT_EQ(AVIStreamFindSample(avi.video, 1, FIND_NEXT | FIND_FORMAT), -1) << c.what;
        if (c.bitCount <= 8) {
            EXPECT_EQ(TableAt(avi.video, 5), spec.colors) << c.what;
        }
    }
}

} // namespace
