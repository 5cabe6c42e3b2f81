// The codec core without the message layer: frame headers, the inverse
// transform, what the encoder promises about quality, and coefficient
// decoding (the level context, the bit reader at the end of a stream, and
// whole blocks of coefficients as the format describes them).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "SyntheticScene.h"
#include "codecs/qx47/BitReader.h"
#include "codecs/qx47/BitWriter.h"
#include "codecs/qx47/ColorConverter.h"
#include "codecs/qx47/Decoder.h"
#include "codecs/qx47/Encoder.h"
#include "codecs/qx47/FrameFormat.h"
#include "codecs/qx47/LevelContext.h"
#include "codecs/qx47/Transform.h"

namespace qx47 {
namespace {

TEST(Qx47FrameHeader, RefusesInconsistentHeaders) {
    const FrameHeader h{.flags = kFlagKeyFrame, .baseQuant = 10, .width = 16, .height = 16, .baseBytes = 4};
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
// every 10 frames does not drift the deltas in between. Nor may anything
// drift: the decoder's picture before refinement is exactly the one the
// encoder predicts the next frame from, skipped, moved and coded macroblocks
// alike (the coded ones' own decoding is checked against hand-written blocks
// below).
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
        double worst = 0; // the largest mean squared error of a frame
        for (int i = 0; i < 24; ++i) {
            scene.Render(i * 3, src.data());
            std::vector<std::uint8_t> f = enc.EncodeFrame(src.data(), w * 3);
            ASSERT_EQ(dec.DecodeBase(f.data(), f.size(), false, 0), Decoder::Status::Ok);
            const Picture& base = enc.Reconstruction();
            ASSERT_TRUE(refine || (dec.Display().y == base.y && dec.Display().cb == base.cb &&
                                   dec.Display().cr == base.cr))
                << "frame " << i;
            ASSERT_EQ(dec.DecodeRefinement(), Decoder::Status::Ok);
            OutputTarget t{.topRow = out.data(), .rowStep = w * 3, .bitCount = 24};
            cc.Convert(dec, 0, 0, w, h, false, t);
            double sum = 0;
            for (std::size_t k = 0; k < src.size(); ++k)
                sum += (src[k] - out[k]) * (src[k] - out[k]);
            worst = std::max(worst, sum / static_cast<double>(src.size()));
        }
        // 32 dB: a mean squared error below 255 * 255 / 10^3.2.
        EXPECT_LT(worst, 255.0 * 255.0 / std::pow(10.0, 3.2)) << "refinement " << refine;
    }
}

// Stored streams were coded with the parameter defined as a search; the
// computed one must agree for every state a stream can reach (count 1..31,
// sums below 2^17: 31 levels of at most 4096 before the first halving).
TEST(Qx47LevelContext, ParameterEqualsTheDefiningSearchInEveryReachableState) {
    for (std::uint32_t count = 1; count < 32; ++count) {
        for (std::uint32_t sum = 0; sum < (1u << 17); ++sum) {
            int k = 0;
            while ((count << (k + 1)) <= sum && k < 12)
                ++k;
            const LevelContext ctx{sum, count};
            ASSERT_EQ(ctx.K(), k) << "sum " << sum << " count " << count;
        }
    }
}

// A prefix longer than any value the format allows is an error, not a hang
// (that codes read back as written shows in every frame the decoders
// read). Streams of every short length, read in fields of random widths well
// past the end: the bits are the stream's, then zeros, and the overrun shows
// from the first bit beyond the end on, never before.
TEST(Qx47BitStream, ReadsUpToTheLastByteAndZerosAfterIt) {
    const std::vector<std::uint8_t> zeros(16, 0);
    BitReader bad(zeros.data(), zeros.size());
    bad.GetUe();
    EXPECT_TRUE(bad.Overrun());

    std::mt19937 rng(7);
    for (std::size_t size = 0; size <= 40; ++size) {
        for (int round = 0; round < 20; ++round) {
            std::vector<std::uint8_t> bytes(size);
            for (auto& b : bytes)
                b = static_cast<std::uint8_t>(rng());
            BitReader br(bytes.data(), bytes.size());
            std::size_t at = 0;
            while (at < size * 8 + 100) {
                const int n = 1 + static_cast<int>(rng() % 32);
                std::uint32_t expected = 0;
                for (int i = 0; i < n; ++i, ++at) {
                    const std::uint32_t bit = at < size * 8 ? (bytes[at / 8] >> (7 - at % 8)) & 1 : 0;
                    expected = (expected << 1) | bit;
                }
                ASSERT_EQ(br.GetBits(n), expected) << "size " << size << " bit " << at;
                ASSERT_EQ(br.Overrun(), at > size * 8) << "size " << size << " bit " << at;
            }
        }
    }
}

// A key frame of random blocks written with the format's codes by hand:
// short and long codes, runs up to position 63, levels large enough to lift
// the Golomb parameter well past the look-up tables and to reach the clamp,
// and sample-coded blocks of every index width, with steps that overflow
// (version 2; version 1 frames, without them, must still decode).
// The decoded picture must be the inverse transform of exactly the levels
// written, and the samples, for frames long enough for the decoder's fast
// path and for its last bytes, which it reads with care.
TEST(Qx47Coefficients, BlocksDecodeToTheLevelsWritten) {
    std::mt19937 rng(47);
    const int q = 8;
    QuantSteps steps;
    ComputeQuantSteps(q, steps);
    for (int version : {1, 2})
        for (int size : {16, 64, 128}) {
            SCOPED_TRACE("version " + std::to_string(version) + ", size " + std::to_string(size));
            const int mbs = (size / 16) * (size / 16);
            BitWriter bw;
            Picture expected;
            expected.Allocate(size / 16, size / 16);
            for (int mb = 0; mb < mbs; ++mb) {
                bw.PutUe(0); // no macroblock skipped
                // Version 1 has no sample-coded blocks, nor the bit that announces them.
                const std::uint32_t samples = version == 2 && mb % 3 == 1 ? 1 + rng() % 63 : 0;
                if (version == 2)
                    bw.PutBits(samples ? 1 : 0, 1);
                if (samples)
                    bw.PutBits(samples, 6);
                LevelContext ctx;
                for (int k = 0; k < 6; ++k) {
                    const BlockPlace pl = PlaceOf(k, mb % (size / 16), mb / (size / 16));
                    const int stride = expected.Stride(pl.plane);
                    std::uint8_t* out =
                        expected.Plane(pl.plane) + static_cast<std::size_t>(pl.y) * stride + pl.x;
                    if (samples & (1u << k)) {
                        const int base = static_cast<int>(rng() % 256), width = static_cast<int>(rng() % 8),
                                  step = 1 + static_cast<int>(rng() % 256);
                        bw.PutBits(static_cast<std::uint32_t>(base), 8);
                        bw.PutBits(static_cast<std::uint32_t>(width), 3);
                        if (width > 0)
                            bw.PutBits(static_cast<std::uint32_t>(step - 1), 8);
                        for (int i = 0; i < 64; ++i) {
                            const int index = width ? static_cast<int>(rng() % (1u << width)) : 0;
                            bw.PutBits(static_cast<std::uint32_t>(index), width);
                            out[(i / 8) * stride + i % 8] =
                                static_cast<std::uint8_t>(std::min(base + index * step, 255));
                        }
                        continue;
                    }
                    bw.PutSe(0); // DC 0: samples 128 + the AC part
                    std::int16_t level[64] = {};
                    int count = 0;
                    const bool scripted = mb == 0 && k == 0;
                    if (scripted) {
                        // The context's count reaches 32 on a level that takes
                        // its sum below the band of k 1: 29 levels of 3 and one
                        // of 5 (sum 62, count 31), then a 1.
                        for (int pos = 1; pos <= 40; ++pos, ++count)
                            level[pos] = static_cast<std::int16_t>(
                                pos < 30 ? 3 : (pos == 30 ? 5 : (pos == 31 ? 1 : -2)));
                    }
                    for (int pos = 1 + static_cast<int>(rng() % 4); !scripted && pos < 64;
                         pos += 1 + static_cast<int>(rng() % 6)) {
                        const std::uint32_t r = rng() % 100;
                        const int mag =
                            r < 70 ? 1 + rng() % 3 : (r < 95 ? 4 + rng() % 60 : 100 + rng() % 3000);
                        level[pos] = static_cast<std::int16_t>((rng() & 1) ? -mag : mag);
                        ++count;
                    }
                    bw.PutUe(static_cast<std::uint32_t>(count));
                    std::int32_t c[64] = {};
                    std::uint8_t rowMask = 0;
                    const std::uint16_t* s = BlockSteps(steps.intra, k);
                    for (int pos = 1, last = 0; pos < 64; ++pos) {
                        if (level[pos] == 0)
                            continue;
                        const std::uint32_t mag = static_cast<std::uint32_t>(std::abs(level[pos]));
                        const int kk = ctx.K();
                        bw.PutUe(static_cast<std::uint32_t>(pos - last - 1));
                        bw.PutUe((mag - 1) >> kk);
                        bw.PutBits(mag - 1, kk);
                        bw.PutBits(level[pos] < 0 ? 1 : 0, 1);
                        ctx.Update(mag);
                        last = pos;
                        const int z = kZigzag[pos];
                        const std::int32_t v =
                            std::min<std::int32_t>(static_cast<std::int32_t>(mag) * s[z], kMaxCoefficient);
                        c[z] = level[pos] < 0 ? -v : v;
                        rowMask |= static_cast<std::uint8_t>(1u << (z >> 3));
                    }
                    InversePut(c, rowMask, out, stride);
                }
            }
            bw.PutUe(0); // the end
            const std::vector<std::uint8_t> base = bw.Finish();
            FrameHeader h{
                .version = static_cast<std::uint8_t>(version), .flags = kFlagKeyFrame, .baseQuant = q};
            h.width = h.height = static_cast<std::uint16_t>(size);
            h.baseBytes = static_cast<std::uint32_t>(base.size());
            std::vector<std::uint8_t> frame(kFrameHeaderSize + base.size());
            WriteFrameHeader(h, frame.data());
            std::memcpy(frame.data() + kFrameHeaderSize, base.data(), base.size());

            Decoder dec;
            ASSERT_TRUE(dec.Configure(size, size));
            ASSERT_EQ(dec.DecodeBase(frame.data(), frame.size(), false, 0), Decoder::Status::Ok);
            const Picture& got = dec.Display();
            EXPECT_TRUE(got.y == expected.y && got.cb == expected.cb && got.cr == expected.cr);
            // One byte short, the last code runs off the end.
            h.baseBytes -= 1;
            WriteFrameHeader(h, frame.data());
            EXPECT_EQ(dec.DecodeBase(frame.data(), frame.size() - 1, false, 0), Decoder::Status::BadFrame);
        }
}

} // namespace
} // namespace qx47
