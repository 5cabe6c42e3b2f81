// Adaptive Golomb parameter for coefficient magnitudes, shared by the
// encoder and the decoder so both pick the same code for every level.
//
// Magnitudes are sent as an order-k Exp-Golomb code of (magnitude - 1): the
// Exp-Golomb code of its value shifted right by k, then the k low bits. k
// follows the running mean of the magnitudes already sent in the macroblock,
// so busy blocks (noise, fine texture) stop paying for long prefixes.
#pragma once

#include <cstdint>

namespace qx47 {

struct LevelContext {
    std::uint32_t sum = 0;   // (magnitude - 1) of the levels seen, with halving
    std::uint32_t count = 1; // how many, with halving

    // About log2 of the mean; 0 until the mean reaches 2.
    int K() const {
        int k = 0;
        while ((count << (k + 1)) <= sum && k < 12)
            ++k;
        return k;
    }
    void Update(std::uint32_t magnitude) {
        sum += magnitude - 1;
        if (++count >= 32) {
            sum >>= 1;
            count >>= 1;
        }
    }
};

} // namespace qx47
