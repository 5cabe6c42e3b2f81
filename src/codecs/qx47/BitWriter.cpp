#include "codecs/qx47/BitWriter.h"

#include <bit>

namespace qx47 {

void BitWriter::PutBits(std::uint32_t value, int count) {
    if (count == 0)
        return;
    std::uint64_t v = count == 32 ? value : (value & ((1u << count) - 1));
    cache_ = (cache_ << count) | v;
    used_ += count;
    while (used_ >= 8) {
        used_ -= 8;
        bytes_.push_back(static_cast<std::uint8_t>(cache_ >> used_));
    }
    cache_ &= (std::uint64_t{1} << used_) - 1;
}

void BitWriter::PutUe(std::uint32_t value) {
    std::uint64_t v = std::uint64_t{value} + 1;
    int bits = 64 - std::countl_zero(v); // length of v in bits
    PutBits(0, bits - 1);
    if (bits > 32) {
        PutBits(static_cast<std::uint32_t>(v >> 32), bits - 32);
        PutBits(static_cast<std::uint32_t>(v), 32);
    } else {
        PutBits(static_cast<std::uint32_t>(v), bits);
    }
}

void BitWriter::PutSe(std::int32_t value) {
    std::int64_t v = value;
    PutUe(static_cast<std::uint32_t>(v > 0 ? 2 * v - 1 : -2 * v));
}

std::vector<std::uint8_t> BitWriter::Finish() {
    if (used_ > 0)
        PutBits(0, 8 - used_);
    std::vector<std::uint8_t> out;
    out.swap(bytes_);
    cache_ = 0;
    used_ = 0;
    return out;
}

} // namespace qx47
