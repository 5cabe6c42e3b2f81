// Writes the seed inputs of the bitmap and palette fuzz targets into two
// folders: small 256-colour bitmaps of odd and even widths with short colour
// tables, and palette files of 0, 1, 16 and 256 entries, one with a chunk
// after its data. From an empty corpus the bitmap target never gets past the
// file header's checks.
#include "support/RiffBuilder.h"
#include "support/TestBmp.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace cadmo::test;

namespace {

bool WriteBitmaps(const std::string& dir) {
    struct Shape {
        LONG width, height;
        int colors;
    };
    const Shape shapes[] = {{1, 1, 1}, {5, 3, 16}, {8, 2, 256}, {37, 23, 200}};
    bool ok = true;
    int n = 0;
    for (const Shape& s : shapes) {
        BmpFile bmp(s.width, s.height, s.colors);
        for (std::size_t i = 0; i < bmp.pixels.size(); ++i)
            bmp.pixels[i] = static_cast<BYTE>((i * 7) % s.colors);
        ok = ok && bmp.Save(dir + "/bitmap" + std::to_string(n++) + ".bmp");
    }
    return ok;
}

bool WritePalettes(const std::string& dir) {
    bool ok = true;
    for (const WORD count : {0, 1, 16, 256}) {
        for (const bool trailing : {false, true}) {
            std::vector<BYTE> data{0x00, 0x03, static_cast<BYTE>(count), static_cast<BYTE>(count >> 8)};
            for (WORD i = 0; i < count; ++i)
                data.insert(data.end(),
                            {static_cast<BYTE>(i), static_cast<BYTE>(255 - i), static_cast<BYTE>(i / 2), 0});
            RiffBuilder riff;
            riff.BeginRiff(mmioFOURCC('P', 'A', 'L', ' '));
            riff.Chunk(mmioFOURCC('d', 'a', 't', 'a'), data.data(), data.size());
            if (trailing) {
                riff.BeginList(mmioFOURCC('I', 'N', 'F', 'O'));
                riff.Chunk(mmioFOURCC('I', 'N', 'A', 'M'), "grey", 5);
                riff.End();
            }
            riff.End();
            const std::string name = "palette" + std::to_string(count) + (trailing ? "info" : "") + ".pal";
            ok = ok && riff.Save(dir + "/" + name);
        }
    }
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: cadmo-fuzz-image-seeds BITMAP-DIR PALETTE-DIR\n");
        return 2;
    }
    if (!WriteBitmaps(argv[1]) || !WritePalettes(argv[2])) {
        std::fprintf(stderr, "cadmo-fuzz-image-seeds: cannot write the seeds\n");
        return 1;
    }
    return 0;
}
