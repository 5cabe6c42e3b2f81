// Opens the input as an AVI file and reads every sample of every stream, with
// the searches and time conversions the player uses, and decodes a few blocks
// of compressed sound from the start and the middle as the player would. The input goes to an
// anonymous in-memory file, since the library opens files by path.
#include "audio/CompressedSound.h"
#include "platform/avi/AviFile.h"

#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

void ReadStream(PAVISTREAM s) {
    AVISTREAMINFOA info{};
    AVIStreamInfoA(s, &info, sizeof info);
    LONG formatSize = 0;
    AVIStreamReadFormat(s, 0, nullptr, &formatSize);
    std::vector<BYTE> format(static_cast<std::size_t>(formatSize > 0 ? formatSize : 0));
    AVIStreamReadFormat(s, 0, format.data(), &formatSize);

    const LONG start = AVIStreamStart(s);
    const LONG end = AVIStreamEnd(s);
    std::vector<BYTE> buffer(1 << 16);
    // Bounded, so that a stream of many tiny samples cannot stall the run.
    int steps = 0;
    for (LONG pos = start; pos < end && steps < 20000; ++steps) {
        LONG bytes = 0, samples = 0;
        HRESULT hr = AVIStreamRead(s, pos, 4096, nullptr, 0, &bytes, &samples);
        if (hr == AVIERR_OK && bytes > static_cast<LONG>(buffer.size()))
            buffer.resize(static_cast<std::size_t>(bytes));
        hr = AVIStreamRead(s, pos, 4096, buffer.data(), static_cast<LONG>(buffer.size()), &bytes, &samples);
        if (hr != AVIERR_OK || samples <= 0)
            ++pos;
        else
            pos += samples;
        AVIStreamFindSample(s, pos, FIND_PREV | FIND_KEY);
        AVIStreamFindSample(s, pos, FIND_NEXT | FIND_KEY);
        AVIStreamFindSample(s, pos, FIND_PREV | FIND_ANY | FIND_OFFSET);
        AVIStreamTimeToSample(s, AVIStreamSampleToTime(s, pos));
    }
    if (info.fccType == streamtypeAUDIO) {
        CompressedSound sound;
        WAVEFORMATEX pcm{};
        if (sound.Open(s, info, pcm)) {
            std::vector<BYTE> block(pcm.nBlockAlign * 4096u);
            for (LONG from : {start, start + (end - start) / 2}) {
                sound.Start(from);
                for (int i = 0; i < 4; ++i)
                    if (sound.Fill(block.data(), static_cast<LONG>(block.size())) <
                        static_cast<LONG>(block.size()))
                        break;
            }
        }
    }
    AVIStreamFindSample(s, end + 1, FIND_PREV | FIND_KEY | FIND_SIZE);
    AVIStreamFindSample(s, start - 1, FIND_NEXT | FIND_KEY | FIND_LENGTH);
    for (LONG c = 0; c < AVIStreamChunkCount(s); ++c) {
        AVICHUNKINFO ci{};
        AVIStreamChunkInfo(s, c, &ci);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const int fd = memfd_create("cadmo-fuzz-avi", MFD_CLOEXEC);
    if (fd < 0)
        return 0;
    const std::uint8_t* p = data;
    std::size_t left = size;
    while (left > 0) {
        const ssize_t n = write(fd, p, left);
        if (n <= 0)
            break;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    PAVIFILE file = nullptr;
    if (AVIFileOpenA(&file, path.c_str(), OF_SHARE_DENY_WRITE, nullptr) == AVIERR_OK) {
        AVIFILEINFOA fi{};
        AVIFileInfoA(file, &fi, sizeof fi);
        PAVISTREAM s = nullptr;
        for (LONG i = 0; AVIFileGetStream(file, &s, 0, i) == AVIERR_OK; ++i) {
            ReadStream(s);
            AVIStreamRelease(s);
        }
        AVIFileRelease(file);
    }
    close(fd);
    return 0;
}
