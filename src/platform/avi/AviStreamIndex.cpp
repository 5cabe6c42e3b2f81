#include "platform/avi/AviStreamIndex.h"

#include <algorithm>

void AviStreamIndex::Reserve(std::size_t chunks) {
    m_offsets.reserve(chunks);
    m_sizes.reserve(chunks);
    if (m_sampleSize)
        m_firstSamples.reserve(chunks);
}

bool AviStreamIndex::Add(std::uint64_t offset, DWORD size, bool key) {
    size &= kSizeMask;
    const std::int64_t samples = m_sampleSize ? size / m_sampleSize : 1;
    if (static_cast<std::int64_t>(m_samples) + samples > 0x7fffffff)
        return false;
    if (m_sampleSize)
        m_firstSamples.push_back(static_cast<DWORD>(m_samples));
    m_offsets.push_back(offset);
    m_sizes.push_back(size | (key ? kKeyBit : 0));
    m_samples += static_cast<LONG>(samples);
    if (key)
        ++m_keys;
    return true;
}

void AviStreamIndex::SetKey(std::size_t chunk, bool key) {
    if (Key(chunk) == key)
        return;
    m_sizes[chunk] ^= kKeyBit;
    if (key)
        ++m_keys;
    else
        --m_keys;
}

void AviStreamIndex::Clear() {
    m_samples = 0;
    m_keys = 0;
    m_offsets = {};
    m_sizes = {};
    m_firstSamples = {};
}

void AviStreamIndex::ShrinkToFit() {
    m_offsets.shrink_to_fit();
    m_sizes.shrink_to_fit();
    m_firstSamples.shrink_to_fit();
}

std::size_t AviStreamIndex::ChunkOfSample(LONG n) const {
    if (!m_sampleSize)
        return static_cast<std::size_t>(n);
    // The last chunk whose first sample is <= n. Chunks holding no whole
    // sample share their first sample with the next one; upper_bound skips
    // past them to the chunk that really holds n.
    const auto it = std::upper_bound(m_firstSamples.begin(), m_firstSamples.end(), static_cast<DWORD>(n));
    std::size_t chunk = static_cast<std::size_t>(it - m_firstSamples.begin()) - 1;
    while (chunk > 0 && ChunkSamples(chunk) == 0)
        --chunk;
    return chunk;
}

std::int64_t AviStreamIndex::PrevMatch(std::size_t chunk, bool key, bool nonEmpty) const {
    if (m_offsets.empty())
        return -1;
    if (chunk >= m_offsets.size())
        chunk = m_offsets.size() - 1;
    if (key && AllKey() && !nonEmpty)
        return static_cast<std::int64_t>(chunk);
    for (std::size_t i = chunk + 1; i-- > 0;)
        if (Matches(i, key, nonEmpty))
            return static_cast<std::int64_t>(i);
    return -1;
}

std::int64_t AviStreamIndex::NextMatch(std::size_t chunk, bool key, bool nonEmpty) const {
    if (chunk >= m_offsets.size())
        return -1;
    if (key && AllKey() && !nonEmpty)
        return static_cast<std::int64_t>(chunk);
    for (std::size_t i = chunk; i < m_offsets.size(); ++i)
        if (Matches(i, key, nonEmpty))
            return static_cast<std::int64_t>(i);
    return -1;
}

std::uint64_t AviStreamIndex::MemoryBytes() const {
    return m_offsets.capacity() * sizeof(std::uint64_t) + m_sizes.capacity() * sizeof(DWORD) +
           m_firstSamples.capacity() * sizeof(DWORD);
}
