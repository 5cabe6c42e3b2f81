#include "codecs/common/DecodeRequest.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace {

// A 32 x 16 picture placed at (10, 20) of a 64 x 48 frame.
struct Fixture {
    BITMAPINFOHEADER src{40, 32, 16, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    BITMAPINFOHEADER dst{40, 64, 48, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<BYTE> in = std::vector<BYTE>(32 * 16 * 3);
    std::vector<BYTE> out = std::vector<BYTE>(64 * 48 * 3);
    // Flags, the source, the frame, the frame's rectangle, the source's.
    ICDECOMPRESSEX ic{0, &src, in.data(), &dst, out.data(), 10, 20, 32, 16, 0, 0, 32, 16};
    bool buffers = true; // a decode; the query and the begin carry no buffers
    LPARAM cb = sizeof(ICDECOMPRESSEX);
};

// Each case changes the good request a little; -1 stands for any refusal.
// Every depth that can be written is accepted in the codecs' decoding tests.
TEST(DecodeRequest, AcceptsPlacementsInsideTheFrameAndRefusesTheRest) {
    struct Case {
        const char* what;
        void (*bend)(Fixture&);
        LRESULT want;
    };
    const Case cases[] = {
        {"as given", [](Fixture&) {}, ICERR_OK},
        {"touching the top-right corner", [](Fixture& f) { f.ic.xDst = f.ic.yDst = 32; }, ICERR_OK},
        {"one column past the right", [](Fixture& f) { f.ic.xDst = 33; }, -1},
        {"below the frame", [](Fixture& f) { f.ic.yDst = -1; }, -1},
        {"wrapping into range", [](Fixture& f) { f.ic.yDst = INT_MAX; }, -1},
        {"a stretch (the caller's job)", [](Fixture& f) { f.ic.dxDst = 64; }, ICERR_BADSIZE},
        {"source past the picture", [](Fixture& f) { f.ic.xSrc = 1; }, -1},
        {"empty", [](Fixture& f) { f.ic.dxSrc = f.ic.dxDst = 0; }, -1},
        {"15 bits", [](Fixture& f) { f.dst.biBitCount = 15; }, ICERR_BADFORMAT},
        {"bit fields", [](Fixture& f) { f.dst.biBitCount = 16, f.dst.biCompression = BI_BITFIELDS; },
         ICERR_BADFORMAT},
        {"zero width", [](Fixture& f) { f.dst.biWidth = 0; }, ICERR_BADFORMAT},
        {"the 32-bit record size", [](Fixture& f) { f.cb = 52; }, ICERR_BADSIZE},
        {"a query without buffers", [](Fixture& f) { f.ic.lpDst = nullptr, f.buffers = false; }, ICERR_OK},
        {"a decode without output", [](Fixture& f) { f.ic.lpDst = nullptr; }, ICERR_BADPARAM},
        {"a query about the input alone", [](Fixture& f) { f.ic.lpbiDst = nullptr, f.buffers = false; },
         ICERR_OK},
        {"a decode without a format", [](Fixture& f) { f.ic.lpbiDst = nullptr; }, ICERR_BADPARAM},
    };
    for (const Case& c : cases) {
        Fixture f;
        c.bend(f);
        DecodeRequest r;
        const LRESULT got = DecodeRequest::FromDecompressEx(&f.ic, f.cb, 32, 16, f.buffers, &r);
        if (c.want == -1)
            EXPECT_NE(got, ICERR_OK) << c.what;
        else
            EXPECT_EQ(got, c.want) << c.what;
    }
}

} // namespace
