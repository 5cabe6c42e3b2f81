// The codec core without the message layer: bit stream codes, frame headers
// and what the encoder promises about quality.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "SyntheticScene.h"
#include "codecs/qx47/BitReader.h"
#include "codecs/qx47/BitWriter.h"
#include "codecs/qx47/ColorConverter.h"
#include "codecs/qx47/Decoder.h"
#include "codecs/qx47/Encoder.h"
#include "codecs/qx47/FrameFormat.h"

namespace qx47 {
namespace {

TEST(Qx47BitStream, CodesRoundTripAndOverrunsAreFlagged) {
    BitWriter bw;
    const std::uint32_t ues[] = {0, 1, 2, 7, 255, 65535, (1u << 24) - 2};
    const std::int32_t ses[] = {0, 1, -1, 1000, -1000, (1 << 22), -(1 << 22)};
    for (auto v : ues)
        bw.PutUe(v);
    for (auto v : ses)
        bw.PutSe(v);
    bw.PutBits(0xabcde, 20);
    std::vector<std::uint8_t> bytes = bw.Finish();
    BitReader br(bytes.data(), bytes.size());
    for (auto v : ues)
        EXPECT_EQ(br.GetUe(), v);
    for (auto v : ses)
        EXPECT_EQ(br.GetSe(), v);
    EXPECT_EQ(br.GetBits(20), 0xabcdeu);
    EXPECT_FALSE(br.Overrun());
    br.GetBits(16); // the padding byte and beyond
    EXPECT_TRUE(br.Overrun());

    // A prefix longer than any value the format allows is an error, not a hang.
    std::vector<std::uint8_t> zeros(16, 0);
    BitReader bad(zeros.data(), zeros.size());
    bad.GetUe();
    EXPECT_TRUE(bad.Overrun());
}

TEST(Qx47FrameHeader, RefusesInconsistentHeaders) {
    FrameHeader h;
    h.flags = kFlagKeyFrame;
    h.baseQuant = 10;
    h.width = 16;
    h.height = 16;
    h.baseBytes = 4;
    std::vector<std::uint8_t> f(kFrameHeaderSize + 4);
    WriteFrameHeader(h, f.data());
    FrameHeader r;
    EXPECT_TRUE(ReadFrameHeader(f.data(), f.size(), r));
    EXPECT_FALSE(ReadFrameHeader(f.data(), f.size() - 1, r)); // sections longer than the frame

    auto mutate = [&](auto change) {
        FrameHeader m = h;
        change(m);
        std::vector<std::uint8_t> g(kFrameHeaderSize + 4);
        WriteFrameHeader(m, g.data());
        return ReadFrameHeader(g.data(), g.size(), r);
    };
    EXPECT_FALSE(mutate([](FrameHeader& m) { m.version = 2; }));
    EXPECT_FALSE(mutate([](FrameHeader& m) { m.flags |= 0x40; }));
    EXPECT_FALSE(mutate([](FrameHeader& m) { m.width = 0; }));
    EXPECT_FALSE(mutate([](FrameHeader& m) { m.flags |= kFlagKeyed; }));     // keyed without a check value
    EXPECT_FALSE(mutate([](FrameHeader& m) { m.baseBytes = 0xfffffff0u; })); // sizes that would wrap
    EXPECT_FALSE(mutate([](FrameHeader& m) { m.baseQuant = 0; }));
}

double Psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    double se = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        double d = double(a[i]) - b[i];
        se += d * d;
    }
    double mse = se / a.size();
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

// The promise of the encoder's documentation: quality 75 keeps a natural
// picture above 32 dB, with or without the refinement layer, and a key frame
// every 10 frames does not drift the deltas in between.
TEST(Qx47Quality, RoundTripKeepsThePromisedQuality) {
    const int w = 160, h = 128;
    SyntheticScene scene(SyntheticScene::Kind::Landscape, w, h);
    for (bool refine : {true, false}) {
        EncoderSettings s;
        s.width = w;
        s.height = h;
        s.quality = 75;
        s.keyInterval = 10;
        s.refinement = refine;
        Encoder enc;
        ASSERT_TRUE(enc.Configure(s));
        Decoder dec;
        ASSERT_TRUE(dec.Configure(w, h));
        ColorConverter cc;
        std::vector<std::uint8_t> src(w * h * 3), out(w * h * 3);
        double worst = 99;
        for (int i = 0; i < 24; ++i) {
            scene.Render(i * 3, src.data());
            std::vector<std::uint8_t> f = enc.EncodeFrame(src.data(), w * 3);
            ASSERT_EQ(dec.DecodeBase(f.data(), f.size(), false, 0), Decoder::Status::Ok);
            ASSERT_EQ(dec.DecodeRefinement(), Decoder::Status::Ok);
            OutputTarget t;
            t.topRow = out.data();
            t.rowStep = w * 3;
            t.bitCount = 24;
            cc.Convert(dec, 0, 0, w, h, false, t);
            worst = std::min(worst, Psnr(src, out));
        }
        EXPECT_GT(worst, 32.0) << "refinement " << refine;
    }
}

} // namespace
} // namespace qx47
