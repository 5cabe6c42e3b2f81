// The decoder's exchange with its codec: what is sent, in which order, with
// which records, and which buffers the codec is given.

#include <cstring>

#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "engine/Movie.h"
#include "platform/avi/AviFile.h"
#include "video/VideoDecoder.h"

using namespace enginetest;

namespace {

BITMAPINFOHEADER Header(LONG w, LONG h, WORD bits, FOURCC compression = kFake) {
    BITMAPINFOHEADER hdr{};
    hdr.biSize = sizeof hdr;
    hdr.biWidth = w;
    hdr.biHeight = h;
    hdr.biPlanes = 1;
    hdr.biBitCount = bits;
    hdr.biCompression = compression;
    return hdr;
}

void ExpectRect(const VideoRect& r, LONG x, LONG y, LONG w, LONG h) {
    EXPECT_EQ(r.x, x);
    EXPECT_EQ(r.y, y);
    EXPECT_EQ(r.width, w);
    EXPECT_EQ(r.height, h);
}

std::vector<UINT> Messages() {
    std::vector<UINT> out;
    for (const CodecCall& c : FakeCodec::Get().Calls())
        if (c.msg >= DRV_USER)
            out.push_back(c.msg);
    return out;
}

class VideoDecoderTest : public ::testing::Test {
protected:
    void SetUp() override {
        FakeCodec::Install();
        FakeCodec::Get().Reset();
    }
    void TearDown() override {
        if (dc)
            window.ReleaseDC(dc);
    }
    HDC Dc() {
        if (!dc)
            dc = window.GetDC();
        return dc;
    }

    FakeWindow window;
    HDC dc = nullptr;
};

} // namespace

TEST_F(VideoDecoderTest, OpenSetsUpTheOutputAndRectangles) {
    VideoDecoder d;
    ASSERT_EQ(d.Open(kFake, Header(320, 240, 24)), 0);
    BITMAPINFOHEADER out{};
    d.GetOutputFormat(&out);
    EXPECT_EQ(out.biWidth, 320);
    EXPECT_EQ(out.biHeight, 240);
    EXPECT_EQ(out.biBitCount, 8);
    EXPECT_EQ(out.biCompression, BI_RGB);
    EXPECT_EQ(out.biSizeImage, 0u);
    EXPECT_EQ(d.pixelBufferSize, 230400u);
    ExpectRect(d.sourceRect, 0, 0, 320, 240);
    ExpectRect(d.decodeRect, 0, 0, 320, 240);
    ExpectRect(d.windowRect, 0, 0, 320, 240);
    ExpectRect(d.viewRect, 0, 0, 320, 240);
    EXPECT_FALSE(d.IsTavro());
    EXPECT_EQ(Messages(), (std::vector<UINT>{ICM_DECOMPRESS_QUERY, ICM_DECOMPRESS_SET_PALETTE}));

    // A 4-bit source is smaller than its 8-bit output: the hidden buffer must
    // still hold a whole output frame.
    VideoDecoder small;
    ASSERT_EQ(small.Open(kFake, Header(320, 240, 4)), 0);
    EXPECT_GE(small.pixelBufferSize, 76800u);
}

TEST_F(VideoDecoderTest, NoCodecAllocatesNothing) {
    VideoDecoder d;
    EXPECT_EQ(d.Open(0, Header(32, 24, 24, mmioFOURCC('n', 'o', 'n', 'e'))), AVIERR_NOCOMPRESSOR);
    EXPECT_EQ(d.inputFormat, nullptr);
    EXPECT_EQ(d.outputFormat, nullptr);
    EXPECT_EQ(d.pixelBuffer, nullptr);
    EXPECT_EQ(d.BeginDraw(Dc(), 15.0f), -1);
}

TEST_F(VideoDecoderTest, TavroHandlerAndFirstStateExchange) {
    VideoDecoder upper;
    ASSERT_EQ(upper.Open(qx47::kStateFourcc, Header(32, 24, 24, qx47::kHandler)), 0);
    EXPECT_EQ(upper.handler, qx47::kHandler) << "QX47 is stored as qx47";
    auto opens = FakeCodec::Get().Calls(DRV_OPEN);
    ASSERT_FALSE(opens.empty());
    FakeCodec::Get().Reset();

    VideoDecoder d;
    ASSERT_EQ(d.Open(0, Header(32, 24, 24, qx47::kHandler)), 0);
    EXPECT_EQ(d.handler, qx47::kHandler) << "taken from the format when the stream names none";
    std::vector<CodecCall> state;
    for (const CodecCall& c : FakeCodec::Get().Calls())
        if (c.msg == ICM_GETSTATE || c.msg == ICM_SETSTATE)
            state.push_back(c);
    ASSERT_EQ(state.size(), 3u);
    EXPECT_EQ(state[0].msg, ICM_GETSTATE);
    EXPECT_EQ(state[0].length, 44);
    qx47::ShortStateRecord s{};
    std::memcpy(&s, state[0].record.data(), 44);
    EXPECT_EQ(s.kind, 3u);
    EXPECT_EQ(s.mask, 0x80000007u);
    EXPECT_EQ(s.fourcc, qx47::kStateFourcc);
    EXPECT_EQ(state[1].msg, ICM_GETSTATE);
    EXPECT_EQ(state[1].length, 84);
    EXPECT_EQ(state[2].msg, ICM_SETSTATE);
    EXPECT_EQ(state[2].length, 84);
    qx47::LongStateRecord l{};
    std::memcpy(&l, state[2].record.data(), 84);
    EXPECT_EQ(l.mask, 0x80000008u);
    EXPECT_EQ(l.kind, 2u);
    EXPECT_EQ(qx47::GetBoundsAddress(l), &d.codecBounds.x);
    EXPECT_EQ(d.shortState.kind, 4u);
}

TEST_F(VideoDecoderTest, DrawingCycleMessagesAndRecords) {
    VideoDecoder d;
    ASSERT_EQ(d.Open(kFake, Header(32, 24, 24)), 0);
    EXPECT_EQ(d.BeginDraw(nullptr, 15.0f), -1);
    EXPECT_EQ(d.targetDC, nullptr);
    const BYTE frame[8] = {7, 0, 0, 0};
    EXPECT_EQ(d.DrawFrame(frame, 8, 0), 0);
    EXPECT_EQ(d.DecodeWithoutDraw(frame, 8, 0), 0);
    FakeCodec::Get().ClearCalls();
    EXPECT_TRUE(FakeCodec::Get().Calls().empty()) << "nothing reaches the codec outside a cycle";

    ASSERT_EQ(d.BeginDraw(Dc(), 15.0f), 0);
    d.StartCodecClock(15.0f);
    EXPECT_EQ(d.DrawFrame(frame, 8, 0), 0);
    d.StopCodecClock();
    EXPECT_EQ(d.EndDraw(), 0);
    EXPECT_EQ(d.EndDraw(), -1);
    EXPECT_EQ(Messages(), (std::vector<UINT>{ICM_DECOMPRESSEX_QUERY, ICM_DECOMPRESSEX_BEGIN,
                                             ICM_DECOMPRESS_GET_PALETTE, ICM_DRAW_BEGIN, ICM_DRAW_START,
                                             ICM_DECOMPRESSEX, ICM_DRAW_STOP, ICM_DRAW_END}));
    const auto query = FakeCodec::Get().Calls(ICM_DECOMPRESSEX_QUERY)[0];
    EXPECT_EQ(query.rec.lpSrc, nullptr);
    EXPECT_EQ(query.rec.lpDst, nullptr);
    EXPECT_EQ(query.rec.dxDst, 32);
    EXPECT_EQ(query.rec.dySrc, 24);
    EXPECT_EQ(query.length, static_cast<LPARAM>(sizeof(ICDECOMPRESSEX)));
    const auto draw = FakeCodec::Get().Calls(ICM_DECOMPRESSEX)[0];
    EXPECT_EQ(draw.frame, 7);
    EXPECT_EQ(draw.srcBytes, 8u) << "the codec learns the size of each frame";
    EXPECT_EQ(draw.dst.biBitCount, 8);
    EXPECT_EQ(window.surface->BitsPixel(), 24);
    EXPECT_EQ(SurfaceGrey(*window.surface, 5, 5), 7) << "the frame reached the window";
}

TEST_F(VideoDecoderTest, PalettesByDisplayAndOutputDepth) {
    {
        FakeWindow eightBit(8);
        HDC d8 = eightBit.GetDC();
        VideoDecoder d;
        ASSERT_EQ(d.Open(kFake, Header(32, 24, 24)), 0);
        BITMAPINFOHEADER out = Header(32, 24, 24, BI_RGB);
        ASSERT_EQ(d.SetOutputFormat(out), 0);
        ASSERT_EQ(d.BeginDraw(d8, 15.0f), 0);
        EXPECT_EQ(useDrawDib, 1) << "an 8-bit display shows deeper output through DrawDib";
        EXPECT_NE(d.palette, nullptr);
        EXPECT_EQ(d.savedPalette, nullptr);
        const BYTE frame[8] = {9};
        EXPECT_EQ(d.DrawFrame(frame, 8, 0), 0);
        d.EndDraw();
        eightBit.ReleaseDC(d8);
    }
    {
        VideoDecoder d;
        ASSERT_EQ(d.Open(kFake, Header(32, 24, 24)), 0);
        ASSERT_EQ(d.BeginDraw(Dc(), 15.0f), 0);
        EXPECT_EQ(useDrawDib, 0);
        EXPECT_NE(d.palette, nullptr);
        EXPECT_NE(d.savedPalette, nullptr) << "8-bit output on a deep display selects the palette";
        EXPECT_NE(d.savedMemoryPalette, nullptr);
        d.EndDraw();
        EXPECT_EQ(d.palette, nullptr);
    }
    {
        FakeCodec::Get().ClearCalls();
        FakeWindow deep(32);
        HDC d32 = deep.GetDC();
        VideoDecoder d;
        ASSERT_EQ(d.Open(kFake, Header(32, 24, 24)), 0);
        ASSERT_EQ(d.SetOutputFormat(Header(32, 24, 16, BI_RGB)), 0);
        ASSERT_EQ(d.BeginDraw(d32, 15.0f), 0);
        EXPECT_EQ(d.palette, nullptr);
        EXPECT_TRUE(FakeCodec::Get().Calls(ICM_DECOMPRESS_GET_PALETTE).empty());
        d.EndDraw();
        deep.ReleaseDC(d32);
    }
}

TEST_F(VideoDecoderTest, StretchedAndCentredDestinations) {
    VideoDecoder d;
    ASSERT_EQ(d.Open(kFake, Header(16, 12, 24)), 0);
    d.SetWindowRect(RECT{0, 0, 32, 24});
    ASSERT_EQ(d.BeginDraw(Dc(), 15.0f), 0);
    const BYTE frame[8] = {40};
    ASSERT_EQ(d.DrawFrame(frame, 8, 0), 0);
    d.EndDraw();
    const auto draw = FakeCodec::Get().Calls(ICM_DECOMPRESSEX).back();
    EXPECT_EQ(draw.rec.yDst, 24 - 2 * 12 - 0);
    EXPECT_EQ(SurfaceGrey(*window.surface, 31, 23), 40) << "stretched to the window rectangle";
    EXPECT_EQ(SurfaceGrey(*window.surface, 32, 24), 0);
}

TEST_F(VideoDecoderTest, OutputFormatChangesNeverLeaveAShortBuffer) {
    VideoDecoder d;
    ASSERT_EQ(d.Open(kFake, Header(32, 24, 8)), 0);
    const DWORD before = d.pixelBufferSize;
    BITMAPINFOHEADER same = Header(32, 24, 8, BI_RGB);
    same.biSizeImage = before;
    ASSERT_EQ(d.SetOutputFormat(same), 0);
    EXPECT_EQ(d.pixelBufferSize, before);

    // A larger frame whose header understates its size still gets room for it.
    BITMAPINFOHEADER big = Header(64, 48, 32, BI_RGB);
    big.biSizeImage = 0;
    ASSERT_EQ(d.SetOutputFormat(big), 0);
    EXPECT_EQ(d.pixelBufferSize, static_cast<DWORD>(FrameBytes(big)));

    BITMAPINFOHEADER impossible = Header(60000, 60000, 32, BI_RGB);
    EXPECT_EQ(d.SetOutputFormat(impossible), -1);
    BITMAPINFOHEADER out{};
    d.GetOutputFormat(&out);
    EXPECT_EQ(out.biWidth, 64) << "a refused header changes nothing";

    // Catch-up decodes fill a whole output frame into the hidden buffer.
    ASSERT_EQ(d.BeginDraw(Dc(), 15.0f), 0);
    const BYTE frame[8] = {3};
    EXPECT_EQ(d.DecodeWithoutDraw(frame, 8, ICDECOMPRESS_HURRYUP), 0);
    d.EndDraw();
}

TEST_F(VideoDecoderTest, QueryDecodeChecksTheRectangleFirst) {
    VideoDecoder d;
    ASSERT_EQ(d.Open(kFake, Header(32, 24, 8)), 0);
    FakeCodec::Get().ClearCalls();
    EXPECT_EQ(d.QueryDecode(nullptr, 0, 0, 0, 0), 0);
    ASSERT_EQ(FakeCodec::Get().Calls(ICM_DECOMPRESSEX_QUERY).size(), 1u);
    EXPECT_EQ(FakeCodec::Get().Calls(ICM_DECOMPRESSEX_QUERY)[0].rec.dxDst, 32);
    FakeCodec::Get().ClearCalls();
    EXPECT_EQ(d.QueryDecode(nullptr, 1, 0, 32, 24), -1);
    EXPECT_EQ(d.QueryDecode(nullptr, 0, 1, 32, 24), -1);
    EXPECT_EQ(d.QueryDecode(nullptr, -1, 0, 4, 4), -1);
    EXPECT_EQ(d.QueryDecode(nullptr, 0x7fffffff, 0, 0x7fffffff, 4), -1) << "no wrap in the bounds test";
    EXPECT_TRUE(FakeCodec::Get().Calls().empty());
}

TEST_F(VideoDecoderTest, PaletteReplacement) {
    VideoDecoder d;
    ASSERT_EQ(d.Open(kFake, Header(32, 24, 8)), 0);
    std::vector<BYTE> raw(4 + 300 * 4);
    auto* pal = reinterpret_cast<LOGPALETTE*>(raw.data());
    pal->palVersion = 0x300;
    pal->palNumEntries = 300;
    for (int i = 0; i < 300; ++i)
        pal->palPalEntry[i] = PALETTEENTRY{static_cast<BYTE>(i), 1, 2, 0};
    d.outputFormat->colors[246] = RGBQUAD{9, 9, 9, 9};
    d.outputFormat->colors[5] = RGBQUAD{5, 5, 5, 5};
    EXPECT_EQ(d.SetPalette(pal), 1);
    EXPECT_EQ(d.outputFormat->colors[10].rgbRed, 0);
    EXPECT_EQ(d.outputFormat->colors[245].rgbRed, 235);
    EXPECT_EQ(d.outputFormat->colors[245].rgbGreen, 1);
    EXPECT_EQ(d.outputFormat->colors[246].rgbRed, 9) << "at most 236 entries";
    EXPECT_EQ(d.outputFormat->colors[5].rgbRed, 5) << "the first ten stay";
    EXPECT_EQ(d.outputFormat->header.biClrUsed, 256u);

    pal->palNumEntries = 0;
    FakeCodec::Get().ClearCalls();
    EXPECT_EQ(d.SetPalette(pal), 1);
    ASSERT_EQ(FakeCodec::Get().Calls(ICM_DECOMPRESS_SET_PALETTE).size(), 1u);
    EXPECT_NE(FakeCodec::Get().Calls(ICM_DECOMPRESS_SET_PALETTE)[0].p1, 0);

    FakeCodec::Get().setPaletteAnswer = ICERR_BADFORMAT;
    FakeCodec::Get().ClearCalls();
    EXPECT_EQ(d.SetPalette(pal), 0);
    auto calls = FakeCodec::Get().Calls(ICM_DECOMPRESS_SET_PALETTE);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].p1, 0) << "refused: back to the codec's default";
    EXPECT_EQ(d.SetPalette(nullptr), 1);
}

TEST_F(VideoDecoderTest, TavroControlsOnlyReachTheTavroCodec) {
    VideoDecoder other;
    ASSERT_EQ(other.Open(kFake, Header(32, 24, 8)), 0);
    FakeCodec::Get().ClearCalls();
    RECT r{1, 2, 3, 4};
    EXPECT_EQ(other.GetUpdatedRect(&r), -1);
    EXPECT_EQ(r.left, 1);
    LONG b = 99, s = 99, c = 99, ms = 99;
    other.GetColorControls(&b, &s, &c, FALSE);
    other.SetColorControls(1, 2, 3, FALSE);
    other.GetScalability(&ms, FALSE);
    other.SetScalability(10, FALSE);
    other.SetAccessKey(1234);
    EXPECT_EQ(other.SetLineDoubling(1), 0);
    EXPECT_EQ(b, 99);
    EXPECT_EQ(ms, 99);
    EXPECT_TRUE(FakeCodec::Get().Calls().empty());

    VideoDecoder t;
    ASSERT_EQ(t.Open(qx47::kHandler, Header(32, 24, 24, qx47::kHandler)), 0);
    FakeCodec::Get().ClearCalls();
    t.SetColorControls(256, 0, 0, FALSE);
    t.SetColorControls(0, 0, 300, TRUE);
    EXPECT_TRUE(FakeCodec::Get().Calls().empty()) << "out-of-range values send nothing, reset or not";
    t.SetColorControls(-255, 255, 0, FALSE);
    auto sets = FakeCodec::Get().Calls(ICM_SETSTATE);
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0].length, 84);
    qx47::LongStateRecord l{};
    std::memcpy(&l, sets[0].record.data(), 84);
    EXPECT_EQ(l.kind, 2u);
    EXPECT_EQ(l.brightness, -255);
    EXPECT_EQ(l.saturation, 255);

    t.GetColorControls(&b, &s, &c, TRUE);
    EXPECT_EQ(FakeCodec::Get().Calls(ICM_GETSTATE).back().record[12], 1) << "defaults: kind 1";
    EXPECT_EQ(b, 0);
    t.GetColorControls(&b, &s, &c, FALSE);
    EXPECT_EQ(FakeCodec::Get().Calls(ICM_GETSTATE).back().record[12], 2);
    EXPECT_EQ(b, 11);
    EXPECT_EQ(c, 33);

    FakeCodec::Get().ClearCalls();
    t.SetAccessKey(-77);
    auto calls = FakeCodec::Get().Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].msg, ICM_GETSTATE);
    EXPECT_EQ(calls[1].msg, ICM_SETSTATE);
    qx47::ShortStateRecord sr{};
    std::memcpy(&sr, calls[1].record.data(), 44);
    EXPECT_EQ(sr.accessKey, -77);
    EXPECT_EQ(sr.accessKeyGiven, 1u);
    EXPECT_EQ(sr.mask, 0x80000001u);

    FakeCodec::Get().ClearCalls();
    EXPECT_EQ(t.SetLineDoubling(2), 1);
    std::memcpy(&sr, FakeCodec::Get().Calls(ICM_SETSTATE)[0].record.data(), 44);
    EXPECT_EQ(sr.alternateLine, 1u);
    EXPECT_EQ(t.SetLineDoubling(1), 1);
    std::memcpy(&sr, FakeCodec::Get().Calls(ICM_SETSTATE)[1].record.data(), 44);
    EXPECT_EQ(sr.alternateLine, 0u);
    FakeCodec::Get().setStateAnswer = ICERR_UNSUPPORTED;
    EXPECT_EQ(t.SetLineDoubling(1), 0);

    // A codec that rewrites the size word cannot make the player send more
    // than the record holds.
    t.longState.size = 4096;
    FakeCodec::Get().ClearCalls();
    t.SetScalability(25, FALSE);
    EXPECT_EQ(FakeCodec::Get().Calls(ICM_SETSTATE)[0].length, 84);
}
