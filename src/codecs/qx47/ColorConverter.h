// Turns the decoder's YCbCr picture into DIB pixels: 8 bits (ordered dither to
// the current palette), RGB 5-5-5, 24 or 32 bits, at native or double size.
//
// Brightness, contrast and saturation are folded into the lookup tables the
// conversion uses anyway, so they cost nothing per pixel, whatever their
// values. Not thread-safe; the driver serialises access.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "pixel/DitherPalette.h"
#include "platform/win32/Types.h"

namespace qx47 {

class Decoder;

struct OutputTarget {
    std::uint8_t* topRow = nullptr; // first byte of the picture's top-left output pixel
    std::ptrdiff_t rowStep = 0;     // bytes from one output row to the next one down (negative for bottom-up)
    int bitCount = 24;              // 8, 16, 24 or 32
    int scale = 1;                  // 1 native, 2 doubled
    bool alternateLine = false;     // doubled: write only the first line of each pair
    int ditherX = 0;                // the top-left pixel's place on the frame's grid, so the
    int ditherY = 0;                // 8-bit dither pattern stays put when the picture moves
};

class ColorConverter {
public:
    ColorConverter();

    void SetControls(int brightness, int saturation, int contrast);
    // Replaces entries [10, 10 + count) of the palette (count at most 236)
    // from a DIB colour table that starts at entry 0; the twenty static
    // colours stay.
    void ReplacePalette(const RGBQUAD* table, int count);
    void ResetPalette() { palette_.Reset(); }
    const RGBQUAD* Palette() const { return palette_.Colors().data(); }

    // Converts picture rectangle (x, y, w, h) of the decoder's display picture;
    // `t` describes where the whole picture's top-left pixel lands, and only
    // the rectangle (scaled) is written.
    // With a transparent frame: `composite` writes opaque pixels only; else
    // transparent ones get the frame's key colour.
    // With `changedAt`, only macroblocks whose entry is above `since` are
    // written (the rest of the output is known to hold them already).
    void Convert(const Decoder& dec, int x, int y, int w, int h, bool composite, const OutputTarget& t,
                 const std::uint32_t* changedAt = nullptr, std::uint32_t since = 0);
    // Fills the rectangle with one colour (used for the locked picture).
    void FillGrey(int w, int h, const OutputTarget& t);

private:
    template <int Bpp, int Scale>
    void Run(const std::uint8_t* yRow, const std::uint8_t* cbRow, const std::uint8_t* crRow, int x0, int x1,
             std::uint8_t* out, int outX, int outY) const;
    void WriteRun(int bpp, int scale, const std::uint8_t* yRow, const std::uint8_t* cbRow,
                  const std::uint8_t* crRow, int x0, int x1, std::uint8_t* out, int outX, int outY) const;
    void FillRun(int bpp, int count, std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t* out,
                 int outX, int outY) const;
    void UpdateDither();

    int VectorRun(int bpp, const std::uint8_t* y0Row, const std::uint8_t* y1Row, const std::uint8_t* cbRow,
                  const std::uint8_t* crRow, int x0, int x1, std::uint8_t* out0, std::uint8_t* out1) const;

    int kY_ = 64, kOffset_ = 32, kR_ = 0, kGb_ = 0, kGr_ = 0, kB_ = 0;
    int yTab_[256];
    int rCr_[256], gCb_[256], gCr_[256], bCb_[256];
    std::uint8_t clip_[1024]; // clip_[v + 384] = clamp(v, 0, 255)
    DitherPalette palette_;
    int ditherRow_[4][4]; // offsets for the current palette's dither amplitude
    std::vector<std::pair<int, int>>
        spans_; // Convert's changed runs of one macroblock row, kept for its capacity
};

} // namespace qx47
