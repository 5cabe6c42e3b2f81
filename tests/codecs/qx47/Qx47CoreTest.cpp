// The codec core without the message layer: frame headers, the inverse
// transform and what the encoder promises about quality.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "SyntheticScene.h"
#include "codecs/qx47/ColorConverter.h"
#include "codecs/qx47/Decoder.h"
#include "codecs/qx47/Encoder.h"
#include "codecs/qx47/FrameFormat.h"
#include "codecs/qx47/Transform.h"

namespace qx47 {
namespace {

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
    EXPECT_TRUE(mutate([](FrameHeader& m) { m.version = 1; })); // before sample-coded blocks
    EXPECT_FALSE(mutate([](FrameHeader& m) { m.version = 3; }));
    EXPECT_FALSE(mutate([](FrameHeader& m) { m.version = 0; }));
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

// The inverse transform has a vector version, a portable one and shortcuts
// (empty and DC-only blocks, blocks with only the first coefficient row, the
// first four rows or the first four columns). All must give the same pixels for any
// coefficients, hostile extremes included (the vector code saturates and
// wraps where the portable one must do the same), and stay within rounding
// of the true orthonormal inverse for the coefficients real streams carry.
TEST(Qx47Transform, VersionsAgreeAndStayWithinRoundingOfTheExactInverse) {
    std::mt19937 rng(47);
    std::uniform_int_distribution<int> value(-400, 400);
    std::uniform_int_distribution<int> pixel(0, 255);
    const double pi = std::acos(-1.0);
    int worst = 0;
    // Beyond anything a stream can reach, where 16-bit sums wrap.
    std::uniform_int_distribution<std::int32_t> wild(-40000, 40000);
    for (int shape = 0; shape < 8; ++shape) {
        for (int round = 0; round < 300; ++round) {
            std::int32_t coef[64] = {};
            const bool wildRound = round % 4 == 0 && (shape == 1 || shape >= 5);
            if (shape == 0) // DC only, now and then at the clamp (every pixel saturates)
                coef[0] = round % 10 ? value(rng) : (round % 20 ? kMaxCoefficient : -kMaxCoefficient);
            else if (shape == 1) // first coefficient row only
                for (int u = 0; u < 8; ++u)
                    coef[u] = wildRound ? wild(rng) : value(rng);
            else if (shape == 2) // a few scattered coefficients
                for (int k = 0; k < 3; ++k)
                    coef[rng() % 64] = value(rng);
            else if (shape == 3)
                for (auto& c : coef)
                    c = value(rng) / 4;
            else if (shape == 4) // what a hostile stream can reach: every coefficient at the clamp
                for (auto& c : coef)
                    c = (rng() & 1) ? kMaxCoefficient : -kMaxCoefficient;
            else // the low frequencies only: rows 0..3 (5), columns 0..3 (6) or both (7)
                for (int i = 0; i < 64; ++i) {
                    const bool lowRow = i / 8 < 4, lowColumn = i % 8 < 4;
                    const bool inside = shape == 5 ? lowRow : shape == 6 ? lowColumn : lowRow && lowColumn;
                    if (inside && rng() % 3)
                        coef[i] = wildRound ? wild(rng) : value(rng);
                }
            std::uint8_t mask = 0;
            for (int i = 0; i < 64; ++i)
                if (coef[i])
                    mask |= static_cast<std::uint8_t>(1u << (i / 8));
            std::uint8_t pred[64];
            for (auto& p : pred)
                p = static_cast<std::uint8_t>(pixel(rng));
            std::uint8_t fast[64], reference[64], put[64], putReference[64];
            InverseAdd(coef, mask, pred, 8, fast, 8);
            InverseReference(coef, pred, 8, reference, 8);
            ASSERT_EQ(0, std::memcmp(fast, reference, 64)) << "shape " << shape << " round " << round;
            InversePut(coef, mask, put, 8);
            InverseReference(coef, nullptr, 0, putReference, 8);
            ASSERT_EQ(0, std::memcmp(put, putReference, 64)) << "shape " << shape << " round " << round;
            if (shape == 4 || wildRound)
                continue;
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x) {
                    double sum = 0;
                    for (int v = 0; v < 8; ++v)
                        for (int u = 0; u < 8; ++u) {
                            const double cu = u ? 1.0 : std::sqrt(0.5);
                            const double cv = v ? 1.0 : std::sqrt(0.5);
                            sum += cu * cv / 4 * coef[v * 8 + u] * std::cos((2 * x + 1) * u * pi / 16) *
                                   std::cos((2 * y + 1) * v * pi / 16);
                        }
                    const auto clamp = [](double d) {
                        return std::clamp(static_cast<int>(std::lround(d)), 0, 255);
                    };
                    worst = std::max(worst, std::abs(fast[y * 8 + x] - clamp(pred[y * 8 + x] + sum)));
                    worst = std::max(worst, std::abs(put[y * 8 + x] - clamp(128 + sum)));
                }
        }
    }
    EXPECT_LE(worst, 1) << "the integer inverse strays from the exact one";
}

// The promise of the encoder's documentation: quality 75 keeps a natural
// picture above 32 dB, with or without the refinement layer, and a key frame
// every 10 frames does not drift the deltas in between.
TEST(Qx47Quality, RoundTripKeepsThePromisedQuality) {
    const int w = 160, h = 128;
    SyntheticScene scene(SyntheticScene::Kind::Landscape, w, h);
    for (bool refine : {true, false}) {
        Encoder enc;
        ASSERT_TRUE(
            enc.Configure({.width = w, .height = h, .quality = 75, .keyInterval = 10, .refinement = refine}));
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

// The decoder must hold exactly the picture the encoder predicts from, frame
// after frame, or the deltas drift. The scene has what each decoding path
// needs: a still background (skipped macroblocks, also right after they last
// changed), a square that moves and then stops (inter), and a patch of fresh
// noise every frame (intra, sample-coded).
TEST(Qx47Quality, DecoderHoldsTheEncodersPictureExactly) {
    const int w = 96, h = 80;
    Encoder enc;
    ASSERT_TRUE(
        enc.Configure({.width = w, .height = h, .quality = 70, .keyInterval = 50, .refinement = false}));
    Decoder dec;
    ASSERT_TRUE(dec.Configure(w, h));
    std::mt19937 rng(3);
    std::vector<std::uint8_t> src(w * h * 3);
    int sampleBlocks = 0;
    for (int i = 0; i < 30; ++i) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                std::uint8_t* p = &src[(y * w + x) * 3];
                p[0] = static_cast<std::uint8_t>(x * 2);
                p[1] = static_cast<std::uint8_t>(y * 3);
                p[2] = 90;
                const int sx = 4 + 3 * std::min(i, 12);
                if (x >= sx && x < sx + 20 && y >= 8 && y < 28)
                    p[0] = p[1] = p[2] = 230;
                if (x >= 48 && x < 80 && y >= 40 && y < 72) {
                    const int a = static_cast<int>(rng() % 128);
                    p[0] = static_cast<std::uint8_t>(p[0] + (255 - p[0]) * a / 255);
                    p[2] = static_cast<std::uint8_t>(p[2] + (255 - p[2]) * a / 255);
                }
            }
        std::vector<std::uint8_t> f = enc.EncodeFrame(src.data(), w * 3);
        sampleBlocks += enc.SampleBlocks();
        ASSERT_EQ(dec.DecodeBase(f.data(), f.size(), false, 0), Decoder::Status::Ok) << i;
        const Picture& want = enc.Reconstruction();
        ASSERT_TRUE(dec.Display().y == want.y && dec.Display().cb == want.cb && dec.Display().cr == want.cr)
            << "frame " << i;
    }
    EXPECT_GT(sampleBlocks, 30 * 8) << "the noise should go as samples";
}

} // namespace
} // namespace qx47
