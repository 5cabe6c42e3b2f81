// Writes decoded pictures into output frames: the one place where codecs
// convert colours.
//
// Output at 24 and 32 bits copies the colours; 16 bits keeps the top five
// bits of each channel (RGB 5-5-5, no rounding, so it equals the 24-bit
// picture truncated). A palettised picture at 8 bits maps each of its colours
// to the nearest colour of the output palette, undithered: a palettised movie
// shown on its own palette keeps its indices. Any other picture at 8 bits
// dithers with a 4 x 4 ordered matrix anchored
// at the frame's own pixel grid: to the default palette's colour cube
// channel by channel, to any other palette through DitherPalette::Lookup.
// Ordered (not error-diffusing) dither keeps a still area of a moving
// picture still, and is deterministic: the same frame always gives the same
// indices.
//
// Rows of RGB 24, 32 and 5-5-5 pictures are expanded with SSSE3 where the
// processor has it (unless CADMO_CPU=sse2), giving the same bytes as the
// plain code.
//
// A converter keeps one row of scratch memory, grown on demand and then
// reused, so per-frame conversion allocates nothing once the widest row has
// been seen. One converter serves one thread at a time.
#pragma once

#include "pixel/DitherPalette.h"
#include "pixel/PixelFormat.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

class FrameConverter {
public:
    // True when the frame can be written (CanWriteFrame) and a picture of
    // width x height placed at (x, y) lies inside it.
    static bool FitsInFrame(const FrameTarget& target, int width, int height);
    // Where the top row of a picture of `height` rows placed at (x, y) of a
    // frame that FitsInFrame accepted lies in memory, and in `step` the
    // distance to each row below it: the rows run downwards in a top-down
    // frame and upwards, from the last of the rectangle, in a bottom-up one.
    static std::uint8_t* PictureTop(const FrameTarget& target, int height, std::ptrdiff_t* step);

    // One row of blue, green, red bytes as opaque 0xffRRGGBB words (the
    // screen's 32-bit layout), with SSSE3 where allowed.
    static void Bgr24ToOpaque32(const std::uint8_t* src, int width, std::uint32_t* out);

    // Writes `picture` into `target`. The palette is used only for 8-bit
    // output (null means the default palette). Returns false, writing
    // nothing, when the frame cannot be written or the picture does not fit.
    bool Convert(const PixelPicture& picture, const FrameTarget& target, const DitherPalette* palette);

private:
    // The output index of each source index, for `colors` on `palette`;
    // rebuilt only when either set of colours changes.
    const std::uint8_t* IndexMap(const RGBQUAD* colors, const DitherPalette& palette);

    std::vector<std::uint8_t> row_;
    bool mapValid_ = false;
    std::array<RGBQUAD, 256> mapSource_{};
    std::array<RGBQUAD, 256> mapPalette_{};
    std::array<std::uint8_t, 256> map_{};
    // The colours of the Pal8 picture being converted, as 0x00RRGGBB words.
    std::array<std::uint32_t, 256> colorWords_{};
};
