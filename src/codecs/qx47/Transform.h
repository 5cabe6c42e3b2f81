// The 8x8 block transform shared by the encoder and the decoder.
//
// The inverse transform is integer-exact: the encoder reconstructs its
// reference picture with the very functions the decoder uses, so the two
// never drift apart. Coefficients are kept in natural (row-major) order;
// `rowMask` bit v is set when coefficient row v holds a non-zero value, which
// lets the inverse pass over empty blocks and treat DC-only ones cheaply.
#pragma once

#include <cstdint>

namespace qx47 {

// Zigzag scan: kZigzag[i] is the natural index of the i-th coefficient sent.
extern const std::uint8_t kZigzag[64];

// Largest dequantised magnitude a valid stream produces (an orthonormal 8x8
// transform of values within +-255 stays within 8 x 255); the decoder clamps
// to it, which also keeps the integer inverse free of overflow.
constexpr std::int32_t kMaxCoefficient = 2047;

// Quantiser steps, natural order, for a frame quantiser q (1..255, in
// quarter steps: q 4 is a step of 1 at the lowest frequencies).
struct QuantSteps {
    // [0, 64) luma, [64, 128) chroma. Chroma is quantised finer: an error in
    // Cb or Cr reaches four pixels and, in red or blue, 1.4 to 1.8 times over.
    std::uint16_t intra[128]; // intra AC (entries 0 and 64: the intra DC step kIntraDcStep)
    std::uint16_t inter[128]; // residual blocks (inter and refinement)
};
// The steps of block k (0..3 luma, 4 and 5 chroma) of a macroblock.
inline const std::uint16_t* BlockSteps(const std::uint16_t* steps, int k) {
    return k >= 4 ? steps + 64 : steps;
}
constexpr int kIntraDcStep = 8;
void ComputeQuantSteps(int q, QuantSteps& steps);

// Orthonormal forward DCT of 64 samples (row-major), natural-order output.
void ForwardDct(const float in[64], float out[64]);

// dst = clamp(base + IDCT(coef)); base 128 for intra blocks.
void InversePut(const std::int32_t coef[64], std::uint8_t rowMask, std::uint8_t* dst, int stride);
// dst = clamp(pred + IDCT(coef)); dst and pred may be the same block.
void InverseAdd(const std::int32_t coef[64], std::uint8_t rowMask, const std::uint8_t* pred, int predStride,
                std::uint8_t* dst, int stride);
// The portable version of the same arithmetic, without shortcuts (pred null:
// a base of 128). The vector version must match it bit for bit, for any
// coefficients, so that pictures never depend on the machine.
void InverseReference(const std::int32_t coef[64], const std::uint8_t* pred, int predStride,
                      std::uint8_t* dst, int stride);

} // namespace qx47
