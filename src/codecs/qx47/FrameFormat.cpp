#include "codecs/qx47/FrameFormat.h"

#include <cstring>

namespace qx47 {

namespace {

void Put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint16_t Get16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t Get32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
           (std::uint32_t{p[3]} << 24);
}

std::uint64_t SplitMix(std::uint64_t& s) {
    std::uint64_t z = (s += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

} // namespace

void WriteFrameHeader(const FrameHeader& h, std::uint8_t out[kFrameHeaderSize]) {
    out[0] = h.version;
    out[1] = h.flags;
    out[2] = h.baseQuant;
    out[3] = h.refineQuant;
    Put16(out + 4, h.width);
    Put16(out + 6, h.height);
    Put32(out + 8, h.keyCheck);
    Put32(out + 12, h.nonce);
    Put32(out + 16, h.maskBytes);
    Put32(out + 20, h.baseBytes);
    Put32(out + 24, h.refineBytes);
    out[28] = h.keyColor[0];
    out[29] = h.keyColor[1];
    out[30] = h.keyColor[2];
    out[31] = 0;
}

bool ReadFrameHeader(const std::uint8_t* data, std::size_t size, FrameHeader& h) {
    if (data == nullptr || size < kFrameHeaderSize)
        return false;
    h.version = data[0];
    h.flags = data[1];
    h.baseQuant = data[2];
    h.refineQuant = data[3];
    h.width = Get16(data + 4);
    h.height = Get16(data + 6);
    h.keyCheck = Get32(data + 8);
    h.nonce = Get32(data + 12);
    h.maskBytes = Get32(data + 16);
    h.baseBytes = Get32(data + 20);
    h.refineBytes = Get32(data + 24);
    std::memcpy(h.keyColor, data + 28, 3);
    if (h.version < kOldestBitstreamVersion || h.version > kBitstreamVersion || (h.flags & ~kKnownFlags) != 0)
        return false;
    if (h.width == 0 || h.height == 0 || h.width > kMaxDimension || h.height > kMaxDimension)
        return false;
    if (h.baseQuant == 0 || ((h.flags & kFlagRefinement) && h.refineQuant == 0))
        return false;
    if (((h.flags & kFlagKeyed) != 0) != (h.keyCheck != 0))
        return false;
    if (((h.flags & kFlagMask) != 0) != (h.maskBytes != 0))
        return false;
    if (!(h.flags & kFlagRefinement) && h.refineBytes != 0)
        return false;
    // 64-bit sum: three 32-bit sizes cannot wrap around.
    std::uint64_t total = std::uint64_t{kFrameHeaderSize} + h.maskBytes + h.baseBytes + h.refineBytes;
    return total <= size;
}

std::uint32_t KeyCheck(std::int32_t key) {
    std::uint64_t s = static_cast<std::uint32_t>(key) ^ 0x5137a0c5d2e1f00dull;
    std::uint32_t v = static_cast<std::uint32_t>(SplitMix(s));
    return v == 0 ? 1 : v;
}

void Scramble(std::uint8_t* data, std::size_t size, std::int32_t key, std::uint32_t nonce) {
    std::uint64_t s = (std::uint64_t{static_cast<std::uint32_t>(key)} << 32) | nonce;
    std::size_t i = 0;
    while (i + 8 <= size) {
        std::uint64_t k = SplitMix(s);
        for (int b = 0; b < 8; ++b)
            data[i + b] ^= static_cast<std::uint8_t>(k >> (8 * b));
        i += 8;
    }
    if (i < size) {
        std::uint64_t k = SplitMix(s);
        for (int b = 0; i < size; ++b, ++i)
            data[i] ^= static_cast<std::uint8_t>(k >> (8 * b));
    }
}

} // namespace qx47
