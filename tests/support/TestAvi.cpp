#include "support/TestAvi.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>

namespace cadmo::test {

std::vector<BYTE> TestFrameBytes(int frame, DWORD size) {
    std::vector<BYTE> b(size);
    for (DWORD i = 0; i < size; ++i)
        b[i] = static_cast<BYTE>(frame * 31 + static_cast<int>(i));
    return b;
}

std::vector<BYTE> TestAudioBytes(std::uint64_t firstByte, std::size_t size) {
    std::vector<BYTE> b(size);
    for (std::size_t i = 0; i < size; ++i)
        b[i] = static_cast<BYTE>((firstByte + i) * 7 + 3);
    return b;
}

BITMAPINFOHEADER TestBitmapHeader(const TestAviSpec& spec) {
    // 64-bit: the refused-size tests ask for pictures whose size passes 2^31.
    const auto size = static_cast<DWORD>((std::int64_t{spec.width} * spec.bitCount + 31) / 32 * 4 *
                                         std::int64_t{spec.height});
    // Size, width, height, planes, depth, compression, image size, the
    // resolutions, the colours used and the important ones.
    return BITMAPINFOHEADER(sizeof(BITMAPINFOHEADER), spec.width, spec.height, 1, spec.bitCount,
                            spec.compression, size, 0, 0, spec.clrUsed, 0);
}

DWORD TestFrameSize(const TestAviSpec& spec, int frame) {
    if (!spec.frameSizes.empty())
        return spec.frameSizes[static_cast<std::size_t>(frame)];
    return TestBitmapHeader(spec).biSizeImage;
}

static WORD BlockAlign(const TestAviSpec& spec) {
    return spec.blockAlign ? spec.blockAlign : static_cast<WORD>(spec.channels * spec.bitsPerSample / 8);
}

std::uint64_t TestAudioBytesBefore(const TestAviSpec& spec, int frame) {
    const std::uint64_t samples =
        static_cast<std::uint64_t>(frame) * spec.sampleRate * spec.scale / spec.rate;
    return samples * BlockAlign(spec);
}

std::vector<BYTE> PaletteChangeRecord(BYTE first, BYTE count, const std::vector<RGBQUAD>& colors) {
    std::vector<BYTE> r = {first, count, 0, 0};
    for (const RGBQUAD& c : colors)
        r.insert(r.end(), {c.rgbRed, c.rgbGreen, c.rgbBlue, 0});
    return r;
}

HRESULT WriteTestAvi(const std::string& path, const TestAviSpec& spec) {
    AviWriter w;
    HRESULT hr = w.Create(path, spec.options);
    if (hr != AVIERR_OK)
        return hr;
    AviVideoStreamDesc v;
    v.handler = spec.handler;
    const BITMAPINFOHEADER bi = TestBitmapHeader(spec);
    v.format.assign(reinterpret_cast<const BYTE*>(&bi), reinterpret_cast<const BYTE*>(&bi + 1));
    const auto* colors = reinterpret_cast<const BYTE*>(spec.colors.data());
    v.format.insert(v.format.end(), colors, colors + spec.colors.size() * sizeof(RGBQUAD));
    v.rate = spec.rate;
    v.scale = spec.scale;
    v.start = spec.start;
    v.initialFrames = spec.initialFrames;
    v.suggestedBufferSize = spec.suggestedBufferSize;
    int video = -1, audio = -1;
    if (spec.video && (hr = w.AddVideoStream(v, &video)) != AVIERR_OK)
        return hr;
    const WORD align = BlockAlign(spec);
    if (spec.audio) {
        // Tag, channels, rate, bytes a second, block, bits a sample, extra bytes.
        const WAVEFORMATEX wf(spec.formatTag, spec.channels, spec.sampleRate, spec.sampleRate * align, align,
                              spec.bitsPerSample, static_cast<WORD>(spec.extraFormatBytes));
        AviAudioStreamDesc a;
        const auto* p = reinterpret_cast<const BYTE*>(&wf);
        a.format.assign(p, p + (spec.shortPcmFormat ? sizeof(PCMWAVEFORMAT) : sizeof wf));
        a.format.insert(a.format.end(), static_cast<std::size_t>(spec.extraFormatBytes), BYTE{0xA5});
        a.initialFrames = spec.audioInitialFrames;
        a.suggestedBufferSize = spec.audioSuggestedBufferSize;
        if ((hr = w.AddAudioStream(a, &audio)) != AVIERR_OK)
            return hr;
    }
    const std::uint64_t soundBytes = !spec.audio         ? 0
                                     : spec.audioSamples ? std::uint64_t{spec.audioSamples} * align
                                                         : TestAudioBytesBefore(spec, spec.frames);
    std::uint64_t written = 0;
    // Writes the sound up to byte `until` (at most its end) as one chunk.
    const auto writeSound = [&](std::uint64_t until) -> HRESULT {
        until = std::min(until, soundBytes);
        if (until <= written)
            return AVIERR_OK;
        std::vector<BYTE> b = TestAudioBytes(written, until - written);
        if (!spec.audioContent.empty()) {
            const auto* c = reinterpret_cast<const BYTE*>(spec.audioContent.data());
            for (std::uint64_t i = written; i < until; ++i)
                b[i - written] = i < spec.audioContent.size() * 2 ? c[i] : 0;
        }
        written = until;
        return w.WriteAudio(audio, b.data(), static_cast<DWORD>(b.size()));
    };
    for (int f = 0; f < spec.frames && hr == AVIERR_OK; ++f) {
        const std::vector<BYTE> frame =
            spec.frameData ? spec.frameData(f) : TestFrameBytes(f, TestFrameSize(spec, f));
        const bool key = spec.keys.empty() ? spec.keyEvery <= 1 || f % spec.keyEvery == 0
                                           : spec.keys[static_cast<std::size_t>(f)];
        const std::uint64_t until = TestAudioBytesBefore(spec, f + 1);
        if (spec.audioFirst)
            hr = writeSound(until);
        if (hr == AVIERR_OK && spec.video && spec.paletteChange) {
            const std::vector<BYTE> change = spec.paletteChange(f);
            if (!change.empty())
                hr = w.WritePaletteChange(video, change.data(), static_cast<DWORD>(change.size()));
        }
        if (hr == AVIERR_OK && spec.video)
            hr = w.WriteVideoFrame(video, frame.data(), static_cast<DWORD>(frame.size()), key);
        if (hr == AVIERR_OK && !spec.audioFirst)
            hr = writeSound(until);
    }
    while (hr == AVIERR_OK && written < soundBytes)
        hr = writeSound(written + 16384ull * align);
    if (hr == AVIERR_OK)
        hr = w.Close();
    for (const auto& [field, value] : spec.audioHeaderPatches)
        if (hr == AVIERR_OK && !PatchStreamHeader(path, streamtypeAUDIO, field, value))
            hr = AVIERR_FILEWRITE;
    return hr;
}

bool PatchStreamHeader(const std::string& path, FOURCC type, std::size_t fieldOffset, DWORD value) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    for (std::size_t i = 0; i + 12 < bytes.size(); ++i) {
        if (std::memcmp(&bytes[i], "strh", 4) == 0 && std::memcmp(&bytes[i + 8], &type, 4) == 0) {
            f.clear();
            f.seekp(static_cast<std::streamoff>(i + 8 + fieldOffset));
            f.write(reinterpret_cast<const char*>(&value), 4);
            return static_cast<bool>(f);
        }
    }
    return false;
}

} // namespace cadmo::test
