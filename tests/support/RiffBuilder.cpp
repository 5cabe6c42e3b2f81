#include "support/RiffBuilder.h"

#include <cstring>
#include <fstream>

namespace cadmo::test {

std::size_t RiffBuilder::Begin(FOURCC id, FOURCC type) {
    const std::size_t at = m_data.size();
    U32(id);
    U32(0);
    U32(type);
    m_open.push_back(at);
    return at;
}

void RiffBuilder::End() {
    const std::size_t at = m_open.back();
    m_open.pop_back();
    Patch32(at + 4, static_cast<DWORD>(m_data.size() - at - 8));
}

std::size_t RiffBuilder::Chunk(FOURCC id, const void* data, std::size_t size) {
    const std::size_t at = m_data.size();
    U32(id);
    U32(static_cast<DWORD>(size));
    Bytes(data, size);
    if (size & 1)
        m_data.push_back(0);
    return at;
}

void RiffBuilder::Bytes(const void* data, std::size_t size) {
    const auto* p = static_cast<const BYTE*>(data);
    m_data.insert(m_data.end(), p, p + size);
}

void RiffBuilder::Patch32(std::size_t at, DWORD v) {
    std::memcpy(m_data.data() + at, &v, 4);
}

bool RiffBuilder::Save(const std::string& path) const {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(m_data.data()), static_cast<std::streamsize>(m_data.size()));
    return static_cast<bool>(out);
}

} // namespace cadmo::test
