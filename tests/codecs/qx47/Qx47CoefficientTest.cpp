// Coefficient decoding: the level context, the bit reader at the end of a
// stream, and whole blocks of coefficients as the format describes them.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "codecs/qx47/BitReader.h"
#include "codecs/qx47/BitWriter.h"
#include "codecs/qx47/Decoder.h"
#include "codecs/qx47/FrameFormat.h"
#include "codecs/qx47/LevelContext.h"
#include "codecs/qx47/SampleRow.h"
#include "codecs/qx47/Transform.h"

namespace qx47 {
namespace {

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
            FrameHeader h;
            h.version = static_cast<std::uint8_t>(version);
            h.flags = kFlagKeyFrame;
            h.baseQuant = q;
            h.width = h.height = static_cast<std::uint16_t>(size);
            h.baseBytes = static_cast<std::uint32_t>(base.size());
            std::vector<std::uint8_t> frame(kFrameHeaderSize + base.size());
            WriteFrameHeader(h, frame.data());
            std::memcpy(frame.data() + kFrameHeaderSize, base.data(), base.size());

            Decoder dec;
            ASSERT_TRUE(dec.Configure(size, size));
            ASSERT_EQ(dec.DecodeBase(frame.data(), frame.size(), false, 0), Decoder::Status::Ok);
            EXPECT_EQ(dec.Display().y, expected.y);
            EXPECT_EQ(dec.Display().cb, expected.cb);
            EXPECT_EQ(dec.Display().cr, expected.cr);
            // One byte short, the last code runs off the end.
            h.baseBytes -= 1;
            WriteFrameHeader(h, frame.data());
            EXPECT_EQ(dec.DecodeBase(frame.data(), frame.size() - 1, false, 0), Decoder::Status::BadFrame);
        }
}

// Sample rows: the vector version against the plain one, for every width,
// bases and steps up to the largest (where most samples clamp at 255), and
// stream bits beyond the row that must not leak into it.
TEST(Qx47SampleRows, VectorRowsEqualPlainRows) {
    if (!__builtin_cpu_supports("bmi2"))
        GTEST_SKIP() << "no BMI2 on this processor";
    std::mt19937_64 rng(11);
    for (int width = 1; width <= kSampleMaxWidth; ++width)
        for (int round = 0; round < 4000; ++round) {
            const std::uint64_t bits = rng();
            const int base = round % 3 == 0 ? 255 : static_cast<int>(rng() % 256);
            const int step = round % 5 == 0 ? 256 : 1 + static_cast<int>(rng() % 256);
            std::uint8_t plain[8], vector[8];
            SampleRowPlain(bits, width, base, step, plain);
            SampleRowBmi2(bits, width, base, step, vector);
            ASSERT_EQ(0, std::memcmp(plain, vector, 8))
                << "width " << width << " base " << base << " step " << step;
        }
}

} // namespace
} // namespace qx47
