// AVI files whose audio stream the tests shape freely: rate, block size,
// initial frames, format tag and stored format size, and content (a tone
// sequence or a byte pattern), optionally with a small uncompressed video.
#pragma once

#include "platform/avi/AviWriter.h"

#include <cstdint>
#include <string>
#include <vector>

namespace cadmo::test {

struct AudioAviSpec {
    DWORD rate = 22050;
    WORD channels = 2;
    WORD bits = 16;
    WORD formatTag = WAVE_FORMAT_PCM;
    WORD blockAlign = 0; // 0: channels x bits / 8
    DWORD suggestedBufferSize = 8192;
    DWORD initialFrames = 0;
    DWORD samples = 0;           // length of the stream in samples (blocks of the format)
    int extraFormatBytes = 0;    // stored format longer than WAVEFORMATEX, cbSize saying so
    bool shortPcmFormat = false; // the 16-byte record without cbSize
    // Interleaved 16-bit samples to store; when empty, byte p holds (p * 7 + 3) & 0xff.
    std::vector<std::int16_t> content;
    // Fields the writer fills in for itself, overwritten in the file afterwards.
    bool zeroSuggestedBufferSize = false;
    bool zeroSampleSize = false;
    // Video: frames of 16 x 16 24-bit DIB at 30 frames per second; 0 for none.
    int videoFrames = 0;
};

// AVIERR_OK or the writer's error (or AVIERR_FILEWRITE when patching fails).
HRESULT WriteAudioAvi(const std::string& path, const AudioAviSpec& spec);

} // namespace cadmo::test
