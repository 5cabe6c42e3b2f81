#include "pixel/DitherPalette.h"

#include "pixel/DibRules.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kTableSize = 32 * 32 * 32;

RGBQUAD Quad(int red, int green, int blue) {
    return RGBQUAD{static_cast<BYTE>(blue), static_cast<BYTE>(green), static_cast<BYTE>(red), 0};
}

std::array<RGBQUAD, 256> MakeDefaultColors() {
    std::array<RGBQUAD, 256> c{};
    // The twenty colours every 8-bit display keeps for itself; putting them
    // at the ends means a palette realised on such a display needs no remap.
    static const BYTE low[10][3] = {{0, 0, 0},       {128, 0, 0},    {0, 128, 0},   {128, 128, 0},
                                    {0, 0, 128},     {128, 0, 128},  {0, 128, 128}, {192, 192, 192},
                                    {192, 220, 192}, {166, 202, 240}};
    static const BYTE high[10][3] = {{255, 251, 240}, {160, 160, 164}, {128, 128, 128}, {255, 0, 0},
                                     {0, 255, 0},     {255, 255, 0},   {0, 0, 255},     {255, 0, 255},
                                     {0, 255, 255},   {255, 255, 255}};
    for (int i = 0; i < 10; ++i) {
        c[i] = Quad(low[i][0], low[i][1], low[i][2]);
        c[246 + i] = Quad(high[i][0], high[i][1], high[i][2]);
    }
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                c[10 + r * 36 + g * 6 + b] = Quad(r * 51, g * 51, b * 51);
    // Greys between the cube's own six, so that dark and light neutral tones
    // (common in film) dither with less noise.
    for (int i = 0; i < 20; ++i) {
        int v = (i + 1) * 255 / 21;
        c[226 + i] = Quad(v, v, v);
    }
    return c;
}

// The nearest-colour table of `colors` and the dither amplitude it calls
// for.
void Build(const std::array<RGBQUAD, 256>& colors, std::vector<BYTE>& table, int& amplitude) {
    table.resize(kTableSize);
    // Distinct colours only: a palette often repeats entries, and the search
    // below is the whole cost of a rebuild.
    int order[256];
    int distinct = 0;
    for (int i = 0; i < 256; ++i) {
        bool seen = false;
        for (int j = 0; j < distinct && !seen; ++j)
            seen = std::memcmp(&colors[order[j]], &colors[i], 3) == 0;
        if (!seen)
            order[distinct++] = i;
    }
    // The cells are searched in blocks of 4 x 4 x 4. A colour can be the
    // nearest to some cell of a block only if its least distance to the
    // block's cell centres is no more than the smallest greatest distance of
    // any colour; the others are left out of the block's search. The
    // candidates keep their order, so ties still go to the lowest index and
    // the table is what a search over every colour gives.
    double distanceSum = 0;
    int candidates[256];
    auto span = [](int value, int lo, int hi, int& least, int& most) {
        const int below = value < lo ? lo - value : 0, above = value > hi ? value - hi : 0;
        least = (below + above) * (below + above);
        const int far = std::max(std::abs(value - lo), std::abs(value - hi));
        most = far * far;
    };
    for (int block = 0; block < kTableSize / 64; ++block) {
        const int r0 = (block >> 6) * 4, g0 = ((block >> 3) & 7) * 4, b0 = (block & 7) * 4;
        const int rLo = r0 * 8 + 4, gLo = g0 * 8 + 4, bLo = b0 * 8 + 4; // first and last cell centres
        int leastOf[256];
        int bound = 0x7fffffff;
        for (int k = 0; k < distinct; ++k) {
            const RGBQUAD& q = colors[order[k]];
            int lr, mr, lg, mg, lb, mb;
            span(q.rgbRed, rLo, rLo + 24, lr, mr);
            span(q.rgbGreen, gLo, gLo + 24, lg, mg);
            span(q.rgbBlue, bLo, bLo + 24, lb, mb);
            leastOf[k] = lr + lg + lb;
            bound = std::min(bound, mr + mg + mb);
        }
        int count = 0;
        for (int k = 0; k < distinct; ++k)
            if (leastOf[k] <= bound)
                candidates[count++] = order[k];
        for (int cell = 0; cell < 64; ++cell) {
            const int rc = r0 + (cell >> 4), gc = g0 + ((cell >> 2) & 3), bc = b0 + (cell & 3);
            const int red = rc * 8 + 4, green = gc * 8 + 4, blue = bc * 8 + 4;
            int best = candidates[0];
            int bestDistance = 0x7fffffff;
            for (int k = 0; k < count; ++k) {
                const RGBQUAD& q = colors[candidates[k]];
                const int dr = red - q.rgbRed, dg = green - q.rgbGreen, db = blue - q.rgbBlue;
                const int d = dr * dr + dg * dg + db * db;
                if (d < bestDistance) {
                    bestDistance = d;
                    best = candidates[k];
                }
            }
            table[(rc << 10) | (gc << 5) | bc] = static_cast<BYTE>(best);
            distanceSum += std::sqrt(static_cast<double>(bestDistance));
        }
    }
    // The mean distance to the nearest colour is about half the spacing of
    // the palette; a dither spread of one spacing hides the steps without
    // adding noise beyond them. Capped so that a sparse palette (a few
    // greys, say) does not turn every colour into noise.
    double spacing = 2.0 * distanceSum / kTableSize;
    const int rounded = static_cast<int>(spacing + 0.5);
    amplitude = rounded > 64 ? 64 : rounded;
}

// Every codec instance starts with the default palette; its table is built
// once per loaded library and copied (32 KB) rather than searched again on
// each open.
struct BuiltPalette {
    std::vector<BYTE> table;
    int amplitude = 0;
};

const BuiltPalette& DefaultBuilt() {
    static const BuiltPalette built = [] {
        BuiltPalette b;
        Build(DitherPalette::DefaultColors(), b.table, b.amplitude);
        return b;
    }();
    return built;
}

} // namespace

DitherPalette::DitherPalette() {
    Reset();
}

const std::array<RGBQUAD, 256>& DitherPalette::DefaultColors() {
    static const std::array<RGBQUAD, 256> colors = MakeDefaultColors();
    return colors;
}

void DitherPalette::Reset() {
    if (isDefault_ && !table_.empty())
        return;
    colors_ = DefaultColors();
    isDefault_ = true;
    Rebuild();
}

void DitherPalette::SetColors(const RGBQUAD* colors, int count) {
    if (count < 0 || colors == nullptr)
        count = 0;
    if (count > 256)
        count = 256;
    std::array<RGBQUAD, 256> next = DefaultColors();
    for (int i = 0; i < count; ++i) {
        next[i] = colors[i];
        next[i].rgbReserved = 0;
    }
    bool same = !table_.empty() && std::memcmp(next.data(), colors_.data(), sizeof next) == 0;
    colors_ = next;
    isDefault_ = std::memcmp(next.data(), DefaultColors().data(), sizeof next) == 0;
    if (!same)
        Rebuild();
}

BYTE DitherPalette::Nearest(int red, int green, int blue) const {
    return static_cast<BYTE>(NearestColor(colors_.data(), 256, red, green, blue));
}

void DitherPalette::Rebuild() {
    if (isDefault_) {
        table_ = DefaultBuilt().table;
        ditherAmplitude_ = DefaultBuilt().amplitude;
        return;
    }
    Build(colors_, table_, ditherAmplitude_);
}
