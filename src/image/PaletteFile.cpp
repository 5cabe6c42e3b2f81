#include "image/PaletteFile.h"

#include "platform/mm/Mm.h"

#include <array>
#include <cstring>
#include <string>

namespace {

struct MmioCloser {
    HMMIO h;
    ~MmioCloser() { mmioClose(h, 0); }
};

// The palette of the RIFF palette file open as `h`, for a file on disk and
// for one in memory alike; `h` is closed on return.
int readPalette(HMMIO h, LOGPALETTE* record) {
    MmioCloser closer{h};

    MMCKINFO form{};
    form.fccType = mmioFOURCC('P', 'A', 'L', ' ');
    if (mmioDescend(h, &form, nullptr, MMIO_FINDRIFF) != 0)
        return 1;
    MMCKINFO chunk{};
    chunk.ckid = mmioFOURCC('d', 'a', 't', 'a');
    if (mmioDescend(h, &chunk, &form, MMIO_FINDCHUNK) != 0)
        return 1;
    // An empty chunk, one larger than the record, or one too short for its
    // own header are refused.
    if (chunk.cksize < offsetof(LOGPALETTE, palPalEntry) || chunk.cksize > kPaletteRecordBytes)
        return 1;

    // Read into a copy so a failure leaves the caller's palette untouched.
    std::array<BYTE, kPaletteRecordBytes> buffer{};
    const LONG size = static_cast<LONG>(chunk.cksize);
    if (mmioRead(h, reinterpret_cast<HPSTR>(buffer.data()), size) != size)
        return 1;
    WORD count;
    std::memcpy(&count, buffer.data() + offsetof(LOGPALETTE, palNumEntries), sizeof count);
    // Every entry the count announces must have come from the file.
    if (offsetof(LOGPALETTE, palPalEntry) + std::size_t{count} * sizeof(PALETTEENTRY) > chunk.cksize)
        return 1;
    std::memcpy(record, buffer.data(), chunk.cksize);
    return 0;
}

} // namespace

int ReadPaletteFileAt(const char* path, LOGPALETTE* record) {
    if (path == nullptr || record == nullptr)
        return 1;
    HMMIO h = mmioOpenA(path, nullptr, MMIO_READ | MMIO_ALLOCBUF);
    if (h == nullptr)
        return 1;
    return readPalette(h, record);
}

int ReadPaletteBytes(const BYTE* bytes, std::size_t size, LOGPALETTE* record) {
    if (bytes == nullptr || size == 0 || size > 0x7fffffff || record == nullptr)
        return 1;
    MMIOINFO info{};
    info.fccIOProc = FOURCC_MEM;
    // Only read, never written through.
    info.pchBuffer = const_cast<HPSTR>(reinterpret_cast<const char*>(bytes));
    info.cchBuffer = static_cast<LONG>(size);
    HMMIO h = mmioOpenA(nullptr, &info, MMIO_READ);
    if (h == nullptr)
        return 1;
    return readPalette(h, record);
}

int ReadPaletteFile(FileChooser& chooser, LOGPALETTE* record) {
    OpenFileRequest request;
    request.owner = nullptr;
    request.filterName = "Palette Files";
    request.filterPattern = "*.pal";
    request.title = "Select Palette File";
    request.initialPath = "d:\\avi\\quant.pal";
    request.flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST;
    std::string path;
    if (!chooser.ChooseFileToOpen(request, path))
        return 1;
    return ReadPaletteFileAt(path.c_str(), record);
}
