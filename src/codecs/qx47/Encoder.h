// The qx47 frame encoder. Pure C++: RGB frames in, qx47 frames out.
//
// Quality 1..100 picks the base quantiser; with refinement on, the base layer
// is coded coarser and a refinement layer brings the shown picture back to
// the quality asked for. Every `keyInterval`-th frame is a key frame.
// Transparency: pixels within `keyTolerance` of the key colour (per channel)
// are transparent. An access key scrambles every frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "codecs/qx47/Picture.h"

namespace qx47 {

struct EncoderSettings {
    int width = 0;
    int height = 0;
    int quality = 75;     // 1..100
    int keyInterval = 60; // frames between key frames; 1 = every frame
    bool refinement = true;
    bool keyed = false;
    std::int32_t key = 0;
    bool transparent = false;
    std::uint8_t keyColor[3] = {0, 0, 0}; // R, G, B
    int keyTolerance = 12;
};

class Encoder {
public:
    // False when the settings cannot be encoded (size out of range).
    bool Configure(const EncoderSettings& settings);
    const EncoderSettings& Settings() const { return settings_; }

    // One frame of 24-bit pixels, rows top-down, each pixel B, G, R (the order
    // of a DIB), `stride` bytes from row to row. Returns the coded frame.
    std::vector<std::uint8_t> EncodeFrame(const std::uint8_t* bgr, std::ptrdiff_t stride,
                                          bool forceKey = false);
    bool LastWasKey() const { return lastKey_; }
    // The picture a decoder holds after the last frame's base layer.
    const Picture& Reconstruction() const { return ref_[cur_]; }
    // How many blocks of the last frame were sent as samples.
    int SampleBlocks() const { return sampleBlocks_; }

    static int BaseQuantFor(int quality, bool refinement);
    static int RefineQuantFor(int quality);

private:
    void LoadSource(const std::uint8_t* bgr, std::ptrdiff_t stride);
    std::vector<std::uint8_t> EncodeMask();

    EncoderSettings settings_;
    int mbCols_ = 0, mbRows_ = 0;
    Picture source_;
    Picture ref_[2];
    int cur_ = 0;
    std::vector<std::uint8_t> cover_; // kCover* per macroblock
    std::vector<std::uint8_t> mask_;  // 1 opaque, per padded luma pixel
    std::vector<std::int16_t> mvx_, mvy_;
    std::uint32_t frameNumber_ = 0;
    bool lastKey_ = false;
    int sampleBlocks_ = 0;
};

} // namespace qx47
