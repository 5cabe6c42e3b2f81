// Opens the input as an AVI file and reads every sample of every stream, with
// the searches and time conversions the player uses. The input goes to an
// anonymous in-memory file, since the library opens files by path.
#include "../FuzzFile.h"
#include "platform/avi/AviFile.h"

#include <cstdint>
#include <limits>
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
        // A stream may end on the last frame number there is: step in 64 bits.
        const long long next = static_cast<long long>(pos) + (hr != AVIERR_OK || samples <= 0 ? 1 : samples);
        pos = next < end ? static_cast<LONG>(next) : end;
        AVIStreamFindSample(s, pos, FIND_PREV | FIND_KEY);
        AVIStreamFindSample(s, pos, FIND_NEXT | FIND_KEY);
        AVIStreamFindSample(s, pos, FIND_PREV | FIND_ANY | FIND_OFFSET);
        // The format in effect here, as the player reads it at palette changes.
        if (AVIStreamFindSample(s, pos, FIND_PREV | FIND_FORMAT) == pos)
            AVIStreamReadFormat(s, pos, format.data(), &formatSize);
        AVIStreamFindSample(s, pos, FIND_NEXT | FIND_FORMAT);
        AVIStreamTimeToSample(s, AVIStreamSampleToTime(s, pos));
    }
    AVIStreamFindSample(s, end < std::numeric_limits<LONG>::max() ? end + 1 : end,
                        FIND_PREV | FIND_KEY | FIND_SIZE);
    AVIStreamFindSample(s, start > std::numeric_limits<LONG>::min() ? start - 1 : start,
                        FIND_NEXT | FIND_KEY | FIND_LENGTH);
    for (LONG c = 0; c < AVIStreamChunkCount(s); ++c) {
        AVICHUNKINFO ci{};
        AVIStreamChunkInfo(s, c, &ci);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const FuzzFile input(data, size);
    PAVIFILE file = nullptr;
    if (AVIFileOpenA(&file, input.Path(), OF_SHARE_DENY_WRITE, nullptr) == AVIERR_OK) {
        AVIFILEINFOA fi{};
        AVIFileInfoA(file, &fi, sizeof fi);
        PAVISTREAM s = nullptr;
        for (LONG i = 0; AVIFileGetStream(file, &s, 0, i) == AVIERR_OK; ++i) {
            ReadStream(s);
            AVIStreamRelease(s);
        }
        AVIFileRelease(file);
    }
    return 0;
}
