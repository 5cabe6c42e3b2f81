// The 8x8 block transform shared by the encoder and the decoder.
//
// The inverse transform is integer-exact: the encoder reconstructs its
// reference picture with the very functions the decoder uses, so the two
// never drift apart. Coefficients are kept in natural (row-major) order;
// `rowMask` bit v is set when coefficient row v holds a non-zero value, which
// lets the inverse skip empty rows (most rows of most blocks).
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
    std::uint16_t intra[64]; // intra AC (index 0 unused: the intra DC step is kIntraDcStep)
    std::uint16_t inter[64]; // residual blocks (inter and refinement)
};
constexpr int kIntraDcStep = 8;
void ComputeQuantSteps(int q, QuantSteps& steps);

// Orthonormal forward DCT of 64 samples (row-major), natural-order output.
void ForwardDct(const float in[64], float out[64]);

// dst = clamp(base + IDCT(coef)); base 128 for intra blocks.
void InversePut(const std::int32_t coef[64], std::uint8_t rowMask, std::uint8_t* dst, int stride);
// dst = clamp(pred + IDCT(coef)); dst and pred may be the same block.
void InverseAdd(const std::int32_t coef[64], std::uint8_t rowMask, const std::uint8_t* pred, int predStride,
                std::uint8_t* dst, int stride);

} // namespace qx47
