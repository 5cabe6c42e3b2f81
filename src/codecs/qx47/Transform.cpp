#include "codecs/qx47/Transform.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace qx47 {

const std::uint8_t kZigzag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                  12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                  35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                  58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

namespace {

// kCos[k][n] = round(4096 * c(k) * cos((2n + 1) k pi / 16)), the basis of the
// orthonormal 8-point DCT at 12 fractional bits.
struct CosTable {
    std::int32_t fixed[8][8];
    double real[8][8];
    // Two passes on purpose: GCC 12 at -O2 miscompiled the fused loop
    // (the table came out all zero).
    CosTable() {
        for (int k = 0; k < 8; ++k)
            for (int n = 0; n < 8; ++n) {
                double c = k == 0 ? 0.35355339059327373 : 0.5; // sqrt(1/8), sqrt(2/8)
                real[k][n] =
                    c * std::cos(static_cast<double>((2 * n + 1) * k) * (3.14159265358979323846 / 16.0));
            }
        for (int k = 0; k < 8; ++k)
            for (int n = 0; n < 8; ++n)
                fixed[k][n] = static_cast<std::int32_t>(std::lround(4096.0 * real[k][n]));
        for (int k = 0; k < 8; ++k)
            for (int n = 0; n < 8; ++n)
                symmetric = symmetric && fixed[k][7 - n] == ((k & 1) ? -fixed[k][n] : fixed[k][n]);
    }
    // fixed[k][7 - n] = (-1)^k fixed[k][n], as the cosines are; checked rather
    // than assumed, since the inverse's folded column pass relies on it exactly.
    bool symmetric = true;
};
CosTable kCos; // not const: filled at start-up by its constructor

// A very light frequency weighting: steeper matrices look softer and cost
// more mean-square error per bit saved, which the sharp edges of synthetic
// pictures punish.
int IntraWeight(int u, int v) {
    return 16 + (u + v) / 2;
}
int InterWeight(int u, int v) {
    return 16 + (u + v) / 4;
}

// The integer inverse: rows first (skipping empty ones), then columns over the
// non-empty rows only. The intermediate keeps 3 fractional bits; with
// coefficients within kMaxCoefficient every sum fits 32 bits.
//
// When only coefficient row 0 is set (flat and purely horizontal blocks, the
// most common kind after empty ones) the column pass multiplies every row by
// the same constant, so the eight output rows are equal: then only out[0..7]
// is computed and the function returns true. That is the same arithmetic,
// so the pixels do not change.
// s[x] = sum over u <= last of c[u] x kCos.fixed[u][x]. Eight sums side by
// side, so that they vectorise; zero terms add nothing and are skipped.
[[gnu::always_inline]] inline void RowSums(const std::int32_t* c, int last, std::int32_t s[8]) {
    for (int x = 0; x < 8; ++x)
        s[x] = 0;
    for (int u = 0; u <= last; ++u) {
        const std::int32_t cu = c[u];
        if (cu == 0)
            continue;
        for (int x = 0; x < 8; ++x)
            s[x] += cu * kCos.fixed[u][x];
    }
}

[[gnu::always_inline]] inline bool Inverse(const std::int32_t coef[64], std::uint8_t rowMask,
                                           std::int32_t out[64]) {
    if (rowMask == 1) {
        const std::int32_t* c = coef;
        int last = 7;
        while (last > 0 && c[last] == 0)
            --last;
        const std::int32_t k = kCos.fixed[0][0]; // the same for every y
        if (last == 0) {
            const std::int32_t t = (c[0] * kCos.fixed[0][0] + 256) >> 9;
            const std::int32_t v = ((1 << 14) + k * t) >> 15;
            for (int x = 0; x < 8; ++x)
                out[x] = v;
            return true;
        }
        std::int32_t s[8];
        RowSums(c, last, s);
        for (int x = 0; x < 8; ++x)
            out[x] = ((1 << 14) + k * ((s[x] + 256) >> 9)) >> 15;
        return true;
    }
    std::int32_t tmp[8][8];
    int rows[8];
    int nrows = 0;
    for (int v = 0; v < 8; ++v) {
        if (!(rowMask & (1u << v)))
            continue;
        const std::int32_t* c = coef + v * 8;
        int last = 7;
        while (last > 0 && c[last] == 0)
            --last;
        std::int32_t s[8];
        RowSums(c, last, s);
        for (int x = 0; x < 8; ++x)
            tmp[nrows][x] = (s[x] + 256) >> 9;
        rows[nrows++] = v;
    }
    if (kCos.symmetric) {
        // Output rows y and 7 - y share the products: even rows v add the same
        // to both, odd ones add to one and subtract from the other. Half the
        // multiplications, the same sums.
        std::int32_t even[4][8], odd[4][8];
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 8; ++x) {
                even[y][x] = 1 << 14;
                odd[y][x] = 0;
            }
        for (int r = 0; r < nrows; ++r) {
            const int v = rows[r];
            std::int32_t(*acc)[8] = (v & 1) ? odd : even;
            for (int y = 0; y < 4; ++y) {
                const std::int32_t t = kCos.fixed[v][y];
                for (int x = 0; x < 8; ++x)
                    acc[y][x] += t * tmp[r][x];
            }
        }
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 8; ++x) {
                out[y * 8 + x] = (even[y][x] + odd[y][x]) >> 15;
                out[(7 - y) * 8 + x] = (even[y][x] - odd[y][x]) >> 15;
            }
        return false;
    }
    for (int i = 0; i < 64; ++i)
        out[i] = 1 << 14;
    for (int r = 0; r < nrows; ++r) {
        const int v = rows[r];
        for (int y = 0; y < 8; ++y) {
            const std::int32_t t = kCos.fixed[v][y];
            for (int x = 0; x < 8; ++x)
                out[y * 8 + x] += t * tmp[r][x];
        }
    }
    for (int i = 0; i < 64; ++i)
        out[i] >>= 15;
    return false;
}

inline std::uint8_t Clamp255(std::int32_t v) {
    return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
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

// Built twice, for AVX2 (eight 32-bit products at once) and for any x86-64,
// and chosen at load time; integer arithmetic, so both give the same pixels.
// The load-time choice runs before ThreadSanitizer's runtime is ready and
// crashes it, so that build keeps the one plain version.
#if defined(__x86_64__) && !defined(__SANITIZE_THREAD__)
#define QX47_TRANSFORM_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define QX47_TRANSFORM_CLONES
#endif

QX47_TRANSFORM_CLONES void InversePut(const std::int32_t coef[64], std::uint8_t rowMask, std::uint8_t* dst,
                                      int stride) {
    if (rowMask == 0) {
        for (int y = 0; y < 8; ++y)
            std::memset(dst + y * stride, 128, 8);
        return;
    }
    std::int32_t out[64];
    if (Inverse(coef, rowMask, out)) {
        std::uint8_t row[8];
        for (int x = 0; x < 8; ++x)
            row[x] = Clamp255(128 + out[x]);
        for (int y = 0; y < 8; ++y)
            std::memcpy(dst + y * stride, row, 8);
        return;
    }
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            dst[y * stride + x] = Clamp255(128 + out[y * 8 + x]);
}

QX47_TRANSFORM_CLONES void InverseAdd(const std::int32_t coef[64], std::uint8_t rowMask,
                                      const std::uint8_t* pred, int predStride, std::uint8_t* dst,
                                      int stride) {
    if (rowMask == 0) {
        if (pred != dst)
            for (int y = 0; y < 8; ++y)
                std::memcpy(dst + y * stride, pred + y * predStride, 8);
        return;
    }
    std::int32_t out[64];
    if (Inverse(coef, rowMask, out)) {
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                dst[y * stride + x] = Clamp255(pred[y * predStride + x] + out[x]);
        return;
    }
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            dst[y * stride + x] = Clamp255(pred[y * predStride + x] + out[y * 8 + x]);
}

} // namespace qx47
