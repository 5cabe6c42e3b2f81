// One row of a sample-coded block: eight indices of `width` bits (1..7),
// the first in the most significant bits of `bits`, become
// min(base + index x step, 255).
//
// The plain version is the definition; the BMI2 one spreads the eight
// indices into eight bytes with one deposit and scales them as a vector,
// and must give the same bytes for every input.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <immintrin.h>

namespace qx47 {

inline void SampleRowPlain(std::uint64_t bits, int width, int base, int step, std::uint8_t* dst) {
    const std::uint64_t mask = (std::uint64_t{1} << width) - 1;
    for (int c = 0; c < 8; ++c) {
        const int k = static_cast<int>((bits >> (64 - width * (c + 1))) & mask);
        dst[c] = static_cast<std::uint8_t>(std::min(base + k * step, 255));
    }
}

// Both products and sums stay within 16 signed bits (127 x 256 + 255), and
// the pack saturates to 255 as the plain version clamps.
__attribute__((target("bmi2"))) inline void SampleRowBmi2(std::uint64_t bits, int width, int base, int step,
                                                          std::uint8_t* dst) {
    const std::uint64_t lanes = 0x0101010101010101ull * ((1u << width) - 1);
    // The last index lands in the lowest byte; the swap puts the first there.
    const std::uint64_t spread = __builtin_bswap64(_pdep_u64(bits >> (64 - 8 * width), lanes));
    const __m128i index =
        _mm_unpacklo_epi8(_mm_cvtsi64_si128(static_cast<long long>(spread)), _mm_setzero_si128());
    const __m128i v = _mm_add_epi16(_mm_mullo_epi16(index, _mm_set1_epi16(static_cast<short>(step))),
                                    _mm_set1_epi16(static_cast<short>(base)));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(v, v));
}

} // namespace qx47
