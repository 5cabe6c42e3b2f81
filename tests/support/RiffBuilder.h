// Builds RIFF files byte by byte, for tests that need files our writer would
// never produce (damaged, hostile or unusual layouts).
#pragma once

#include "platform/win32/Types.h"

#include <string>
#include <vector>

namespace cadmo::test {

class RiffBuilder {
public:
    // RIFF or LIST header with a size patched by the matching End().
    std::size_t BeginRiff(FOURCC type) { return Begin(mmioFOURCC('R', 'I', 'F', 'F'), type); }
    std::size_t BeginList(FOURCC type) { return Begin(mmioFOURCC('L', 'I', 'S', 'T'), type); }
    void End();
    // A chunk with its data and pad byte; returns the offset of its header.
    std::size_t Chunk(FOURCC id, const void* data, std::size_t size);
    template <typename T> std::size_t Chunk(FOURCC id, const T& record) {
        return Chunk(id, &record, sizeof record);
    }
    void U32(DWORD v) { Bytes(&v, 4); }
    void Bytes(const void* data, std::size_t size);
    void Patch32(std::size_t at, DWORD v);

    std::vector<BYTE>& Data() { return m_data; }
    const std::vector<BYTE>& Data() const { return m_data; }
    bool Save(const std::string& path) const;

private:
    std::size_t Begin(FOURCC id, FOURCC type);
    std::vector<BYTE> m_data;
    std::vector<std::size_t> m_open;
};

} // namespace cadmo::test
