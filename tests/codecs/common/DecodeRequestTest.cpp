#include "codecs/common/DecodeRequest.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace {

struct Fixture {
    BITMAPINFOHEADER src{40, 32, 16, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    BITMAPINFOHEADER dst{40, 64, 48, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<BYTE> in = std::vector<BYTE>(32 * 16 * 3);
    std::vector<BYTE> out = std::vector<BYTE>(64 * 48 * 3);
    ICDECOMPRESSEX ic{};

    Fixture() {
        ic.lpbiSrc = &src;
        ic.lpbiDst = &dst;
        ic.lpSrc = in.data();
        ic.lpDst = out.data();
        ic.xDst = 10;
        ic.yDst = 20;
        ic.dxDst = ic.dxSrc = 32;
        ic.dyDst = ic.dySrc = 16;
    }
    LRESULT Check(bool buffers = true, LPARAM cb = sizeof(ICDECOMPRESSEX)) {
        DecodeRequest r;
        return DecodeRequest::FromDecompressEx(&ic, cb, src.biWidth, src.biHeight, buffers, &r);
    }
};

TEST(DecodeRequest, AcceptsAnyPlacementInsideTheFrame) {
    Fixture f;
    DecodeRequest r;
    ASSERT_EQ(DecodeRequest::FromDecompressEx(&f.ic, sizeof f.ic, 32, 16, true, &r), ICERR_OK);
    EXPECT_EQ(r.target.x, 10);
    EXPECT_EQ(r.target.y, 20); // rows from the bottom, as given
    EXPECT_EQ(r.width, 32);
    f.ic.xDst = 32;
    f.ic.yDst = 32;
    EXPECT_EQ(f.Check(), ICERR_OK); // touching the top-right corner
    for (WORD bpp : {8, 16, 32}) {
        f.dst.biBitCount = bpp;
        EXPECT_EQ(f.Check(), ICERR_OK) << bpp;
    }
}

// Each case changes one field of the good request.
TEST(DecodeRequest, RefusesBadRectanglesAndFormats) {
    struct Case {
        const char* what;
        void (*bend)(Fixture&);
        LRESULT want; // 0: any refusal
    };
    const Case cases[] = {
        {"one column past the right", [](Fixture& f) { f.ic.xDst = 33; }, 0},
        {"below the frame", [](Fixture& f) { f.ic.yDst = -1; }, 0},
        {"wrapping into range", [](Fixture& f) { f.ic.yDst = INT_MAX; }, 0},
        {"a stretch (the caller's job)", [](Fixture& f) { f.ic.dxDst = 64; }, ICERR_BADSIZE},
        {"source past the picture", [](Fixture& f) { f.ic.xSrc = 1; }, 0},
        {"empty", [](Fixture& f) { f.ic.dxSrc = f.ic.dxDst = 0; }, 0},
        {"15 bits", [](Fixture& f) { f.dst.biBitCount = 15; }, ICERR_BADFORMAT},
        {"bit fields", [](Fixture& f) { f.dst.biBitCount = 16, f.dst.biCompression = BI_BITFIELDS; },
         ICERR_BADFORMAT},
        {"zero width", [](Fixture& f) { f.dst.biWidth = 0; }, ICERR_BADFORMAT},
    };
    for (const Case& c : cases) {
        Fixture f;
        c.bend(f);
        if (c.want == 0)
            EXPECT_NE(f.Check(), ICERR_OK) << c.what;
        else
            EXPECT_EQ(f.Check(), c.want) << c.what;
    }
}

TEST(DecodeRequest, NeedsTheRecordAndBuffersItIsPromised) {
    Fixture f;
    EXPECT_EQ(f.Check(true, 52), ICERR_BADSIZE); // the 32-bit record size is too small here
    f.ic.lpDst = nullptr;
    EXPECT_EQ(f.Check(false), ICERR_OK); // query and begin carry no buffers
    EXPECT_EQ(f.Check(true), ICERR_BADPARAM);
    f.ic.lpbiDst = nullptr;
    EXPECT_EQ(f.Check(false), ICERR_OK); // a query about the input alone
    EXPECT_EQ(f.Check(true), ICERR_BADPARAM);
}

} // namespace
