#include "pixel/YuvToBgr.h"

#include "pixel/CpuFeatures.h"

#include <algorithm>
#include <array>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define CADMO_PIXEL_X86 1
#endif

namespace {

using Gains = YuvToBgr::Gains;

// The coefficients scaled by 2^13 and rounded to the nearest 16-bit value,
// halves upwards; out of range they stick at the ends.
std::int16_t Round16(std::int64_t f) {
    const std::int64_t r = (f + (1 << 15)) >> 16;
    return static_cast<std::int16_t>(std::clamp<std::int64_t>(r, -0x8000, 0x7fff));
}

std::int16_t Saturate(int v) {
    return static_cast<std::int16_t>(std::clamp(v, -0x8000, 0x7fff));
}

// The high half of a signed 16 x 16-bit product, rounded down.
std::int16_t High(std::int16_t a, std::int16_t b) {
    return static_cast<std::int16_t>((static_cast<std::int32_t>(a) * b) >> 16);
}

std::uint8_t Byte(std::int16_t v) {
    return static_cast<std::uint8_t>(std::clamp<int>(v, 0, 255));
}

// Pixels [from, width) of one row, one at a time, in the same steps as the
// vector code.
void PlainPixels(const Gains& g, const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v,
                 int from, int width, std::uint8_t* out) {
    for (int i = from; i < width; ++i) {
        const std::int16_t luma = High(static_cast<std::int16_t>(y[i] * 8 - g.yOffset), g.y);
        const std::int16_t cb = Saturate(u[i / 2] * 8 - 1024);
        const std::int16_t cr = Saturate(v[i / 2] * 8 - 1024);
        const std::int16_t green = Saturate(High(cb, g.ug) + High(cr, g.vg));
        out[3 * i] = Byte(Saturate(luma + High(cb, g.ub)));
        out[3 * i + 1] = Byte(Saturate(luma + green));
        out[3 * i + 2] = Byte(Saturate(luma + High(cr, g.vr)));
    }
}

#if CADMO_PIXEL_X86
// Each 128-bit lane of a channel holds its sixteen pixels as eight even ones
// then eight odd ones (what packing the even and odd words gives). These
// masks pick, for each of the three 16-byte parts of the lane's 48 bytes of
// blue, green, red, the bytes of one channel; the other places stay zero.
struct Masks {
    alignas(32) std::array<std::array<std::array<std::int8_t, 32>, 3>, 3> pick{}; // [part][channel]
};

constexpr Masks MakeMasks() {
    Masks m;
    for (int part = 0; part < 3; ++part)
        for (int channel = 0; channel < 3; ++channel)
            for (int j = 0; j < 32; ++j) {
                const int n = 16 * part + j % 16;
                const int pixel = n / 3;
                const int at = pixel % 2 == 0 ? pixel / 2 : 8 + pixel / 2;
                m.pick[part][channel][j] = static_cast<std::int8_t>(n % 3 == channel ? at : -1);
            }
    return m;
}

constexpr Masks kMasks = MakeMasks();

// One 16-byte part of each lane's blue, green, red bytes, from the masks
// of that part.
__attribute__((target("avx2"), always_inline)) inline __m256i Part(__m256i b, __m256i g, __m256i r,
                                                                   const __m256i* masks) {
    return _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(b, _mm256_load_si256(masks)),
                                           _mm256_shuffle_epi8(g, _mm256_load_si256(masks + 1))),
                           _mm256_shuffle_epi8(r, _mm256_load_si256(masks + 2)));
}

// Thirty-two pixels a step while that many remain; returns how many were
// done.
__attribute__((target("avx2"))) int Avx2Pixels(const Gains& g, const std::uint8_t* y, const std::uint8_t* u,
                                               const std::uint8_t* v, int width, std::uint8_t* out) {
    const __m256i lowBytes = _mm256_set1_epi16(0x00ff);
    const __m256i yOffset = _mm256_set1_epi16(g.yOffset);
    const __m256i chromaOffset = _mm256_set1_epi16(1024);
    const __m256i yGain = _mm256_set1_epi16(g.y);
    const __m256i vr = _mm256_set1_epi16(g.vr);
    const __m256i ub = _mm256_set1_epi16(g.ub);
    const __m256i ug = _mm256_set1_epi16(g.ug);
    const __m256i vg = _mm256_set1_epi16(g.vg);
    // Read from memory by each shuffle: with the factors above they would
    // not all fit in registers.
    const auto* masks = reinterpret_cast<const __m256i*>(&kMasks.pick);
    int i = 0;
    for (; i + 32 <= width; i += 32) {
        const __m256i luma = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y + i));
        __m256i even = _mm256_slli_epi16(_mm256_and_si256(luma, lowBytes), 3);
        __m256i odd = _mm256_slli_epi16(_mm256_srli_epi16(luma, 8), 3);
        even = _mm256_mulhi_epi16(_mm256_sub_epi16(even, yOffset), yGain);
        odd = _mm256_mulhi_epi16(_mm256_sub_epi16(odd, yOffset), yGain);
        const __m256i cb = _mm256_subs_epi16(
            _mm256_slli_epi16(
                _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(u + i / 2))), 3),
            chromaOffset);
        const __m256i cr = _mm256_subs_epi16(
            _mm256_slli_epi16(
                _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v + i / 2))), 3),
            chromaOffset);
        const __m256i blue = _mm256_mulhi_epi16(cb, ub);
        const __m256i red = _mm256_mulhi_epi16(cr, vr);
        const __m256i green = _mm256_adds_epi16(_mm256_mulhi_epi16(cb, ug), _mm256_mulhi_epi16(cr, vg));
        const __m256i b = _mm256_packus_epi16(_mm256_adds_epi16(even, blue), _mm256_adds_epi16(odd, blue));
        const __m256i gr = _mm256_packus_epi16(_mm256_adds_epi16(even, green), _mm256_adds_epi16(odd, green));
        const __m256i r = _mm256_packus_epi16(_mm256_adds_epi16(even, red), _mm256_adds_epi16(odd, red));
        const __m256i parts[3] = {Part(b, gr, r, masks), Part(b, gr, r, masks + 3),
                                  Part(b, gr, r, masks + 6)};
        // The low lanes hold the first sixteen pixels' 48 bytes, the high
        // lanes the next sixteen's.
        auto* to = reinterpret_cast<__m256i*>(out + 3 * i);
        _mm256_storeu_si256(to, _mm256_permute2x128_si256(parts[0], parts[1], 0x20));
        _mm256_storeu_si256(to + 1, _mm256_permute2x128_si256(parts[2], parts[0], 0x30));
        _mm256_storeu_si256(to + 2, _mm256_permute2x128_si256(parts[1], parts[2], 0x31));
    }
    return i;
}
#endif

} // namespace

YuvToBgr::YuvToBgr(const int matrix[4], bool fullRange) {
    std::int64_t gain = 1 << 16, black = 0;
    std::int64_t vr = matrix[0], ub = matrix[1], ug = -matrix[2], vg = -matrix[3];
    if (!fullRange) {
        // Luma stretched from 16..235 to the whole range.
        gain = gain * 255 / 219;
        black = 16 << 16;
    } else {
        // The table is for chroma of 16..240; full-range chroma spans more.
        vr = vr * 224 / 255;
        ub = ub * 224 / 255;
        ug = ug * 224 / 255;
        vg = vg * 224 / 255;
    }
    gains_.y = Round16(gain * (1 << 13));
    gains_.yOffset = Round16(black * (1 << 3));
    gains_.vr = Round16(vr * (1 << 13));
    gains_.ub = Round16(ub * (1 << 13));
    gains_.ug = Round16(ug * (1 << 13));
    gains_.vg = Round16(vg * (1 << 13));
}

bool YuvToBgr::Available() {
    return Cpu().avx2;
}

void YuvToBgr::Convert(const YuvPicture& picture, std::uint8_t* top, std::ptrdiff_t stride) const {
    [[maybe_unused]] const bool vector = Available();
    for (int row = 0; row < picture.height; ++row) {
        const std::ptrdiff_t chromaRow = row >> picture.chromaRowShift;
        const std::uint8_t* y = picture.planes[0] + row * picture.strides[0];
        const std::uint8_t* u = picture.planes[1] + chromaRow * picture.strides[1];
        const std::uint8_t* v = picture.planes[2] + chromaRow * picture.strides[2];
        std::uint8_t* out = top + row * stride;
        int done = 0;
#if CADMO_PIXEL_X86
        if (vector)
            done = Avx2Pixels(gains_, y, u, v, picture.width, out);
#endif
        PlainPixels(gains_, y, u, v, done, picture.width, out);
    }
}
