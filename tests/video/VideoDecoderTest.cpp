// The decoder's exchange with its codec: what is sent, in which order, with
// which records, and which buffers the codec is given; and the size rule of
// frame buffers.

#include <tuple>

#include "EngineTestSupport.h"
#include "video/TavroControls.h"
#include "video/VideoDecoder.h"

using namespace enginetest;

namespace {

// The driver messages (not the system ones) the fake codec received.
std::vector<UINT> Messages() {
    std::vector<UINT> out;
    for (const CodecCall& c : FakeCodec::Get().Calls())
        if (c.msg >= DRV_USER)
            out.push_back(c.msg);
    return out;
}

// The state records sent, with the length each was sent with.
std::vector<std::pair<UINT, LPARAM>> StateSends() {
    std::vector<std::pair<UINT, LPARAM>> out;
    for (const CodecCall& c : FakeCodec::Get().Calls())
        if (c.msg == ICM_GETSTATE || c.msg == ICM_SETSTATE)
            out.emplace_back(c.msg, c.length);
    return out;
}

// A decoder of a 32 x 24, 8-bit stream for the fake codec, and a 24-bit
// window and its device context for the drawing cycle.
class VideoDecoderTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        ASSERT_EQ(d.Open(kFake, Header(32, 24, 8, kFake)), 0);
    }
    ~VideoDecoderTest() override { window.ReleaseDC(dc); }
    FakeWindow window;
    HDC dc = window.GetDC();
    VideoDecoder d; // goes first, and so never outlives the window
};

} // namespace

TEST(FrameBytesTest, RoundsRowsUpToWholeWordsAndRefusesWhatDoesNotFit) {
    struct Case {
        LONG w, h;
        WORD bits;
        LONG bytes;
    };
    // The last three wrap in 32-bit arithmetic to small or negative sizes.
    const Case cases[] = {{321, 240, 8, 77760},   {321, 240, 24, 233280}, {320, -240, 24, 230400},
                          {40000, 40000, 32, -1}, {0x7fffffff, 1, 8, -1}, {-4, 10, 8, -1}};
    for (const Case& c : cases)
        EXPECT_EQ(FrameBytes(Header(c.w, c.h, c.bits)), c.bytes) << c.w << "x" << c.h << "x" << c.bits;
}

TEST_F(VideoDecoderTest, OpenSetsUpTheOutputAndRectanglesAndNoFormatLeavesAShortBuffer) {
    FakeCodec::Get().ClearCalls();
    VideoDecoder wide;
    ASSERT_EQ(wide.Open(kFake, Header(320, 240, 24, kFake)), 0);
    BITMAPINFOHEADER out{};
    wide.GetOutputFormat(&out);
    EXPECT_EQ(std::tuple(out.biWidth, out.biHeight, out.biBitCount, out.biCompression, out.biSizeImage),
              std::tuple(320, 240, WORD{8}, DWORD{BI_RGB}, DWORD{0}));
    EXPECT_EQ(wide.pixelBufferSize, 230400u);
    for (const VideoRect* r : {&wide.sourceRect, &wide.decodeRect, &wide.windowRect, &wide.viewRect})
        EXPECT_EQ(std::tuple(r->x, r->y, r->width, r->height), std::tuple(0, 0, 320, 240));
    EXPECT_EQ(Messages(), (std::vector<UINT>{ICM_DECOMPRESS_QUERY, ICM_DECOMPRESS_SET_PALETTE}));

    // A 4-bit source is smaller than its 8-bit output: the hidden buffer must
    // still hold a whole output frame.
    VideoDecoder small;
    ASSERT_EQ(small.Open(kFake, Header(320, 240, 4, kFake)), 0);
    EXPECT_GE(small.pixelBufferSize, 76800u);
    // A stream no codec takes is the movie test's: it leaves no decoder.

    // A larger frame whose header understates its size still gets room for it.
    ASSERT_EQ(d.SetOutputFormat(Header(64, 48, 32, BI_RGB)), 0);
    EXPECT_EQ(d.pixelBufferSize, 64u * 48 * 4);
    EXPECT_EQ(d.SetOutputFormat(Header(60000, 60000, 32, BI_RGB)), -1);
    d.GetOutputFormat(&out);
    EXPECT_EQ(out.biWidth, 64) << "a refused header changes nothing";
    // Catch-up decodes fill a whole output frame into the hidden buffer.
    ASSERT_EQ(d.BeginDraw(dc, 15.0f), 0);
    const BYTE frame[8] = {3};
    EXPECT_EQ(d.DecodeWithoutDraw(frame, 8, ICDECOMPRESS_HURRYUP), 0);
    d.EndDraw();
}

TEST_F(VideoDecoderTest, DrawingCycleMessagesAndRecords) {
    FakeCodec::Get().ClearCalls();
    EXPECT_EQ(d.BeginDraw(nullptr, 15.0f), -1);
    const BYTE frame[8] = {7, 0, 0, 0};
    // Outside a cycle, before it and after it, frames reach nothing.
    const auto drawOutside = [&] {
        EXPECT_EQ(d.DrawFrame(frame, 8, 0), 0);
        EXPECT_EQ(d.DecodeWithoutDraw(frame, 8, 0), 0);
    };
    drawOutside();
    EXPECT_TRUE(FakeCodec::Get().Calls().empty());

    ASSERT_EQ(d.BeginDraw(dc, 15.0f), 0);
    d.StartCodecClock(15.0f);
    EXPECT_EQ(d.DrawFrame(frame, 8, 0), 0);
    d.StopCodecClock();
    EXPECT_EQ(d.EndDraw(), 0);
    EXPECT_EQ(d.EndDraw(), -1);
    drawOutside();
    EXPECT_EQ(Messages(), (std::vector<UINT>{ICM_DECOMPRESSEX_QUERY, ICM_DECOMPRESSEX_BEGIN,
                                             ICM_DECOMPRESS_GET_PALETTE, ICM_DRAW_BEGIN, ICM_DRAW_START,
                                             ICM_DECOMPRESSEX, ICM_DRAW_STOP, ICM_DRAW_END}));
    const auto draw = FakeCodec::Get().Calls(ICM_DECOMPRESSEX)[0];
    // The codec learns the size of each frame.
    EXPECT_EQ(std::tuple(draw.frame, draw.srcBytes, draw.dst.biBitCount), std::tuple(7, 8u, WORD{8}));
    EXPECT_EQ(SurfaceGrey(*window.surface, 5, 5), 7) << "the frame reached the window";
}

TEST_F(VideoDecoderTest, PalettesByDisplayAndOutputDepth) {
    struct Case {
        int displayBits;
        WORD outputBits;
        int drawDib; // -1: either way
        bool palette;
        bool selected;
    };
    // An 8-bit display shows deeper output through DrawDib with a palette
    // kept aside; 8-bit output on a deep display selects the palette; deep
    // output on a deep display needs none.
    for (const Case& c : {Case{8, 24, 1, true, false}, {24, 8, 0, true, true}, {32, 16, -1, false, false}}) {
        SCOPED_TRACE(c.displayBits);
        FakeCodec::Get().ClearCalls();
        FakeWindow w(c.displayBits);
        HDC hdc = w.GetDC();
        VideoDecoder dec;
        ASSERT_EQ(dec.Open(kFake, Header(32, 24, 24, kFake)), 0);
        if (c.outputBits != 8) {
            ASSERT_EQ(dec.SetOutputFormat(Header(32, 24, c.outputBits, BI_RGB)), 0);
        }
        ASSERT_EQ(dec.BeginDraw(hdc, 15.0f), 0);
        EXPECT_TRUE(c.drawDib < 0 || useDrawDib == c.drawDib);
        EXPECT_EQ(dec.palette != nullptr, c.palette);
        EXPECT_EQ(!FakeCodec::Get().Calls(ICM_DECOMPRESS_GET_PALETTE).empty(), c.palette);
        EXPECT_EQ(dec.savedPalette != nullptr, c.selected);
        EXPECT_TRUE(!c.selected || dec.savedMemoryPalette != nullptr);
        const BYTE frame[8] = {9};
        EXPECT_EQ(dec.DrawFrame(frame, 8, 0), 0);
        dec.EndDraw();
        EXPECT_EQ(dec.palette, nullptr);
        w.ReleaseDC(hdc);
    }
}

TEST_F(VideoDecoderTest, QueryDecodeChecksTheRectangleFirst) {
    FakeCodec::Get().ClearCalls();
    // Rectangles outside the source (the last wraps in 32 bits) reach no codec.
    for (auto [x, y, w, h] :
         {std::array<LONG, 4>{1, 0, 32, 24}, {0, 1, 32, 24}, {-1, 0, 4, 4}, {0x7fffffff, 0, 0x7fffffff, 4}})
        EXPECT_EQ(d.QueryDecode(nullptr, x, y, w, h), -1) << x << "," << y << " " << w << "x" << h;
    EXPECT_TRUE(FakeCodec::Get().Calls().empty());
    EXPECT_EQ(d.QueryDecode(nullptr, 0, 0, 0, 0), 0);
    ASSERT_EQ(FakeCodec::Get().Calls(ICM_DECOMPRESSEX_QUERY).size(), 1u);
    EXPECT_EQ(FakeCodec::Get().Calls(ICM_DECOMPRESSEX_QUERY)[0].rec.dxDst, 32) << "0 x 0: the whole frame";
}

TEST_F(VideoDecoderTest, PaletteReplacement) {
    std::vector<BYTE> raw(4 + 300 * 4);
    auto* pal = reinterpret_cast<LOGPALETTE*>(raw.data());
    pal->palNumEntries = 300;
    for (int i = 0; i < 300; ++i)
        pal->palPalEntry[i] = PALETTEENTRY{static_cast<BYTE>(i), 1, 2, 0};
    RGBQUAD* colors = d.outputFormat->colors;
    colors[246] = colors[5] = RGBQUAD{9, 9, 9, 9};
    EXPECT_EQ(d.SetPalette(pal), 1);
    // At most 236 entries, after the first ten.
    EXPECT_EQ(std::tuple(colors[5].rgbRed, colors[10].rgbRed, colors[245].rgbRed, colors[245].rgbGreen,
                         colors[246].rgbRed),
              std::tuple(9, 0, 235, 1, 9));
    EXPECT_EQ(d.outputFormat->header.biClrUsed, 256u);

    FakeCodec::Get().setPaletteAnswer = ICERR_BADFORMAT;
    FakeCodec::Get().ClearCalls();
    EXPECT_EQ(d.SetPalette(pal), 0);
    auto calls = FakeCodec::Get().Calls(ICM_DECOMPRESS_SET_PALETTE);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_NE(calls[0].p1, 0);
    EXPECT_EQ(calls[1].p1, 0) << "refused: back to the codec's default";
    EXPECT_EQ(d.SetPalette(nullptr), 1);
}

TEST_F(VideoDecoderTest, TavroControlsOnlyReachTheTavroCodec) {
    RECT r{1, 2, 3, 4};
    EXPECT_EQ(d.GetUpdatedRect(&r), VideoDecoder::kNotTavro);
    EXPECT_EQ(d.Tavro(), nullptr) << "no Tavro controls for another codec";
    EXPECT_EQ(d.SetLineDoubling(1), VideoDecoder::kRefused);

    VideoDecoder upper;
    ASSERT_EQ(upper.Open(qx47::kStateFourcc, Header(32, 24, 24, qx47::kHandler)), 0);
    EXPECT_EQ(upper.handler, qx47::kHandler) << "QX47 is stored as qx47";
    FakeCodec::Get().Reset();
    VideoDecoder t;
    ASSERT_EQ(t.Open(0, Header(32, 24, 24, qx47::kHandler)), 0);
    EXPECT_EQ(t.handler, qx47::kHandler) << "taken from the format when the stream names none";
    EXPECT_EQ(StateSends(), (std::vector<std::pair<UINT, LPARAM>>{
                                {ICM_GETSTATE, 44}, {ICM_GETSTATE, 84}, {ICM_SETSTATE, 84}}));
    const auto state = [](UINT msg, std::size_t i) { return FakeCodec::Get().Calls(msg).at(i); };
    const auto s = StateOf<qx47::ShortStateRecord>(state(ICM_GETSTATE, 0));
    EXPECT_EQ(std::tuple(s.kind, s.mask, s.fourcc), std::tuple(3u, 0x80000007u, qx47::kStateFourcc));
    // The address sent is where the codec reports the area it covered, which
    // the display-format test reads back through GetUpdatedRect.
    const auto l = StateOf<qx47::LongStateRecord>(state(ICM_SETSTATE, 0));
    EXPECT_EQ(std::tuple(l.kind, l.mask), std::tuple(2u, 0x80000008u));
    ASSERT_NE(t.Tavro(), nullptr);
    TavroControls& tc = *t.Tavro();
    EXPECT_EQ(qx47::GetBoundsAddress(l), &tc.codecBounds.x);
    EXPECT_EQ(tc.shortState.kind, 4u);

    // The colour values, their defaults and the key reach the real codec in the codec
    // dialogs' tests, which look at the picture; here what is not sent.
    tc.SetColorControls(256, 0, 0, FALSE);
    tc.SetColorControls(0, 0, 300, TRUE);
    EXPECT_EQ(FakeCodec::Get().Calls(ICM_SETSTATE).size(), 1u) << "out-of-range values send nothing";

    FakeCodec::Get().ClearCalls();
    tc.SetAccessKey(-77);
    EXPECT_EQ(Messages(), (std::vector<UINT>{ICM_GETSTATE, ICM_SETSTATE})) << "the key is read, then changed";

    EXPECT_EQ(t.SetLineDoubling(2), 1);
    EXPECT_EQ(t.SetLineDoubling(1), 1);
    EXPECT_EQ(StateOf<qx47::ShortStateRecord>(state(ICM_SETSTATE, 1)).alternateLine, 1u);
    EXPECT_EQ(StateOf<qx47::ShortStateRecord>(state(ICM_SETSTATE, 2)).alternateLine, 0u);
    FakeCodec::Get().setStateAnswer = ICERR_UNSUPPORTED;
    EXPECT_EQ(t.SetLineDoubling(1), 0);

    // The fake codec's answers rewrite the size word to 4096: the decoder
    // still sends no more than each record holds.
    FakeCodec::Get().ClearCalls();
    tc.SetScalability(25, FALSE);
    t.SetLineDoubling(2);
    tc.SetColorControls(0, 0, 0, TRUE);
    EXPECT_EQ(StateSends(), (std::vector<std::pair<UINT, LPARAM>>{
                                {ICM_SETSTATE, 84}, {ICM_SETSTATE, 44}, {ICM_SETSTATE, 84}}));
}
