// Coefficient decoding: the level context.
#include <gtest/gtest.h>

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

} // namespace
} // namespace qx47
