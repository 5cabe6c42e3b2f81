#include "codecs/qx47/Transform.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "pixel/CpuFeatures.h"

namespace qx47 {

const std::uint8_t kZigzag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                  12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                  35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                  58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

namespace {

// kCos[k][n] = c(k) cos((2n + 1) k pi / 16), the basis of the orthonormal
// 8-point DCT; only the encoder's forward transform uses it.
struct CosTable {
    double real[8][8];
    CosTable() {
        for (int k = 0; k < 8; ++k)
            for (int n = 0; n < 8; ++n) {
                double c = k == 0 ? 0.35355339059327373 : 0.5; // sqrt(1/8), sqrt(2/8)
                real[k][n] =
                    c * std::cos(static_cast<double>((2 * n + 1) * k) * (3.14159265358979323846 / 16.0));
            }
    }
};
const CosTable kCos;

// A very light frequency weighting: steeper matrices look softer and cost
// more mean-square error per bit saved, which the sharp edges of synthetic
// pictures punish.
int IntraWeight(int u, int v) {
    return 16 + (u + v) / 2;
}
int InterWeight(int u, int v) {
    return 16 + (u + v) / 4;
}

// The inverse is the Loeffler-Ligtenberg-Moschytz factorisation of the 8-point
// DCT with 13-bit constants: 12 multiplications a pass instead of 64, and
// every product a pair of 16-bit values summed into 32 bits, which is what
// SSE2's multiply-add does for eight columns at once. The first pass (down
// the columns) keeps 2 more fractional bits and saturates to 16 bits; the
// second removes them and the factor 8 of the two unnormalised passes.
constexpr int kConstBits = 13;
constexpr int kPass1Shift = kConstBits - 2;
constexpr int kPass2Shift = kConstBits + 2 + 3;

constexpr std::int32_t Fix(double x) {
    return static_cast<std::int32_t>(x * (1 << kConstBits) + 0.5);
}
constexpr std::int32_t F0298 = Fix(0.298631336), F0390 = Fix(0.390180644), F0541 = Fix(0.541196100),
                       F0765 = Fix(0.765366865), F0899 = Fix(0.899976223), F1175 = Fix(1.175875602),
                       F1501 = Fix(1.501321110), F1847 = Fix(1.847759065), F1961 = Fix(1.961570560),
                       F2053 = Fix(2.053119869), F2562 = Fix(2.562915447), F3072 = Fix(3.072711026);

// The factors regrouped so that each product term is a*k0 + b*k1 of two
// inputs: the odd part's shared product z5 = (z3 + z4) F1175 is spread over
// z3 and z4 (exact in integers).
struct KernelPairs {
    std::int16_t k[10][2];
};
constexpr KernelPairs kPairs = {{
    {8192, 8192},            // 0: (x0, x4) -> (x0 + x4) << 13
    {8192, -8192},           // 1: (x0, x4) -> (x0 - x4) << 13
    {F0541 + F0765, F0541},  // 2: (x2, x6) -> even tmp3
    {F0541, F0541 - F1847},  // 3: (x2, x6) -> even tmp2
    {F1175 - F1961, F1175},  // 4: (x7 + x3, x5 + x1) -> z3 + z5
    {F1175, F1175 - F0390},  // 5: (x7 + x3, x5 + x1) -> z4 + z5
    {F0298 - F0899, -F0899}, // 6: (x7, x1) -> odd tmp0 without z3
    {-F0899, F1501 - F0899}, // 7: (x7, x1) -> odd tmp3 without z4
    {F2053 - F2562, -F2562}, // 8: (x5, x3) -> odd tmp1 without z4
    {-F2562, F3072 - F2562}, // 9: (x5, x3) -> odd tmp2 without z3
}};

inline std::int16_t Saturate16(std::int32_t v) {
    return static_cast<std::int16_t>(std::clamp<std::int32_t>(v, -32768, 32767));
}
// The vector code's wrapping 32-bit arithmetic; only hostile coefficients
// ever wrap, but both versions must then still agree.
inline std::int32_t Wrap32(std::int64_t v) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(v)));
}

// One pass of the portable version: x[k][lane], k the input index, lanes
// independent; the results replace the inputs. Bit for bit what the vector
// pass computes.
template <int Shift> void ScalarPass(std::int16_t x[8][8]) {
    auto madd = [](std::int32_t a, std::int32_t b, int pair) -> std::int64_t {
        return static_cast<std::int64_t>(a) * kPairs.k[pair][0] +
               static_cast<std::int64_t>(b) * kPairs.k[pair][1];
    };
    for (int l = 0; l < 8; ++l) {
        const std::int32_t x0 = x[0][l], x1 = x[1][l], x2 = x[2][l], x3 = x[3][l], x4 = x[4][l], x5 = x[5][l],
                           x6 = x[6][l], x7 = x[7][l];
        const std::int64_t e0 = madd(x0, x4, 0), e1 = madd(x0, x4, 1);
        const std::int64_t t3 = madd(x2, x6, 2), t2 = madd(x2, x6, 3);
        const std::int64_t t10 = e0 + t3, t13 = e0 - t3, t11 = e1 + t2, t12 = e1 - t2;
        const std::int16_t z3s = static_cast<std::int16_t>(x7 + x3), z4s = static_cast<std::int16_t>(x5 + x1);
        const std::int64_t z3 = madd(z3s, z4s, 4), z4 = madd(z3s, z4s, 5);
        const std::int64_t o0 = madd(x7, x1, 6) + z3, o3 = madd(x7, x1, 7) + z4;
        const std::int64_t o1 = madd(x5, x3, 8) + z4, o2 = madd(x5, x3, 9) + z3;
        const std::int64_t out[8] = {t10 + o3, t11 + o2, t12 + o1, t13 + o0,
                                     t13 - o0, t12 - o1, t11 - o2, t10 - o3};
        for (int k = 0; k < 8; ++k)
            x[k][l] = Saturate16(Wrap32(out[k] + (1 << (Shift - 1))) >> Shift);
    }
}

// Rows y of the result, lanes x, clamped base + residual: `pred` null means
// a base of 128.
void ScalarInverse(const std::int32_t coef[64], const std::uint8_t* pred, int predStride, std::uint8_t* dst,
                   int stride) {
    std::int16_t a[8][8], b[8][8];
    for (int v = 0; v < 8; ++v)
        for (int u = 0; u < 8; ++u)
            a[v][u] = Saturate16(coef[v * 8 + u]);
    ScalarPass<kPass1Shift>(a); // a[y][u]
    for (int y = 0; y < 8; ++y)
        for (int u = 0; u < 8; ++u)
            b[u][y] = a[y][u];
    ScalarPass<kPass2Shift>(b); // b[x][y]
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const int base = pred ? pred[y * predStride + x] : 128;
            dst[y * stride + x] = static_cast<std::uint8_t>(std::clamp(base + b[x][y], 0, 255));
        }
}

#if defined(__SSE2__)
inline __m128i Pair(int k0, int k1) {
    const std::uint32_t lo = static_cast<std::uint16_t>(k0);
    const std::uint32_t hi = static_cast<std::uint16_t>(k1);
    return _mm_set1_epi32(static_cast<int>(lo | (hi << 16)));
}
inline __m128i Pair(int k) {
    return Pair(kPairs.k[k][0], kPairs.k[k][1]);
}

struct Wide {
    __m128i lo, hi; // lanes 0..3 and 4..7, 32 bits each
};
inline Wide Madd(__m128i a, __m128i b, __m128i k) {
    return {_mm_madd_epi16(_mm_unpacklo_epi16(a, b), k), _mm_madd_epi16(_mm_unpackhi_epi16(a, b), k)};
}
inline Wide operator+(Wide a, Wide b) {
    return {_mm_add_epi32(a.lo, b.lo), _mm_add_epi32(a.hi, b.hi)};
}
inline Wide operator-(Wide a, Wide b) {
    return {_mm_sub_epi32(a.lo, b.lo), _mm_sub_epi32(a.hi, b.hi)};
}
template <int Shift> inline __m128i Descale(Wide v) {
    const __m128i round = _mm_set1_epi32(1 << (Shift - 1));
    return _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(v.lo, round), Shift),
                           _mm_srai_epi32(_mm_add_epi32(v.hi, round), Shift));
}

template <int Shift> inline void VectorPass(__m128i x[8]) {
    const Wide e0 = Madd(x[0], x[4], Pair(0)), e1 = Madd(x[0], x[4], Pair(1));
    const Wide t3 = Madd(x[2], x[6], Pair(2)), t2 = Madd(x[2], x[6], Pair(3));
    const Wide t10 = e0 + t3, t13 = e0 - t3, t11 = e1 + t2, t12 = e1 - t2;
    const __m128i z3s = _mm_add_epi16(x[7], x[3]), z4s = _mm_add_epi16(x[5], x[1]);
    const Wide z3 = Madd(z3s, z4s, Pair(4)), z4 = Madd(z3s, z4s, Pair(5));
    const Wide o0 = Madd(x[7], x[1], Pair(6)) + z3, o3 = Madd(x[7], x[1], Pair(7)) + z4;
    const Wide o1 = Madd(x[5], x[3], Pair(8)) + z4, o2 = Madd(x[5], x[3], Pair(9)) + z3;
    x[0] = Descale<Shift>(t10 + o3);
    x[7] = Descale<Shift>(t10 - o3);
    x[1] = Descale<Shift>(t11 + o2);
    x[6] = Descale<Shift>(t11 - o2);
    x[2] = Descale<Shift>(t12 + o1);
    x[5] = Descale<Shift>(t12 - o1);
    x[3] = Descale<Shift>(t13 + o0);
    x[4] = Descale<Shift>(t13 - o0);
}

// VectorPass for inputs 4..7 all zero. With x5 and x7 gone, z3 and z4 are
// plain multiples of x3 and x1, so each odd output is one multiply-add of
// (x3, x1), and each even one of (x0, x2), with the factors summed ahead.
// Sums in 32-bit integers wrap alike in any order, so the outputs are those
// of VectorPass bit for bit.
constexpr int kEvenX2[4] = {kPairs.k[2][0], kPairs.k[3][0], -kPairs.k[3][0], -kPairs.k[2][0]}; // t10..t13
constexpr int kOddX3[4] = {kPairs.k[4][0], kPairs.k[5][0] + kPairs.k[8][1], kPairs.k[4][0] + kPairs.k[9][1],
                           kPairs.k[5][0]}; // o0..o3
constexpr int kOddX1[4] = {kPairs.k[4][1] + kPairs.k[6][1], kPairs.k[5][1], kPairs.k[4][1],
                           kPairs.k[5][1] + kPairs.k[7][1]};
constexpr bool FitsPairs() {
    for (int i = 0; i < 4; ++i)
        for (int v : {kEvenX2[i], kOddX3[i], kOddX1[i]})
            if (v < -32768 || v > 32767)
                return false;
    return true;
}
static_assert(FitsPairs(), "summed factors must stay 16-bit for the multiply-add");

template <int Shift> inline void VectorPass4(__m128i x[8]) {
    const __m128i even0 = _mm_unpacklo_epi16(x[0], x[2]), even1 = _mm_unpackhi_epi16(x[0], x[2]);
    const __m128i odd0 = _mm_unpacklo_epi16(x[3], x[1]), odd1 = _mm_unpackhi_epi16(x[3], x[1]);
    auto even = [&](int i) -> Wide {
        const __m128i k = Pair(8192, kEvenX2[i]);
        return {_mm_madd_epi16(even0, k), _mm_madd_epi16(even1, k)};
    };
    auto odd = [&](int i) -> Wide {
        const __m128i k = Pair(kOddX3[i], kOddX1[i]);
        return {_mm_madd_epi16(odd0, k), _mm_madd_epi16(odd1, k)};
    };
    const Wide t10 = even(0), t11 = even(1), t12 = even(2), t13 = even(3);
    const Wide o0 = odd(0), o1 = odd(1), o2 = odd(2), o3 = odd(3);
    x[0] = Descale<Shift>(t10 + o3);
    x[7] = Descale<Shift>(t10 - o3);
    x[1] = Descale<Shift>(t11 + o2);
    x[6] = Descale<Shift>(t11 - o2);
    x[2] = Descale<Shift>(t12 + o1);
    x[5] = Descale<Shift>(t12 - o1);
    x[3] = Descale<Shift>(t13 + o0);
    x[4] = Descale<Shift>(t13 - o0);
}

inline void Transpose(__m128i r[8]) {
    const __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
    const __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
    const __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
    const __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
    const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
    const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
    const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
    const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
    r[0] = _mm_unpacklo_epi64(b0, b4);
    r[1] = _mm_unpackhi_epi64(b0, b4);
    r[2] = _mm_unpacklo_epi64(b1, b5);
    r[3] = _mm_unpackhi_epi64(b1, b5);
    r[4] = _mm_unpacklo_epi64(b2, b6);
    r[5] = _mm_unpackhi_epi64(b2, b6);
    r[6] = _mm_unpacklo_epi64(b3, b7);
    r[7] = _mm_unpackhi_epi64(b3, b7);
}

inline void AddAndStore(const __m128i residual[8], const std::uint8_t* pred, int predStride,
                        std::uint8_t* dst, int stride) {
    const __m128i zero = _mm_setzero_si128(), mid = _mm_set1_epi16(128);
    for (int y = 0; y < 8; ++y) {
        __m128i base = mid;
        if (pred)
            base = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(pred + y * predStride)),
                                     zero);
        const __m128i sum = _mm_add_epi16(base, residual[y]);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + y * stride), _mm_packus_epi16(sum, sum));
    }
}

// Whether coefficient columns 4..7 are all zero, from the rows as 16-bit
// vectors (saturating to 16 bits keeps zeros and non-zeros apart).
inline bool RightHalfEmpty(const __m128i x[8]) {
    __m128i any = x[0];
    for (int v = 1; v < 8; ++v)
        any = _mm_or_si128(any, x[v]);
    return _mm_cvtsi128_si64(_mm_unpackhi_epi64(any, any)) == 0;
}

// The same passes on 256-bit vectors. A row of eight 16-bit values lives in
// the low 64 bits of each 128-bit half, lanes 0..3 in the lower half and
// 4..7 in the upper; the high 64 bits of each half are ignored. Interleaving
// two such rows gives the pairs of all eight lanes, so one multiply-add makes
// what takes two with 128-bit vectors, and packing the 32-bit sums to 16 bits
// puts a row back in that form.
__attribute__((target("avx2"))) inline __m256i Madd256(__m256i a, __m256i b, int k0, int k1) {
    const std::uint32_t pair =
        static_cast<std::uint16_t>(k0) | (static_cast<std::uint32_t>(static_cast<std::uint16_t>(k1)) << 16);
    return _mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), _mm256_set1_epi32(static_cast<int>(pair)));
}

template <int Shift> __attribute__((target("avx2"))) inline __m256i Descale256(__m256i v) {
    const __m256i r = _mm256_srai_epi32(_mm256_add_epi32(v, _mm256_set1_epi32(1 << (Shift - 1))), Shift);
    return _mm256_packs_epi32(r, r);
}

template <int Shift>
__attribute__((target("avx2"))) inline void Butterfly256(__m256i x[8], __m256i t10, __m256i t11, __m256i t12,
                                                         __m256i t13, __m256i o0, __m256i o1, __m256i o2,
                                                         __m256i o3) {
    x[0] = Descale256<Shift>(_mm256_add_epi32(t10, o3));
    x[7] = Descale256<Shift>(_mm256_sub_epi32(t10, o3));
    x[1] = Descale256<Shift>(_mm256_add_epi32(t11, o2));
    x[6] = Descale256<Shift>(_mm256_sub_epi32(t11, o2));
    x[2] = Descale256<Shift>(_mm256_add_epi32(t12, o1));
    x[5] = Descale256<Shift>(_mm256_sub_epi32(t12, o1));
    x[3] = Descale256<Shift>(_mm256_add_epi32(t13, o0));
    x[4] = Descale256<Shift>(_mm256_sub_epi32(t13, o0));
}

template <int Shift> __attribute__((target("avx2"))) inline void Pass256(__m256i x[8]) {
    const auto& k = kPairs.k;
    const __m256i e0 = Madd256(x[0], x[4], k[0][0], k[0][1]), e1 = Madd256(x[0], x[4], k[1][0], k[1][1]);
    const __m256i t3 = Madd256(x[2], x[6], k[2][0], k[2][1]), t2 = Madd256(x[2], x[6], k[3][0], k[3][1]);
    const __m256i z3s = _mm256_add_epi16(x[7], x[3]), z4s = _mm256_add_epi16(x[5], x[1]);
    const __m256i z3 = Madd256(z3s, z4s, k[4][0], k[4][1]), z4 = Madd256(z3s, z4s, k[5][0], k[5][1]);
    const __m256i o0 = _mm256_add_epi32(Madd256(x[7], x[1], k[6][0], k[6][1]), z3);
    const __m256i o3 = _mm256_add_epi32(Madd256(x[7], x[1], k[7][0], k[7][1]), z4);
    const __m256i o1 = _mm256_add_epi32(Madd256(x[5], x[3], k[8][0], k[8][1]), z4);
    const __m256i o2 = _mm256_add_epi32(Madd256(x[5], x[3], k[9][0], k[9][1]), z3);
    Butterfly256<Shift>(x, _mm256_add_epi32(e0, t3), _mm256_add_epi32(e1, t2), _mm256_sub_epi32(e1, t2),
                        _mm256_sub_epi32(e0, t3), o0, o1, o2, o3);
}

template <int Shift> __attribute__((target("avx2"))) inline void Pass4_256(__m256i x[8]) {
    Butterfly256<Shift>(x, Madd256(x[0], x[2], 8192, kEvenX2[0]), Madd256(x[0], x[2], 8192, kEvenX2[1]),
                        Madd256(x[0], x[2], 8192, kEvenX2[2]), Madd256(x[0], x[2], 8192, kEvenX2[3]),
                        Madd256(x[3], x[1], kOddX3[0], kOddX1[0]), Madd256(x[3], x[1], kOddX3[1], kOddX1[1]),
                        Madd256(x[3], x[1], kOddX3[2], kOddX1[2]), Madd256(x[3], x[1], kOddX3[3], kOddX1[3]));
}

__attribute__((target("avx2"))) inline void Transpose256(__m256i r[8]) {
    // Rows 0..3 and 4..7 of columns 0, 1 (lower halves) and 4, 5 (upper) in
    // e and g; of columns 2, 3 and 6, 7 in f and h.
    const __m256i a0 = _mm256_unpacklo_epi16(r[0], r[1]), a1 = _mm256_unpacklo_epi16(r[2], r[3]);
    const __m256i a2 = _mm256_unpacklo_epi16(r[4], r[5]), a3 = _mm256_unpacklo_epi16(r[6], r[7]);
    const __m256i e = _mm256_unpacklo_epi32(a0, a1), f = _mm256_unpackhi_epi32(a0, a1);
    const __m256i g = _mm256_unpacklo_epi32(a2, a3), h = _mm256_unpackhi_epi32(a2, a3);
    const __m256i c0 = _mm256_permute2x128_si256(e, g, 0x20), c4 = _mm256_permute2x128_si256(e, g, 0x31);
    const __m256i c2 = _mm256_permute2x128_si256(f, h, 0x20), c6 = _mm256_permute2x128_si256(f, h, 0x31);
    r[0] = c0;
    r[1] = _mm256_unpackhi_epi64(c0, c0);
    r[2] = c2;
    r[3] = _mm256_unpackhi_epi64(c2, c2);
    r[4] = c4;
    r[5] = _mm256_unpackhi_epi64(c4, c4);
    r[6] = c6;
    r[7] = _mm256_unpackhi_epi64(c6, c6);
}

__attribute__((target("avx2"))) void Avx2Inverse(const std::int32_t coef[64], std::uint8_t rowMask,
                                                 const std::uint8_t* pred, int predStride, std::uint8_t* dst,
                                                 int stride) {
    __m256i x[8];
    __m256i any = _mm256_setzero_si256();
    for (int v = 0; v < 8; ++v) {
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(coef + v * 8));
        x[v] = _mm256_packs_epi32(c, c);
        any = _mm256_or_si256(any, x[v]);
    }
    const bool narrow = _mm_cvtsi128_si64(_mm256_extracti128_si256(any, 1)) == 0;
    if (rowMask & 0xF0)
        Pass256<kPass1Shift>(x);
    else
        Pass4_256<kPass1Shift>(x);
    Transpose256(x);
    if (narrow)
        Pass4_256<kPass2Shift>(x);
    else
        Pass256<kPass2Shift>(x);
    Transpose256(x);
    __m128i rows[8];
    for (int y = 0; y < 8; ++y)
        rows[y] = _mm256_castsi256_si128(_mm256_permute4x64_epi64(x[y], 0x08));
    AddAndStore(rows, pred, predStride, dst, stride);
}

// Most coded blocks hold only low frequencies: coefficient rows 4..7 zero,
// columns 4..7 zero, or both, and then the passes leave out those inputs.
// With only row 0, every row of the first pass's output is the same (4 x
// the coefficient, saturated), so the second pass runs on that one row in
// one lane and its result is added to all eight rows.
void VectorInverse(const std::int32_t coef[64], std::uint8_t rowMask, const std::uint8_t* pred,
                   int predStride, std::uint8_t* dst, int stride) {
    if (rowMask == 1) {
        const __m128i first = _mm_packs_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(coef)),
                                              _mm_loadu_si128(reinterpret_cast<const __m128i*>(coef + 4)));
        const bool narrow = _mm_cvtsi128_si64(_mm_unpackhi_epi64(first, first)) == 0;
        const __m128i twice = _mm_adds_epi16(first, first);
        const __m128i row = _mm_adds_epi16(twice, twice);
        __m128i lane[8] = {row,
                           _mm_srli_si128(row, 2),
                           _mm_srli_si128(row, 4),
                           _mm_srli_si128(row, 6),
                           _mm_srli_si128(row, 8),
                           _mm_srli_si128(row, 10),
                           _mm_srli_si128(row, 12),
                           _mm_srli_si128(row, 14)};
        narrow ? VectorPass4<kPass2Shift>(lane) : VectorPass<kPass2Shift>(lane);
        // Lane 0 of each output, gathered into one row.
        const __m128i r01 = _mm_unpacklo_epi16(lane[0], lane[1]), r23 = _mm_unpacklo_epi16(lane[2], lane[3]);
        const __m128i r45 = _mm_unpacklo_epi16(lane[4], lane[5]), r67 = _mm_unpacklo_epi16(lane[6], lane[7]);
        const __m128i out = _mm_unpacklo_epi64(_mm_unpacklo_epi32(r01, r23), _mm_unpacklo_epi32(r45, r67));
        const __m128i rows[8] = {out, out, out, out, out, out, out, out};
        AddAndStore(rows, pred, predStride, dst, stride);
        return;
    }
    if (Cpu().avx2) {
        Avx2Inverse(coef, rowMask, pred, predStride, dst, stride);
        return;
    }
    __m128i x[8];
    for (int v = 0; v < 8; ++v)
        x[v] = _mm_packs_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(coef + v * 8)),
                               _mm_loadu_si128(reinterpret_cast<const __m128i*>(coef + v * 8 + 4)));
    const bool narrow = RightHalfEmpty(x);
    if (rowMask & 0xF0)
        VectorPass<kPass1Shift>(x);
    else
        VectorPass4<kPass1Shift>(x);
    Transpose(x);
    if (narrow)
        VectorPass4<kPass2Shift>(x);
    else
        VectorPass<kPass2Shift>(x);
    Transpose(x);
    AddAndStore(x, pred, predStride, dst, stride);
}
#endif

// The value every pixel of a block with only a DC coefficient gets: the two
// passes above with all other inputs zero.
inline std::int32_t DcOnly(std::int32_t dc) {
    const std::int32_t w = Saturate16(4 * static_cast<std::int32_t>(Saturate16(dc)));
    return (w + 16) >> 5;
}

inline bool IsDcOnly(const std::int32_t coef[64], std::uint8_t rowMask) {
    if (rowMask != 1)
        return false;
    for (int u = 1; u < 8; ++u)
        if (coef[u] != 0)
            return false;
    return true;
}

void Inverse(const std::int32_t coef[64], std::uint8_t rowMask, const std::uint8_t* pred, int predStride,
             std::uint8_t* dst, int stride) {
    if (IsDcOnly(coef, rowMask)) {
        const std::int32_t d = DcOnly(coef[0]);
#if defined(__SSE2__)
        // clamp(base + d, 0, 255) as one saturating byte add or subtract.
        const __m128i amount = _mm_set1_epi8(static_cast<char>(std::min(std::abs(d), 255)));
        const __m128i mid = _mm_set1_epi8(static_cast<char>(128));
        for (int y = 0; y < 8; ++y) {
            const __m128i base =
                pred ? _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pred + y * predStride)) : mid;
            const __m128i v = d >= 0 ? _mm_adds_epu8(base, amount) : _mm_subs_epu8(base, amount);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + y * stride), v);
        }
#else
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) {
                const int base = pred ? pred[y * predStride + x] : 128;
                dst[y * stride + x] = static_cast<std::uint8_t>(std::clamp(base + d, 0, 255));
            }
#endif
        return;
    }
#if defined(__SSE2__)
    VectorInverse(coef, rowMask, pred, predStride, dst, stride);
#else
    ScalarInverse(coef, pred, predStride, dst, stride);
#endif
}

} // namespace

void ComputeQuantSteps(int q, QuantSteps& steps) {
    q = std::clamp(q, 1, 255);
    for (int v = 0; v < 8; ++v) {
        for (int u = 0; u < 8; ++u) {
            const int i = v * 8 + u;
            steps.intra[i] = static_cast<std::uint16_t>(std::max(1, (q * IntraWeight(u, v) + 32) >> 6));
            steps.inter[i] = static_cast<std::uint16_t>(std::max(1, (q * InterWeight(u, v) + 32) >> 6));
            steps.intra[64 + i] = static_cast<std::uint16_t>(std::max(1, (q * IntraWeight(u, v) + 64) >> 7));
            steps.inter[64 + i] = static_cast<std::uint16_t>(std::max(1, (q * InterWeight(u, v) + 64) >> 7));
        }
    }
    steps.intra[0] = steps.intra[64] = kIntraDcStep;
}

void ForwardDct(const float in[64], float out[64]) {
    double tmp[8][8];
    for (int y = 0; y < 8; ++y) {
        for (int u = 0; u < 8; ++u) {
            double s = 0;
            for (int x = 0; x < 8; ++x)
                s += in[y * 8 + x] * kCos.real[u][x];
            tmp[y][u] = s;
        }
    }
    for (int v = 0; v < 8; ++v) {
        for (int u = 0; u < 8; ++u) {
            double s = 0;
            for (int y = 0; y < 8; ++y)
                s += tmp[y][u] * kCos.real[v][y];
            out[v * 8 + u] = static_cast<float>(s);
        }
    }
}

void InversePut(const std::int32_t coef[64], std::uint8_t rowMask, std::uint8_t* dst, int stride) {
    if (rowMask == 0) {
        for (int y = 0; y < 8; ++y)
            std::memset(dst + y * stride, 128, 8);
        return;
    }
    Inverse(coef, rowMask, nullptr, 0, dst, stride);
}

void InverseAdd(const std::int32_t coef[64], std::uint8_t rowMask, const std::uint8_t* pred, int predStride,
                std::uint8_t* dst, int stride) {
    if (rowMask == 0) {
        if (pred != dst)
            for (int y = 0; y < 8; ++y)
                std::memcpy(dst + y * stride, pred + y * predStride, 8);
        return;
    }
    Inverse(coef, rowMask, pred, predStride, dst, stride);
}

void InverseReference(const std::int32_t coef[64], const std::uint8_t* pred, int predStride,
                      std::uint8_t* dst, int stride) {
    ScalarInverse(coef, pred, predStride, dst, stride);
}

} // namespace qx47
