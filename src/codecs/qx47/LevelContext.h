// Adaptive Golomb parameter for coefficient magnitudes, shared by the
// encoder and the decoder so both pick the same code for every level.
//
// Magnitudes are sent as an order-k Exp-Golomb code of (magnitude - 1): the
// Exp-Golomb code of its value shifted right by k, then the k low bits. k
// follows the running mean of the magnitudes already sent in the macroblock,
// so busy blocks (noise, fine texture) stop paying for long prefixes.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>

namespace qx47 {

struct LevelContext {
    std::uint32_t sum = 0;   // (magnitude - 1) of the levels seen, with halving
    std::uint32_t count = 1; // how many, with halving

    // About log2 of the mean; 0 until the mean reaches 2. Exactly: the
    // largest k <= 12 with count << k <= sum, or 0. This runs for every
    // coefficient, so it is found without a loop: shifted by the difference
    // of the two bit lengths, count is as long as sum, and then either at
    // most sum (the difference is k) or above it (k is one less). count
    // stays in 1..31, so the shift never leaves 32 bits.
    int K() const {
        int k = std::max(std::countl_zero(count | 1u) - std::countl_zero(sum | 1u), 0);
        k -= (count << k) > sum ? 1 : 0;
        return std::clamp(k, 0, 12);
    }
    // The halving keeps the mean of the recent levels; without a branch, as
    // it comes every sixteen levels in busy macroblocks.
    void Update(std::uint32_t magnitude) {
        sum += magnitude - 1;
        ++count;
        const std::uint32_t halve = count >> 5; // 1 when count reaches 32
        sum >>= halve;
        count >>= halve;
    }
};

} // namespace qx47
