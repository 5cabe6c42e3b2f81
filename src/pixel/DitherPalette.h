// A 256-colour palette with fast nearest-colour lookup, for 8-bit output.
//
// The default palette is the same for every codec: the twenty fixed system
// colours in entries 0..9 and 246..255, a 6 x 6 x 6 colour cube in 10..225
// and a 20-step grey ramp in 226..245. A palette given by the caller
// replaces it entirely.
//
// Lookup goes through a 32768-entry table indexed by the colour's top five
// bits per channel, each entry holding the nearest palette colour (squared
// RGB distance) to the centre of that cell; Nearest() searches exactly. The
// table is built when the colours are set (about a millisecond), never per
// frame; the default palette's once for as long as the library holding this
// code stays loaded. Not thread-safe: each codec instance owns its palette.
#pragma once

#include "platform/win32/Types.h"

#include <array>
#include <cstdint>
#include <vector>

class DitherPalette {
public:
    DitherPalette(); // the default palette

    // The twenty system colours and the cube and ramp described above.
    static const std::array<RGBQUAD, 256>& DefaultColors();

    // Replaces the colours; entries beyond count keep the default palette's.
    // count is clamped to 0..256. The table is rebuilt only when the colours
    // change.
    void SetColors(const RGBQUAD* colors, int count);
    void Reset(); // back to the default palette
    bool IsDefault() const { return isDefault_; }

    const std::array<RGBQUAD, 256>& Colors() const { return colors_; }

    // Exact nearest entry (lowest index wins a tie).
    BYTE Nearest(int red, int green, int blue) const;

    // Table lookup; components are clamped to 0..255.
    BYTE Lookup(int red, int green, int blue) const {
        red = red < 0 ? 0 : (red > 255 ? 255 : red);
        green = green < 0 ? 0 : (green > 255 ? 255 : green);
        blue = blue < 0 ? 0 : (blue > 255 ? 255 : blue);
        return table_[((red >> 3) << 10) | ((green >> 3) << 5) | (blue >> 3)];
    }

    // Amplitude of the ordered dither, in colour levels: about half the
    // typical distance between neighbouring palette colours.
    int DitherAmplitude() const { return ditherAmplitude_; }

private:
    void Rebuild();

    std::array<RGBQUAD, 256> colors_{};
    std::vector<BYTE> table_;
    int ditherAmplitude_ = 0;
    bool isDefault_ = true;
};
