// Planar 8-bit YUV pictures (chroma halved across, and down too or not) to
// rows of blue, green, red bytes, with AVX2.
//
// The arithmetic is the fixed-point one of libswscale's unscaled vector
// path (the one it takes for these layouts to 24 bits), step for step:
// every value is a signed 16-bit word, products keep their high half
// (rounded down), sums saturate, and the result is clamped to 0..255. The
// coefficients come from the same integer derivation. So for a picture the
// scaler would convert on that path, the bytes are the same, and the codec
// driver can take this converter in its place while staying identical to
// the command line's bgr24 output; where the scaler takes another path (an
// odd number of rows, other layouts) the driver keeps using it.
//
// Only the row's own pixels are read and written: no byte past a plane's
// row or the output row is touched, whatever the width.
#pragma once

#include <cstddef>
#include <cstdint>

struct YuvPicture {
    const std::uint8_t* planes[3] = {}; // Y, U (Cb), V (Cr)
    std::ptrdiff_t strides[3] = {};
    int width = 0;
    int height = 0;
    // 1 when a chroma row serves two picture rows (4:2:0), 0 when one (4:2:2).
    int chromaRowShift = 1;
};

class YuvToBgr {
public:
    // `matrix` is the scaler's inverse table for the picture's colour space
    // (what the driver passes to it as well): the weights of red from V,
    // blue from U, green from U and green from V, in units of 1/65536
    // (green's are subtracted). `fullRange` says the luma spans 0..255
    // rather than 16..235.
    YuvToBgr(const int matrix[4], bool fullRange);

    // Whether the processor has AVX2, unless the environment variable
    // CADMO_CPU is "sse2" or "ssse3". Read once. Without it the driver keeps
    // the scaler's own conversion, which is then the faster one anyway.
    static bool Available();

    // Writes the picture's rows from the top: row i at `top + i * stride`
    // (a negative stride writes a bottom-up frame). Uses the vector steps
    // only when Available(); the plain code gives the same bytes.
    void Convert(const YuvPicture& picture, std::uint8_t* top, std::ptrdiff_t stride) const;

    // The 16-bit factors of the fixed-point arithmetic: each applies to a
    // value scaled by eight and keeps the high half of the product.
    struct Gains {
        std::int16_t y = 0;       // luma gain
        std::int16_t yOffset = 0; // luma black level, in eighths
        std::int16_t vr = 0;      // red from V
        std::int16_t ub = 0;      // blue from U
        std::int16_t ug = 0;      // green from U (negative)
        std::int16_t vg = 0;      // green from V (negative)
    };

private:
    Gains gains_;
};
