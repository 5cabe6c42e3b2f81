// Reads the codec's bit stream. Reading past the end yields zero bits and
// marks the reader as overrun, so a decoder can run a whole macroblock
// without a bounds test per symbol and check Overrun() afterwards. Codes
// longer than the format allows mark the reader as broken the same way.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qx47 {

class BitReader {
public:
    BitReader(const std::uint8_t* data, std::size_t size) : p_(data), end_(data + size) { Refill(); }

    // True when the stream ran out or held a malformed code.
    bool Overrun() const { return bad_ || consumedPastEnd_ > 0; }

    std::uint32_t GetBits(int count) { // count 1..32
        Refill();
        std::uint32_t v = static_cast<std::uint32_t>(cache_ >> (64 - count));
        Consume(count);
        return v;
    }

    bool GetBit() { return GetBits(1) != 0; }

    // The next `count` bits (1..32) without consuming them; zeros past the end.
    std::uint32_t Peek(int count) {
        Refill();
        return static_cast<std::uint32_t>(cache_ >> (64 - count));
    }
    void Skip(int count) { Consume(count); } // after a Peek of at least `count`

    // Exp-Golomb codes of values below 2^24; longer prefixes are rejected.
    std::uint32_t GetUe() {
        Refill();
        int zeros = cache_ == 0 ? 64 : std::countl_zero(cache_);
        if (zeros > 24) {
            bad_ = true;
            return 0;
        }
        int len = 2 * zeros + 1;
        std::uint32_t v = static_cast<std::uint32_t>(cache_ >> (64 - len));
        Consume(len);
        return v - 1;
    }

    std::int32_t GetSe() {
        std::uint32_t u = GetUe();
        std::int32_t half = static_cast<std::int32_t>((u + 1) >> 1);
        return (u & 1) ? half : -half;
    }

private:
    void Refill() {
        if (bits_ <= 56 && end_ - p_ >= 8) {
            // Fast path: as many whole bytes as fit, from one 8-byte load.
            std::uint64_t v;
            std::memcpy(&v, p_, 8);
            v = __builtin_bswap64(v);
            const int take = (64 - bits_) >> 3;
            const int total = bits_ + take * 8;
            const std::uint64_t keep = total >= 64 ? ~std::uint64_t{0} : ~(~std::uint64_t{0} >> total);
            cache_ |= (v >> bits_) & keep;
            p_ += take;
            bits_ += take * 8;
            return;
        }
        while (bits_ <= 56) {
            std::uint64_t byte = 0;
            if (p_ < end_)
                byte = *p_++;
            else
                pad_ += 8;
            cache_ |= byte << (56 - bits_);
            bits_ += 8;
        }
    }

    void Consume(int n) {
        cache_ = n == 64 ? 0 : cache_ << n;
        bits_ -= n;
        // Bits that came from beyond the end are the last pad_ of the cache.
        if (bits_ < pad_) {
            consumedPastEnd_ += pad_ - bits_;
            pad_ = bits_;
        }
    }

    const std::uint8_t* p_;
    const std::uint8_t* end_;
    std::uint64_t cache_ = 0; // left-aligned
    int bits_ = 0;            // valid bits in cache_
    int pad_ = 0;             // trailing bits of cache_ that lie past the end
    int consumedPastEnd_ = 0;
    bool bad_ = false;
};

} // namespace qx47
