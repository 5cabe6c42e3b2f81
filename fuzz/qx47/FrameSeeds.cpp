// Writes the seed inputs of the qx47 frame fuzz target into a folder: valid
// frames of a scene with smooth, moving and noisy parts (so that every kind
// of macroblock and block is there to damage), opaque, transparent, keyed and
// two-layer, whole and cut short, for each output; and XOR-damage inputs.
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "codecs/qx47/Encoder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The target's reading of its first byte.
int WidthOf(std::uint8_t b) {
    return 1 + (b & 0x3f);
}
int HeightOf(std::uint8_t b) {
    return 1 + ((b >> 2) & 0x3f);
}

std::vector<Bytes> Frames(int w, int h, bool transparent, bool keyed, bool refinement) {
    qx47::EncoderSettings s;
    s.width = w;
    s.height = h;
    s.quality = 70;
    s.keyInterval = 3;
    s.transparent = transparent;
    s.keyColor[0] = 255;
    s.keyColor[2] = 255;
    s.keyed = keyed;
    s.key = 4711;
    s.refinement = refinement;
    qx47::Encoder enc;
    std::vector<Bytes> frames;
    if (!enc.Configure(s))
        return frames;
    std::mt19937 rng(5);
    Bytes pic(static_cast<std::size_t>(w) * h * 3);
    for (int i = 0; i < 5; ++i) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                std::uint8_t* p = &pic[(static_cast<std::size_t>(y) * w + x) * 3];
                p[0] = static_cast<std::uint8_t>(x * 4);
                p[1] = static_cast<std::uint8_t>(y * 4);
                p[2] = 60;
                if (x > w / 2 && y > h / 2) // noise, new in every frame
                    p[0] = p[1] = p[2] = static_cast<std::uint8_t>(rng());
                if (x >= 2 * i && x < 2 * i + 8 && y < 8) { // a moving square of the key colour
                    p[0] = 255;
                    p[1] = 0;
                    p[2] = 255;
                }
            }
        frames.push_back(enc.EncodeFrame(pic.data(), w * 3));
    }
    return frames;
}

bool Write(const std::string& path, const Bytes& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: cadmo-fuzz-qx47-seeds DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    bool ok = true;
    int n = 0;
    const std::uint8_t sizes[] = {0xff, 0x9f, 0x05};
    for (std::uint8_t size : sizes)
        for (int kind = 0; kind < 4; ++kind) {
            const auto frames = Frames(WidthOf(size), HeightOf(size), kind == 1, kind == 2, kind == 3);
            // Outputs: 8, 16, 24, 32 bits; doubled; alternate lines; compositing.
            for (std::uint8_t mode : {0, 1, 2, 3, 6, 14, 18}) {
                for (bool cut : {false, true}) {
                    Bytes in = {size, mode, 0};
                    for (const Bytes& f : frames) {
                        const std::size_t len = cut ? f.size() / 2 : f.size();
                        in.push_back(static_cast<std::uint8_t>(len));
                        in.push_back(static_cast<std::uint8_t>(len >> 8));
                        in.insert(in.end(), f.begin(), f.begin() + static_cast<std::ptrdiff_t>(len));
                    }
                    ok = ok && Write(dir + "/frames-" + std::to_string(n++), in);
                }
            }
        }
    // Damage: the target's own frames with a few bits flipped here and there.
    std::mt19937 rng(9);
    for (int i = 0; i < 24; ++i) {
        Bytes in = {sizes[i % 3], static_cast<std::uint8_t>(rng() & 0x7f), 1};
        Bytes damage(400 + rng() % 2000, 0);
        for (int k = 0; k < 6; ++k)
            damage[rng() % damage.size()] = static_cast<std::uint8_t>(1u << (rng() % 8));
        in.insert(in.end(), damage.begin(), damage.end());
        ok = ok && Write(dir + "/damage-" + std::to_string(i), in);
    }
    if (!ok) {
        std::fprintf(stderr, "cadmo-fuzz-qx47-seeds: cannot write the seeds in %s\n", dir.c_str());
        return 1;
    }
    return 0;
}
