// Feeds hostile frames to the qx47 decoder and writes every picture it
// accepts into an output buffer of exactly the right size, so that the
// sanitizers see any read or write outside a buffer.
//
// Input: byte 0 picks the picture size, byte 1 the output (bit depth, double
// size, alternate lines, compositing), byte 2 how the rest is used: either as
// raw frames (each preceded by a 16-bit length), or as XOR damage applied to
// valid frames our encoder makes (which reaches much deeper into the layers).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "codecs/qx47/ColorConverter.h"
#include "codecs/qx47/Decoder.h"
#include "codecs/qx47/Encoder.h"

namespace {

using namespace qx47;

void Show(Decoder& dec, ColorConverter& cc, int mode) {
    static const int kBits[4] = {8, 16, 24, 32};
    const int bits = kBits[mode & 3];
    const int scale = (mode & 4) ? 2 : 1;
    const int w = dec.Width() * scale, h = dec.Height() * scale;
    const std::size_t stride = ((static_cast<std::size_t>(w) * bits + 31) / 32) * 4;
    std::vector<std::uint8_t> out(stride * h);
    OutputTarget t;
    t.bitCount = bits;
    t.scale = scale;
    t.alternateLine = (mode & 8) != 0;
    t.topRow = out.data() + stride * (h - 1); // bottom-up, as the player's frames
    t.rowStep = -static_cast<std::ptrdiff_t>(stride);
    const bool composite = (mode & 16) != 0;
    if (composite && dec.Transparent()) {
        int x, y, bw, bh;
        dec.OpaqueBounds(x, y, bw, bh);
        cc.Convert(dec, x, y, bw, bh, true, t);
    } else {
        cc.Convert(dec, 0, 0, dec.Width(), dec.Height(), false, t);
    }
}

void Decode(Decoder& dec, ColorConverter& cc, const std::uint8_t* f, std::size_t n, int mode) {
    Decoder::Status st = dec.DecodeBase(f, n, true, 4711);
    if (st == Decoder::Status::Ok)
        st = dec.DecodeRefinement();
    if (st == Decoder::Status::Ok || st == Decoder::Status::Locked)
        Show(dec, cc, mode);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3)
        return 0;
    const int w = 1 + (data[0] & 0x3f), h = 1 + ((data[0] >> 2) & 0x3f);
    const int mode = data[1];
    const bool damage = data[2] & 1;
    data += 3;
    size -= 3;
    Decoder dec;
    ColorConverter cc;
    if (!dec.Configure(w, h))
        return 0;
    if (!damage) {
        while (size >= 2) {
            std::size_t n = data[0] | (data[1] << 8);
            data += 2;
            size -= 2;
            n = n < size ? n : size;
            Decode(dec, cc, data, n, mode);
            data += n;
            size -= n;
        }
        return 0;
    }
    // Valid frames of a simple moving pattern, with the input XORed in.
    EncoderSettings s;
    s.width = w;
    s.height = h;
    s.keyInterval = 3;
    s.transparent = (mode & 32) != 0;
    s.keyed = (mode & 64) != 0;
    s.key = 4711;
    Encoder enc;
    enc.Configure(s);
    std::vector<std::uint8_t> pic(static_cast<std::size_t>(w) * h * 3);
    std::size_t used = 0;
    for (int i = 0; i < 4; ++i) {
        for (std::size_t p = 0; p < pic.size(); ++p)
            pic[p] = static_cast<std::uint8_t>((p * 7 + i * 13) ^ (p / (w * 3) * 5));
        std::vector<std::uint8_t> f = enc.EncodeFrame(pic.data(), w * 3);
        for (std::size_t k = 0; k < f.size() && used < size; ++k)
            f[k] ^= data[used++];
        Decode(dec, cc, f.data(), f.size(), mode);
    }
    return 0;
}
