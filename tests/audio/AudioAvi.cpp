#include "AudioAvi.h"

#include "support/TestAvi.h"

#include <cstring>

namespace cadmo::test {

constexpr DWORD kVideoRate = 30;

HRESULT WriteAudioAvi(const std::string& path, const AudioAviSpec& spec) {
    AviWriter writer;
    HRESULT hr = writer.Create(path);
    if (hr != AVIERR_OK)
        return hr;

    int video = -1;
    std::vector<BYTE> frame;
    if (spec.videoFrames > 0) {
        const BITMAPINFOHEADER bih{sizeof(BITMAPINFOHEADER), 16, 16, 1, 24, BI_RGB, 16 * 16 * 3, 0, 0, 0, 0};
        AviVideoStreamDesc v;
        v.handler = mmioFOURCC('D', 'I', 'B', ' ');
        v.format.assign(reinterpret_cast<const BYTE*>(&bih),
                        reinterpret_cast<const BYTE*>(&bih) + sizeof bih);
        v.rate = kVideoRate;
        v.scale = 1;
        if ((hr = writer.AddVideoStream(v, &video)) != AVIERR_OK)
            return hr;
        frame.assign(bih.biSizeImage, 0x40);
    }

    const WORD align = spec.blockAlign ? spec.blockAlign : static_cast<WORD>(spec.channels * spec.bits / 8);
    const WAVEFORMATEX wfx{spec.formatTag,
                           spec.channels,
                           spec.rate,
                           spec.rate * align,
                           align,
                           spec.bits,
                           static_cast<WORD>(spec.extraFormatBytes)};
    AviAudioStreamDesc a;
    const auto* p = reinterpret_cast<const BYTE*>(&wfx);
    a.format.assign(p, p + (spec.shortPcmFormat ? sizeof(PCMWAVEFORMAT) : sizeof wfx));
    for (int i = 0; i < spec.extraFormatBytes; ++i)
        a.format.push_back(static_cast<BYTE>(0xA5));
    a.initialFrames = spec.initialFrames;
    a.suggestedBufferSize = spec.suggestedBufferSize;
    int audio = -1;
    if ((hr = writer.AddAudioStream(a, &audio)) != AVIERR_OK)
        return hr;

    const std::uint64_t totalBytes = static_cast<std::uint64_t>(spec.samples) * align;
    std::vector<BYTE> data(totalBytes);
    if (!spec.content.empty())
        std::memcpy(data.data(), spec.content.data(),
                    std::min<std::size_t>(totalBytes, spec.content.size() * 2));
    else
        for (std::uint64_t i = 0; i < totalBytes; ++i)
            data[i] = static_cast<BYTE>((i * 7 + 3) & 0xff);

    // Interleave: with video, each frame's duration of audio follows its frame.
    const int frames = spec.videoFrames;
    std::uint64_t written = 0;
    for (int f = 0; f < frames; ++f) {
        if ((hr = writer.WriteVideoFrame(video, frame.data(), static_cast<DWORD>(frame.size()), true)) !=
            AVIERR_OK)
            return hr;
        const std::uint64_t until = std::min<std::uint64_t>(
            totalBytes, (f + 1) * static_cast<std::uint64_t>(spec.rate) / kVideoRate * align);
        if (until > written) {
            if ((hr = writer.WriteAudio(audio, data.data() + written, static_cast<DWORD>(until - written))) !=
                AVIERR_OK)
                return hr;
            written = until;
        }
    }
    const std::uint64_t chunk = 16384ull * align;
    while (written < totalBytes) {
        const std::uint64_t n = std::min(chunk, totalBytes - written);
        if ((hr = writer.WriteAudio(audio, data.data() + written, static_cast<DWORD>(n))) != AVIERR_OK)
            return hr;
        written += n;
    }
    if ((hr = writer.Close()) != AVIERR_OK)
        return hr;

    if (spec.zeroSuggestedBufferSize &&
        !PatchStreamHeader(path, streamtypeAUDIO, offsetof(AVIStreamHeader, dwSuggestedBufferSize), 0))
        return AVIERR_FILEWRITE;
    if (spec.zeroSampleSize &&
        !PatchStreamHeader(path, streamtypeAUDIO, offsetof(AVIStreamHeader, dwSampleSize), 0))
        return AVIERR_FILEWRITE;
    return AVIERR_OK;
}

} // namespace cadmo::test
