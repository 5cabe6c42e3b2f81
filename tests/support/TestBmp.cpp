#include "support/TestBmp.h"

#include <cstring>
#include <fstream>

namespace cadmo::test {

BmpFile::BmpFile(LONG w, LONG h, int colorCount) {
    info.biWidth = w;
    info.biHeight = h;
    colors.resize(static_cast<std::size_t>(colorCount));
    for (int i = 0; i < colorCount; ++i)
        colors[static_cast<std::size_t>(i)] =
            RGBQUAD{static_cast<BYTE>(i), static_cast<BYTE>(255 - i), static_cast<BYTE>(i / 2), 0};
    if (colorCount != 256)
        info.biClrUsed = static_cast<DWORD>(colorCount);
    const LONG stride = (w + 3) / 4 * 4;
    pixels.assign(static_cast<std::size_t>(stride * (h < 0 ? -h : h)), 0);
}

std::vector<BYTE> BmpFile::Bytes() {
    if (fixSizes) {
        file.bfOffBits = static_cast<DWORD>(14 + info.biSize + 4 * colors.size());
        file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    }
    // Sized once and filled by offset: GCC 12 mistakes inserts after the
    // 54-byte header for writes past it (-Warray-bounds).
    const std::size_t header = 14 + sizeof info, table = 4 * colors.size();
    std::vector<BYTE> out(header + table + pixels.size());
    std::memcpy(out.data(), &file, 14);
    std::memcpy(out.data() + 14, &info, sizeof info);
    if (table > 0)
        std::memcpy(out.data() + header, colors.data(), table);
    if (!pixels.empty())
        std::memcpy(out.data() + header + table, pixels.data(), pixels.size());
    return out;
}

bool BmpFile::Save(const std::string& path) {
    const std::vector<BYTE> bytes = Bytes();
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

BmpFile& BmpFile::Sizes(DWORD offBits, DWORD fileSize) {
    fixSizes = false;
    file.bfOffBits = offBits;
    file.bfSize = fileSize;
    return *this;
}

} // namespace cadmo::test
