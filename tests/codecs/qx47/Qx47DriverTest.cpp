// The Tavro codec as the player sees it: the driver library, reached only
// through codec messages, fed frames that our encoder makes in memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <tuple>
#include <vector>

#include "SyntheticScene.h"
#include "codecs/qx47/Encoder.h"
#include "codecs/qx47/Qx47State.h"
#include "pixel/DibRules.h"
#include "platform/vfw/Vfw.h"

namespace qx47 {
namespace {

using Frame = std::vector<std::uint8_t>;

std::vector<Frame> EncodeScene(SyntheticScene::Kind kind, int w, int h, int count, EncoderSettings s,
                               std::vector<std::vector<std::uint8_t>>* sources = nullptr) {
    SyntheticScene scene(kind, w, h);
    s.width = w;
    s.height = h;
    Encoder enc;
    EXPECT_TRUE(enc.Configure(s));
    std::vector<Frame> frames;
    std::vector<std::uint8_t> src(static_cast<std::size_t>(w) * h * 3);
    for (int i = 0; i < count; ++i) {
        scene.Render(i * 4, src.data());
        frames.push_back(enc.EncodeFrame(src.data(), w * 3));
        if (sources)
            sources->push_back(src);
    }
    return frames;
}

BITMAPINFOHEADER Header(int w, int h, int bits, DWORD compression) {
    return BITMAPINFOHEADER{40, w, h, 1, static_cast<WORD>(bits), compression, 0, 0, 0, 0, 0};
}

// A header followed by a full colour table, as 8-bit output formats travel.
struct Table {
    BITMAPINFOHEADER header;
    RGBQUAD colors[256];
};

// One codec instance, begun, and one output frame of the given format,
// `scale` times the picture's size. Without the library the instance is null
// and every message answers ICERR_BADHANDLE.
struct Session {
    int w, h, scale;
    BITMAPINFOHEADER in;
    Table out;
    HIC hic;
    std::vector<std::uint8_t> bits;

    Session(int width, int height, int bitCount, int times = 1)
        : w(width), h(height), scale(times),
          in(Header(w, h, 24, kHandler)), out{Header(w * scale, h * scale, bitCount, BI_RGB), {}},
          hic(ICOpen(ICTYPE_VIDEO, kHandler, ICMODE_DECOMPRESS)),
          bits(static_cast<std::size_t>(DibStride(w * scale, bitCount)) * h * scale) {
        EXPECT_NE(hic, nullptr) << "libcadmo-codec-qx47.so not found next to the test";
        EXPECT_EQ(Begin(), ICERR_OK);
    }
    ~Session() {
        if (hic)
            ICClose(hic);
    }

    // The query and the begin carry no buffers; a decode carries both. The
    // fields: flags, the source, the frame, the frame's rectangle, the source's.
    ICDECOMPRESSEX Record(const void* data, DWORD flags, bool decode = false) {
        void* dst = decode ? bits.data() : nullptr;
        return ICDECOMPRESSEX{
            flags, &in, const_cast<void*>(data), &out.header, dst, 0, 0, w * scale, h * scale, 0, 0, w, h};
    }
    LRESULT Begin() {
        ICDECOMPRESSEX ic = Record(nullptr, 0);
        return Send(ICM_DECOMPRESSEX_BEGIN, &ic, sizeof(ic));
    }
    LRESULT Decode(const std::vector<std::uint8_t>& frame, DWORD flags = 0) {
        in.biSizeImage = static_cast<DWORD>(frame.size());
        ICDECOMPRESSEX ic = Record(frame.data(), flags, true);
        return Send(ICM_DECOMPRESSEX, &ic, sizeof(ic));
    }
    LRESULT Send(UINT msg, const void* a, LPARAM b) {
        return ICSendMessage(hic, msg, reinterpret_cast<DWORD_PTR>(a), static_cast<DWORD_PTR>(b));
    }

    // Pixel (x, y) of the output, counted from the top, in either row order.
    const std::uint8_t* At(int x, int y) {
        const int rows = h * scale;
        const int memoryRow = out.header.biHeight < 0 ? y : rows - 1 - y;
        return bits.data() + bits.size() / rows * memoryRow + x * out.header.biBitCount / 8;
    }
    // The mean luma of a 32-bit frame, whose rows have no padding.
    double MeanLuma() {
        double sum = 0;
        for (std::size_t i = 0; i < bits.size(); i += 4)
            sum += 0.114 * bits[i] + 0.587 * bits[i + 1] + 0.299 * bits[i + 2];
        return sum / static_cast<double>(bits.size() / 4);
    }
};

const auto ShortRequest = MakeStateRecord<ShortStateRecord>;
const auto LongRequest = MakeStateRecord<LongStateRecord>;

LRESULT SetColors(Session& s, LONG b, LONG sat, LONG c) {
    LongStateRecord r = LongRequest(kLongKindCurrent, kLongMaskColorControls);
    r.brightness = b;
    r.saturation = sat;
    r.contrast = c;
    return s.Send(ICM_SETSTATE, &r, sizeof(r));
}

// What the colour controls do to the picture. The player's first requests
// fill whole records with the defaults. Values outside -255..255 are refused
// whole, as are records of the wrong length or identity, and a reset (kind 1)
// brings back the plain picture.
TEST(Qx47Driver, BrightnessRaisesTheMeanAndSaturationRemovesColour) {
    const int w = 96, h = 64;
    auto frames = EncodeScene(SyntheticScene::Kind::Landscape, w, h, 1, EncoderSettings{});
    Session s(w, h, 32);
    ShortStateRecord sr = ShortRequest(kShortKindFirst, kShortMaskFirstRequest);
    sr.transparency = sr.alternateLine = 77;
    EXPECT_EQ(s.Send(ICM_GETSTATE, &sr, 44), ICERR_OK);
    EXPECT_EQ(std::tuple(sr.transparency, sr.alternateLine), std::tuple(kTransparencyFill, DWORD{0}));
    LongStateRecord lr = LongRequest(kLongKindDefaults, kLongMaskFirstRequest);
    lr.brightness = lr.saturation = lr.contrast = lr.timeBudget = 99;
    EXPECT_EQ(s.Send(ICM_GETSTATE, &lr, 84), ICERR_OK);
    EXPECT_EQ(std::tuple(lr.brightness, lr.saturation, lr.contrast, lr.timeBudget), std::tuple(0, 0, 0, 0));
    ASSERT_EQ(s.Decode(frames[0]), ICERR_OK);
    const double plain = s.MeanLuma();
    const std::vector<std::uint8_t> plainBits = s.bits;

    ASSERT_EQ(SetColors(s, 120, 0, 0), ICERR_OK);
    ASSERT_EQ(s.Decode(frames[0]), ICERR_OK);
    EXPECT_GT(s.MeanLuma(), plain + 40);

    ASSERT_EQ(SetColors(s, 0, -255, 0), ICERR_OK);
    EXPECT_NE(SetColors(s, 256, 0, 0), ICERR_OK);
    EXPECT_NE(SetColors(s, 0, 0, -300), ICERR_OK);
    LongStateRecord bad = LongRequest(kLongKindCurrent, kLongMaskBrightness);
    bad.brightness = 50;
    EXPECT_NE(s.Send(ICM_SETSTATE, &bad, 80), ICERR_OK);
    bad.fourcc = mmioFOURCC('X', 'X', 'X', 'X');
    EXPECT_NE(s.Send(ICM_SETSTATE, &bad, 84), ICERR_OK);
    ASSERT_EQ(s.Decode(frames[0]), ICERR_OK);
    for (std::size_t i = 0; i < s.bits.size(); i += 4) // 32-bit rows have no padding
        ASSERT_TRUE(s.bits[i] == s.bits[i + 1] && s.bits[i + 1] == s.bits[i + 2]) << "byte " << i;
    EXPECT_NEAR(s.MeanLuma(), plain, 3.0) << "grey keeps the brightness";

    LongStateRecord reset = LongRequest(kLongKindDefaults, kLongMaskColorControls);
    reset.brightness = 123; // ignored: kind 1 restores the defaults
    ASSERT_EQ(s.Send(ICM_SETSTATE, &reset, 84), ICERR_OK);
    ASSERT_EQ(s.Decode(frames[0]), ICERR_OK);
    EXPECT_EQ(s.bits, plainBits);
}

// A transparent movie in compositing mode writes only opaque pixels, only
// inside the rectangle it reports; in the default mode it paints the key colour.
TEST(Qx47Driver, TransparencyLeavesTheBackgroundAloneOutsideTheBounds) {
    const int w = 160, h = 120;
    EncoderSettings es;
    es.transparent = true;
    std::memcpy(es.keyColor, SyntheticScene::kFieldColor, 3);
    es.keyTolerance = 0;
    std::vector<std::vector<std::uint8_t>> sources;
    auto frames = EncodeScene(SyntheticScene::Kind::Sprite, w, h, 6, es, &sources);
    Session s(w, h, 24);
    LONG bounds[4] = {0, 0, 0, 0};
    LongStateRecord lr = LongRequest(kLongKindCurrent, kLongMaskBoundsAddress);
    SetBoundsAddress(lr, bounds);
    ASSERT_EQ(s.Send(ICM_SETSTATE, &lr, 84), ICERR_OK);

    // Default mode: the whole frame is written, transparent pixels in the key colour.
    ASSERT_EQ(s.Decode(frames[0]), ICERR_OK);
    EXPECT_EQ(std::vector<LONG>(bounds, bounds + 4), (std::vector<LONG>{0, 0, w, h}));
    EXPECT_EQ(std::vector<std::uint8_t>(s.At(0, 0), s.At(0, 0) + 3),
              (std::vector<std::uint8_t>{255, 0, 255}));

    ShortStateRecord sr = ShortRequest(kShortKindLater, kShortMaskTransparency);
    sr.transparency = kTransparencyComposite;
    ASSERT_EQ(s.Send(ICM_SETSTATE, &sr, 44), ICERR_OK);
    for (std::size_t i = 1; i < frames.size(); ++i) {
        for (std::size_t k = 0; k < s.bits.size(); ++k) // the "background"
            s.bits[k] = static_cast<std::uint8_t>(k * 7 + 3);
        const std::vector<std::uint8_t> before = s.bits;
        ASSERT_EQ(s.Decode(frames[i]), ICERR_OK);
        const int bx = bounds[0], by = bounds[1], bw = bounds[2], bh = bounds[3];
        EXPECT_LT(bw * bh, w * h / 2) << "the sprite covers a small part";
        int changedInside = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const std::size_t off = s.At(x, y) - s.bits.data();
                const bool same = std::memcmp(s.bits.data() + off, before.data() + off, 3) == 0;
                const std::uint8_t* src = &sources[i][(static_cast<std::size_t>(y) * w + x) * 3];
                const bool keyPixel = src[2] == 255 && src[1] == 0 && src[0] == 255;
                const bool inside = x >= bx && x < bx + bw && y >= by && y < by + bh;
                if (!inside || keyPixel) {
                    ASSERT_TRUE(same) << "pixel " << x << "," << y << " of frame " << i;
                } else if (!same) {
                    ++changedInside;
                }
            }
        EXPECT_GT(changedInside, bw * bh / 3);
    }
}

// Pixel doubling repeats every pixel 2 x 2; alternate-line doubling writes
// the first line of each pair and leaves the second as the buffer held it.
// Doubled rows take the plain conversion only, native ones the vector paths,
// two rows at a time: 54 pixels a row end with 32 pixels that overlap the
// first 32, 55 with 16 pixels and 7 plain ones; 33 rows leave one row alone.
// The second size turns the colour controls up to their limits, where sums
// saturate and clamp. The third is odd (padded macroblocks, half chroma
// samples at the edge). The native frames are top-down, the doubled ones
// bottom-up.
TEST(Qx47Driver, DoublingModesGiveTheDocumentedPixels) {
    struct Case {
        int w, h;
        LONG brightness, saturation, contrast;
    };
    EncoderSettings es;
    es.keyInterval = 1; // every frame can be decoded again on its own
    for (const Case& c : {Case{54, 32, 0, 0, 0}, Case{55, 33, -60, 255, 255}, Case{37, 23, 0, 0, 0}}) {
        const int w = c.w, h = c.h;
        auto frames = EncodeScene(SyntheticScene::Kind::Landscape, w, h, 2, es);
        for (int bits : {8, 16, 24, 32}) {
            SCOPED_TRACE(testing::Message() << w << " x " << h << ", " << bits << " bits");
            Session native(w, h, bits), doubled(w, h, bits, 2);
            native.out.header.biHeight = -h;
            for (Session* s : {&native, &doubled}) {
                ASSERT_EQ(SetColors(*s, c.brightness, c.saturation, c.contrast), ICERR_OK);
                for (const Frame& f : frames)
                    ASSERT_EQ(s->Decode(f), ICERR_OK);
            }
            const int bytes = bits / 8;
            for (int y = 0; bits != 8 && y < 2 * h; ++y) // 8 bits: the dither follows the output position
                for (int x = 0; x < 2 * w; ++x)
                    ASSERT_EQ(std::memcmp(doubled.At(x, y), native.At(x / 2, y / 2), bytes), 0)
                        << x << "," << y;

            ShortStateRecord sr = ShortRequest(kShortKindLater, kShortMaskLineDoubling);
            sr.alternateLine = 1;
            ASSERT_EQ(doubled.Send(ICM_SETSTATE, &sr, 44), ICERR_OK);
            std::fill(doubled.bits.begin(), doubled.bits.end(), 0xEE);
            ASSERT_EQ(doubled.Decode(frames[1]), ICERR_OK);
            for (int y = 0; y < 2 * h; ++y) {
                const std::uint8_t* p = doubled.At(0, y);
                const bool untouched =
                    std::all_of(p, p + 2 * w * bytes, [](std::uint8_t v) { return v == 0xEE; });
                EXPECT_EQ(untouched, (y & 1) == 1) << "line " << y;
                if (bits != 8 && !(y & 1)) {
                    ASSERT_EQ(std::memcmp(p, native.At(0, y / 2), bytes), 0);
                }
            }
        }
    }
}

// 8-bit output dithers to the palette the player set (entries 10..245), and
// ICM_DECOMPRESS_GET_PALETTE hands that palette back. The test palette is
// the default one with entries 10..245 in reverse order, so the picture must
// come out as the same colours under the permuted indices.
TEST(Qx47Driver, EightBitOutputUsesTheReplacedPalette) {
    const int w = 64, h = 48;
    auto frames = EncodeScene(SyntheticScene::Kind::Landscape, w, h, 1, EncoderSettings{});
    Session s(w, h, 8);
    Table def{}, fmt{}, got{};
    def.header = fmt.header = got.header = Header(w, h, 8, BI_RGB);
    ASSERT_EQ(s.Send(ICM_DECOMPRESS_GET_PALETTE, &s.in, reinterpret_cast<LPARAM>(&def)), ICERR_OK);
    ASSERT_EQ(s.Decode(frames[0]), ICERR_OK);
    const std::vector<std::uint8_t> plain = s.bits;

    fmt = def;
    fmt.header.biClrUsed = 256;
    for (int i = 10; i <= 245; ++i)
        fmt.colors[i] = def.colors[255 - i];
    fmt.colors[3] = RGBQUAD{1, 2, 3, 0}; // outside 10..245: ignored
    ASSERT_EQ(s.Send(ICM_DECOMPRESS_SET_PALETTE, &fmt, 0), ICERR_OK);
    ASSERT_EQ(s.Send(ICM_DECOMPRESS_GET_PALETTE, &s.in, reinterpret_cast<LPARAM>(&got)), ICERR_OK);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(std::memcmp(&got.colors[i], i >= 10 && i <= 245 ? &fmt.colors[i] : &def.colors[i], 3), 0)
            << i;

    ASSERT_EQ(s.Decode(frames[0]), ICERR_OK);
    // Two palette colours at the same distance may swap places (the lower
    // index wins a tie), so the check is on the colours shown.
    std::size_t same = 0, moved = 0;
    for (std::size_t i = 0; i < plain.size(); ++i) {
        const RGBQUAD a = def.colors[plain[i]], b = got.colors[s.bits[i]];
        ASSERT_LE(std::abs(a.rgbRed - b.rgbRed) + std::abs(a.rgbGreen - b.rgbGreen) +
                      std::abs(a.rgbBlue - b.rgbBlue),
                  40)
            << i;
        same += std::memcmp(&a, &b, 3) == 0;
        moved += s.bits[i] != plain[i];
    }
    EXPECT_GT(same, plain.size() * 95 / 100);
    EXPECT_GT(moved, plain.size() / 2) << "the picture is drawn with the new indices";

    ASSERT_EQ(s.Send(ICM_DECOMPRESS_SET_PALETTE, nullptr, 0), ICERR_OK);
    ASSERT_EQ(s.Decode(frames[0]), ICERR_OK);
    EXPECT_EQ(s.bits, plain) << "back to the default palette";
}

// Within a drawing cycle the codec rewrites only what changed in a buffer
// it already filled; the result must equal a full conversion every time,
// through refinement, key frames, colour changes and repeated frames.
// Catch-up decodes (HURRYUP) skip the output but keep the state, so the
// next shown frame, drawn over the stale buffer, is still the full one.
// They skip the refinement too, which changes the shown picture, so they
// are sent only for the stream without it.
TEST(Qx47Driver, UpdatingOnlyChangedAreasEqualsFullOutput) {
    const int w = 96, h = 64;
    EncoderSettings es;
    es.keyInterval = 5;
    for (bool refine : {true, false}) {
        es.refinement = refine;
        auto frames = EncodeScene(SyntheticScene::Kind::Landscape, w, h, 14, es);
        for (int bits : {8, 24, 32}) {
            Session kept(w, h, bits), fresh(w, h, bits);
            std::vector<std::uint8_t> empty;
            EXPECT_EQ(kept.Decode(empty), ICERR_DONTDRAW) << "nothing to repeat yet";
            for (std::size_t i = 0; i < frames.size(); ++i) {
                if (!refine && (i == 2 || i == 3)) {
                    ASSERT_EQ(kept.Decode(frames[i], ICDECOMPRESS_HURRYUP), ICERR_OK);
                    ASSERT_EQ(fresh.Decode(frames[i]), ICERR_OK);
                    continue;
                }
                if (i == 7) {
                    ASSERT_EQ(SetColors(kept, 30, -40, 20), ICERR_OK);
                    ASSERT_EQ(SetColors(fresh, 30, -40, 20), ICERR_OK);
                }
                ASSERT_EQ(fresh.Begin(), ICERR_OK); // a new cycle: everything is written
                std::fill(fresh.bits.begin(), fresh.bits.end(), 0x5A);
                const Frame& f = i == 10 ? empty : frames[i];
                ASSERT_EQ(kept.Decode(f), ICERR_OK);
                ASSERT_EQ(fresh.Decode(f), ICERR_OK);
                ASSERT_EQ(kept.bits, fresh.bits) << bits << " bits, frame " << i << ", refinement " << refine;
            }
        }
    }
}

// Damaged frames: a clear error, never a read or write outside the buffers
// (the sanitizer build checks the latter), and a later key frame recovers.
TEST(Qx47Driver, HostileFramesGiveErrorsAndKeyFramesRecover) {
    const int w = 48, h = 32;
    EncoderSettings es;
    es.keyInterval = 3;
    auto frames = EncodeScene(SyntheticScene::Kind::Landscape, w, h, 4, es);
    Session s(w, h, 24);
    EXPECT_EQ(s.Decode(frames[1]), ICERR_GOTOKEYFRAME) << "delta before any key frame";

    // Every truncation of a key frame is refused or decoded, never more.
    const std::vector<std::uint8_t>& key = frames[0];
    for (std::size_t n = 1; n < key.size(); n += std::max<std::size_t>(1, key.size() / 97)) {
        std::vector<std::uint8_t> cut(key.begin(), key.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_NE(s.Decode(cut), ICERR_OK) << n;
    }
    // A frame that claims another picture size.
    std::vector<std::uint8_t> other = key;
    other[4] = static_cast<std::uint8_t>(w + 16);
    EXPECT_NE(s.Decode(other), ICERR_OK);
    // Random damage past the header: any answer, but no crash.
    std::mt19937 rng(7);
    for (int round = 0; round < 300; ++round) {
        std::vector<std::uint8_t> bad = frames[round % 2];
        for (int k = 0; k < 1 + round % 8; ++k)
            bad[32 + rng() % (bad.size() - 32)] ^= static_cast<std::uint8_t>(1 + rng() % 255);
        s.Decode(bad);
    }
    EXPECT_EQ(s.Decode(frames[3]), ICERR_OK) << "the key frame at 3 starts afresh";

    // Formats and rectangles the codec refuses.
    ICDECOMPRESSEX ic = s.Record(nullptr, 0);
    ic.dxDst = w * 3 / 2;
    EXPECT_NE(s.Send(ICM_DECOMPRESSEX_QUERY, &ic, sizeof(ic)), ICERR_OK);
    ic = s.Record(nullptr, 0);
    ic.xDst = 1;
    EXPECT_NE(s.Send(ICM_DECOMPRESSEX_QUERY, &ic, sizeof(ic)), ICERR_OK) << "past the right edge";
    EXPECT_EQ(s.Send(ICM_DECOMPRESSEX_QUERY, &ic, 52), ICERR_BADSIZE) << "the 32-bit record size";
    s.out.header.biBitCount = 15;
    ic = s.Record(nullptr, 0);
    EXPECT_NE(s.Send(ICM_DECOMPRESSEX_QUERY, &ic, sizeof(ic)), ICERR_OK);
}

} // namespace
} // namespace qx47
