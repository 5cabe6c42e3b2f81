// Coefficient decoding: the level context and the bit reader at the end of a
// stream.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "codecs/qx47/BitReader.h"
#include "codecs/qx47/LevelContext.h"

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

// Streams of every short length, read in fields of random widths well past
// the end: the bits are the stream's, then zeros, and the overrun shows from
// the first bit beyond the end on, never before.
TEST(Qx47BitStream, ReadsUpToTheLastByteAndZerosAfterIt) {
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

} // namespace
} // namespace qx47
