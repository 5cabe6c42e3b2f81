// Writes small AVI files with known content for tests, through our writer.
//
// Frame f of the video holds bytes (f * 31 + i) & 0xff and audio byte p (from
// the start of the audio stream) holds (p * 7 + 3) & 0xff, so a test can check
// any read against TestFrameBytes / TestAudioBytes.
#pragma once

#include "platform/avi/AviWriter.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace cadmo::test {

struct TestAviSpec {
    // Video.
    LONG width = 32;
    LONG height = 16;
    WORD bitCount = 24;
    DWORD compression = BI_RGB;
    FOURCC handler = 0;
    DWORD rate = 15;
    DWORD scale = 1;
    DWORD start = 0;
    DWORD initialFrames = 0;
    DWORD suggestedBufferSize = 0;
    int frames = 10;
    bool video = true;        // false: the audio stream alone, chunked as if the frames were there
    std::vector<bool> keys{}; // per frame; empty: see keyEvery
    int keyEvery = 1;         // without keys: frames 0, n, 2n, ... are key frames
    // Per frame; empty: width x height x bitCount / 8 (rows padded to 4 bytes).
    std::vector<DWORD> frameSizes{};
    // The content of frame f instead of the test pattern (frameSizes then unused).
    std::function<std::vector<BYTE>(int)> frameData{};
    std::vector<RGBQUAD> colors{}; // a colour table stored after the bitmap header
    // The data of a palette change ("##pc") written before frame f; none when
    // it gives nothing.
    std::function<std::vector<BYTE>(int)> paletteChange{};
    DWORD clrUsed = 0; // what the header claims, whatever is stored
    // Audio: one chunk per video frame holding that frame's duration, and
    // whatever is left of audioSamples in chunks of 16384 blocks.
    bool audio = true;
    DWORD sampleRate = 22050;
    WORD channels = 2;
    WORD bitsPerSample = 16;
    WORD formatTag = WAVE_FORMAT_PCM;
    WORD blockAlign = 0;                      // 0: channels x bitsPerSample / 8
    int extraFormatBytes = 0;                 // stored format longer than WAVEFORMATEX, cbSize saying so
    bool shortPcmFormat = false;              // the 16-byte record without cbSize
    DWORD audioSamples = 0;                   // the stream's length in blocks; 0: the frames' duration
    std::vector<std::int16_t> audioContent{}; // interleaved samples instead of the test pattern
    DWORD audioInitialFrames = 0;
    DWORD audioSuggestedBufferSize = 0;
    bool audioFirst = false; // audio chunk before the video chunk of each frame
    // Fields of the audio stream header rewritten in the finished file, for
    // values the writer refuses to store: (offset in AVIStreamHeader, value).
    std::vector<std::pair<std::size_t, DWORD>> audioHeaderPatches{};
    AviWriterOptions options{};
};

std::vector<BYTE> TestFrameBytes(int frame, DWORD size);
// An AVIPALCHANGE record: first entry, count (0 meaning 256), flags 0, then
// the entries as red, green, blue, flags.
std::vector<BYTE> PaletteChangeRecord(BYTE first, BYTE count, const std::vector<RGBQUAD>& colors);
std::vector<BYTE> TestAudioBytes(std::uint64_t firstByte, std::size_t size);
DWORD TestFrameSize(const TestAviSpec& spec, int frame);
// Audio bytes written with frame f (block aligned).
std::uint64_t TestAudioBytesBefore(const TestAviSpec& spec, int frame);

// AVIERR_OK or the writer's error.
HRESULT WriteTestAvi(const std::string& path, const TestAviSpec& spec);

// The plain 40-byte bitmap header the player accepts, as the stream stores it.
BITMAPINFOHEADER TestBitmapHeader(const TestAviSpec& spec);

// Rewrites one DWORD of the first stream header of `type` in a finished file,
// for values our writer refuses to store; false when there is none.
bool PatchStreamHeader(const std::string& path, FOURCC type, std::size_t fieldOffset, DWORD value);

} // namespace cadmo::test
