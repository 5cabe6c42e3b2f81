// The chunk index of one stream: where each chunk lies, its size, whether it
// is a key frame, and (for streams with a fixed sample size) the first sample
// it holds. Built once while a file is opened and read-only afterwards, so any
// number of threads may query it.
//
// Memory: 12 bytes per chunk (8-byte offset, 4-byte size with the key flag in
// bit 31), plus 4 bytes for the running sample count of fixed-size streams.
#pragma once

#include "platform/win32/Types.h"

#include <cstdint>
#include <vector>

class AviStreamIndex {
public:
    // sampleSize 0: one sample per chunk; otherwise a chunk holds size /
    // sampleSize samples.
    explicit AviStreamIndex(DWORD sampleSize = 0) : m_sampleSize(sampleSize) {}

    void Reserve(std::size_t chunks);
    // Appends a chunk; size must be below 2^31. Returns false once the stream
    // holds 2^31 - 1 samples (further chunks could not be numbered).
    bool Add(std::uint64_t offset, DWORD size, bool key);
    void SetKey(std::size_t chunk, bool key);
    void Clear();
    // Drops spare capacity once the index is complete.
    void ShrinkToFit();

    DWORD SampleSize() const { return m_sampleSize; }
    std::size_t Chunks() const { return m_offsets.size(); }
    // Samples in the stream (a LONG count).
    LONG Samples() const { return m_samples; }
    std::uint64_t Offset(std::size_t chunk) const { return m_offsets[chunk]; }
    DWORD Size(std::size_t chunk) const { return m_sizes[chunk] & kSizeMask; }
    bool Key(std::size_t chunk) const { return (m_sizes[chunk] & kKeyBit) != 0; }
    LONG FirstSample(std::size_t chunk) const {
        return m_sampleSize ? static_cast<LONG>(m_firstSamples[chunk]) : static_cast<LONG>(chunk);
    }
    LONG ChunkSamples(std::size_t chunk) const {
        return m_sampleSize ? static_cast<LONG>(Size(chunk) / m_sampleSize) : 1;
    }
    // The chunk holding stream-relative sample n (0 <= n < Samples()).
    std::size_t ChunkOfSample(LONG n) const;
    bool AllKey() const { return m_keys == m_offsets.size(); }

    // Nearest chunk at or before / at or after `chunk` that is a key frame
    // (nonEmpty: that has data); -1 when there is none.
    std::int64_t PrevMatch(std::size_t chunk, bool key, bool nonEmpty) const;
    std::int64_t NextMatch(std::size_t chunk, bool key, bool nonEmpty) const;

    std::uint64_t MemoryBytes() const;

private:
    static constexpr DWORD kKeyBit = 0x80000000u;
    static constexpr DWORD kSizeMask = 0x7fffffffu;
    bool Matches(std::size_t chunk, bool key, bool nonEmpty) const {
        return (!key || Key(chunk)) && (!nonEmpty || Size(chunk) != 0);
    }

    DWORD m_sampleSize;
    LONG m_samples = 0;
    std::size_t m_keys = 0;
    std::vector<std::uint64_t> m_offsets;
    std::vector<DWORD> m_sizes;
    std::vector<DWORD> m_firstSamples; // only for fixed-size streams
};
