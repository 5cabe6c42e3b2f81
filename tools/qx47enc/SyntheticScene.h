// Built-in test pictures for the qx47 encoder, the demo movies and the
// benchmark: a slowly panning landscape with drifting clouds and a bird (the
// "natural-looking" scene), and a sprite moving over a key-coloured field
// (for transparency). Frames are 24-bit, rows top-down, B, G, R.
#pragma once

#include <cstdint>
#include <vector>

namespace qx47 {

class SyntheticScene {
public:
    enum class Kind { Landscape, Sprite };

    SyntheticScene(Kind kind, int width, int height);
    // Renders frame `index` into `bgr` (width x height x 3 bytes).
    void Render(int index, std::uint8_t* bgr) const;
    int Width() const { return width_; }
    int Height() const { return height_; }

    // The field colour of the sprite scene (R, G, B).
    static constexpr std::uint8_t kFieldColor[3] = {255, 0, 255};

    // Mono 16-bit PCM: a soft chord that changes every two seconds.
    static std::vector<std::int16_t> Soundtrack(int sampleRate, double seconds);

private:
    void RenderLandscape(int index, std::uint8_t* bgr) const;
    void RenderSprite(int index, std::uint8_t* bgr) const;

    Kind kind_;
    int width_, height_;
    int layerWidth_ = 0;
    // Pre-rendered layers, RGB, rows top-down; clouds carry alpha.
    std::vector<std::uint8_t> mountains_, hills_, clouds_;
    std::vector<std::uint8_t> mountainAlpha_, hillAlpha_, cloudAlpha_;
};

} // namespace qx47
