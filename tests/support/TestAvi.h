// Writes small AVI files with known content for tests, through our writer.
//
// Frame f of the video holds bytes (f * 31 + i) & 0xff and audio byte p (from
// the start of the audio stream) holds (p * 7 + 3) & 0xff, so a test can check
// any read against TestFrameBytes / TestAudioBytes.
#pragma once

#include "platform/avi/AviWriter.h"

#include <functional>
#include <string>
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
    bool video = true;             // false: the audio stream alone, chunked as if the frames were there
    std::vector<bool> keys;        // per frame; empty: see keyEvery
    int keyEvery = 1;              // without keys: frames 0, n, 2n, ... are key frames
    std::vector<DWORD> frameSizes; // per frame; empty: width x height x bitCount / 8 (rows padded to 4 bytes)
    // The content of frame f instead of the test pattern (frameSizes then unused).
    std::function<std::vector<BYTE>(int)> frameData;
    std::vector<RGBQUAD> colors; // a colour table stored after the bitmap header
    DWORD clrUsed = 0;           // what the header claims, whatever is stored
    // Audio (PCM): one chunk per video frame holding that frame's duration.
    bool audio = true;
    DWORD sampleRate = 22050;
    WORD channels = 2;
    WORD bitsPerSample = 16;
    DWORD audioStart = 0;
    DWORD audioInitialFrames = 0;
    bool audioFirst = false; // audio chunk before the video chunk of each frame
    AviWriterOptions options;
};

std::vector<BYTE> TestFrameBytes(int frame, DWORD size);
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
