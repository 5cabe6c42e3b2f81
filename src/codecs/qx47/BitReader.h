// Reads the codec's bit stream. Reading past the end yields zero bits and
// marks the reader as overrun, so a decoder can run a whole block or
// macroblock without a bounds test per symbol and check Overrun() afterwards.
// Codes longer than the format allows mark the reader as broken the same way.
//
// The cache is refilled with one unaligned 8-byte load and no branch on the
// bit count, so that a hot loop can refill once and then take several short
// codes with PeekFilled and SkipFilled. Loads never touch memory outside the
// stream: its last bytes are read from a zero-padded copy.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qx47 {

class BitReader {
public:
    // At least this many bits can be peeked and skipped after a Refill().
    static constexpr int kRefillBits = 56;

    BitReader(const std::uint8_t* data, std::size_t size)
        : data_(data), tailStart_(size > kTailData ? size - kTailData : 0),
          sizeBits_(std::uint64_t{size} * 8) {
        if (size > 0) // memcpy from a null pointer is undefined even for no bytes
            std::memcpy(tail_, data + tailStart_, size - tailStart_);
        Refill();
    }

    // True when the stream ran out or held a malformed code.
    bool Overrun() const { return bad_ || Consumed() > sizeBits_; }

    // Tops the cache up to at least kRefillBits bits. Bits already in the
    // cache are the stream's own, so the load may overlap them.
    void Refill() {
        std::uint64_t v;
        std::memcpy(&v, Source(), 8);
        cache_ |= __builtin_bswap64(v) >> bits_;
        next_ += (63 - bits_) >> 3;
        bits_ |= 56;
    }

    // Refill() without the end test, for hot loops: allowed while at most
    // UncheckedBits() more bits are consumed. (A refill loads the 8 bytes
    // from next_, and next_ is at most 63 bits past what was consumed.)
    std::uint64_t UncheckedBits() const {
        const std::uint64_t limit = tailStart_ * 8, used = Consumed() + 64;
        return limit > used ? limit - used : 0;
    }
    void RefillUnchecked() {
        std::uint64_t v;
        std::memcpy(&v, data_ + next_, 8);
        cache_ |= __builtin_bswap64(v) >> bits_;
        next_ += (63 - bits_) >> 3;
        bits_ |= 56;
    }

    // The next `count` bits (1..32) without consuming them; zeros past the end.
    // PeekFilled and SkipFilled leave the refill to the caller: together they
    // may take at most kRefillBits bits after a Refill().
    std::uint32_t PeekFilled(int count) const { return static_cast<std::uint32_t>(cache_ >> (64 - count)); }
    // The whole cache, next bit leftmost: up to kRefillBits bits after a
    // Refill() for a caller that takes several fields at once.
    std::uint64_t PeekCache() const { return cache_; }
    void SkipFilled(int count) {
        cache_ <<= count;
        bits_ -= static_cast<std::uint64_t>(count);
    }

    std::uint32_t Peek(int count) {
        Refill();
        return PeekFilled(count);
    }
    void Skip(int count) { SkipFilled(count); } // after a Peek of at least `count`

    std::uint32_t GetBits(int count) { // count 1..32
        Refill();
        const std::uint32_t v = PeekFilled(count);
        SkipFilled(count);
        return v;
    }

    bool GetBit() { return GetBits(1) != 0; }

    // Exp-Golomb codes of values below 2^24; longer prefixes are rejected.
    std::uint32_t GetUe() {
        Refill();
        const int zeros = std::countl_zero(cache_);
        if (zeros > 24) {
            bad_ = true;
            return 0;
        }
        const int len = 2 * zeros + 1;
        const std::uint32_t v = PeekFilled(len);
        SkipFilled(len);
        return v - 1;
    }

    std::int32_t GetSe() {
        std::uint32_t u = GetUe();
        std::int32_t half = static_cast<std::int32_t>((u + 1) >> 1);
        return (u & 1) ? half : -half;
    }

private:
    static constexpr std::size_t kTailData = 8;

    // Where the 8 bytes from stream offset next_ can be loaded: the stream
    // itself while they lie inside it, else the tail copy, whose bytes past
    // the end are zero (and every offset beyond it reads its zeros).
    const std::uint8_t* Source() const {
        if (next_ < tailStart_)
            return data_ + next_;
        return tail_ + std::min<std::uint64_t>(next_ - tailStart_, kTailData);
    }

    std::uint64_t Consumed() const { return next_ * 8 - bits_; }

    const std::uint8_t* data_;
    std::uint64_t tailStart_; // stream offset of tail_[0]
    std::uint64_t sizeBits_;  // stream length in bits
    std::uint64_t next_ = 0;  // stream offset of the first byte not yet in the cache
    std::uint64_t cache_ = 0; // left-aligned; bits past bits_ are stream bits too, or zero
    std::uint64_t bits_ = 0;  // valid bits in cache_
    bool bad_ = false;
    std::uint8_t tail_[2 * kTailData] = {};
};

} // namespace qx47
