// Writes the codec's bit stream: raw bit fields and Exp-Golomb codes, most
// significant bit first.
#pragma once

#include <cstdint>
#include <vector>

namespace qx47 {

class BitWriter {
public:
    void PutBits(std::uint32_t value, int count); // count 0..32
    void PutUe(std::uint32_t value);              // unsigned Exp-Golomb
    void PutSe(std::int32_t value);               // signed Exp-Golomb: 0, 1, -1, 2, -2, ...
    // Pads the last byte with zeros and hands the bytes over.
    std::vector<std::uint8_t> Finish();
    std::size_t BitCount() const { return bytes_.size() * 8 + static_cast<std::size_t>(used_); }

private:
    std::vector<std::uint8_t> bytes_;
    std::uint64_t cache_ = 0; // pending bits, right-aligned
    int used_ = 0;            // how many bits of cache_ are pending (< 8 between calls)
};

} // namespace qx47
