// The movie's sound: the ring of wave buffers that streams the PCM audio to
// the wave device, the device's notifications that keep the ring full, and the
// audio clock that the video follows.
//
// Compressed sound (any stored format other than PCM) is decoded to PCM by
// CompressedSound as the ring's blocks are filled; everything else (the ring,
// the notifications, the clock) is the same as for PCM. Its blocks are a
// quarter second of the decoded PCM, its last block is completed with
// silence rather than dropped, and a format that nothing decodes is refused
// as before (-12). The stream's initial frames count its own units (MPEG
// frames, ADPCM blocks), not the ring's blocks, so they neither refuse the
// stream nor set its prefill: the 7 blocks of the prefill already hold more
// sound ahead than interleaved files put there.
#include "engine/Movie.h"

#include "audio/CompressedSound.h"
#include "engine/OwnerWindow.h"
#include "platform/mm/Mm.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

Movie* callbackMovie = nullptr;
LONG lastClockValue = 0;
LONG clockRepeatCount = 0;
DWORD clockRepeatStart = 0;

namespace {

constexpr LONG kPrefillBlocks = 7;
// clockRepeatCount while a play's first sound has not been heard yet.
constexpr LONG kWaitingForSound = -1;
constexpr DWORD kMaxSoundLatencyMs = 1000;
// The largest block we accept. Real files use blocks of tens to hundreds of
// kilobytes; a header claiming more is damaged, and 32 buffers of it would
// exhaust memory instead of playing.
constexpr std::int64_t kMaxBlockBytes = 16 * 1024 * 1024;

WAVEHDR* Header(const std::unique_ptr<BYTE[]>& buffer) {
    return reinterpret_cast<WAVEHDR*>(buffer.get());
}

// n x 1000 / perSecond rounded to the nearest unit, without overflow.
std::int64_t ToMilliseconds(std::uint32_t n, LONG perSecond) {
    const auto divisor = static_cast<std::int64_t>(perSecond);
    return (static_cast<std::int64_t>(n) * 2000 + divisor) / (2 * divisor);
}

// The stored format's tag, read alone; PCM when it cannot be read, so that a
// damaged format goes the PCM way and is refused there as before.
WORD StoredFormatTag(PAVISTREAM stream) {
    WORD tag = WAVE_FORMAT_PCM;
    LONG size = sizeof tag;
    const HRESULT read = AVIStreamReadFormat(stream, 0, &tag, &size);
    return (read == AVIERR_OK || read == AVIERR_BUFFERTOOSMALL) && size >= 2 ? tag : WAVE_FORMAT_PCM;
}

} // namespace

// Opens the decoder of a compressed stream and sets the ring's block to a
// quarter second of the PCM it gives; -12 when nothing decodes the format.
LONG Movie::OpenCompressedAudio(const AVISTREAMINFOA& info, WAVEFORMATEX& format) {
    compressedSound = std::make_unique<CompressedSound>();
    if (!compressedSound->Open(audioStream, info, format))
        return kAudioFormatRefused;
    sampleSize = format.nBlockAlign;
    blockSamples = static_cast<LONG>(std::max<DWORD>(1, format.nSamplesPerSec / 4));
    lastAudioBlock = 0;
    audioInitialFrames = 0;
    return kOk;
}

LONG Movie::OpenAudio() {
    audioBaseTime = -1;
    if (!audioStream)
        return kNoAudio;
    if (waveOut)
        CloseAudio();

    AVISTREAMINFOA info{};
    if (AVIStreamInfoA(audioStream, &info, sizeof info) != AVIERR_OK)
        return kAudioFormatRefused;
    if (StoredFormatTag(audioStream) != WAVE_FORMAT_PCM) {
        WAVEFORMATEX pcm{};
        const LONG status = OpenCompressedAudio(info, pcm);
        if (status != kOk) {
            CloseAudio();
            return status;
        }
        return OpenRing(pcm);
    }
    // A block of 0 samples could never be read or timed, and one too large to
    // allocate is damage: neither stream is playable.
    const std::int64_t samples =
        static_cast<std::int64_t>(info.dwSuggestedBufferSize) * static_cast<std::int64_t>(info.dwSampleSize);
    if (samples <= 0 || samples * info.dwSampleSize > kMaxBlockBytes)
        return kAudioFormatRefused;
    sampleSize = static_cast<LONG>(info.dwSampleSize);
    blockSamples = static_cast<LONG>(samples);
    lastAudioBlock = static_cast<LONG>(info.dwStart + info.dwLength / static_cast<DWORD>(blockSamples));
    audioInitialFrames = static_cast<LONG>(std::min<DWORD>(info.dwInitialFrames, INT32_MAX));
    if (info.dwInitialFrames >= static_cast<DWORD>(waveBufferCount)) {
        CloseAudio();
        return kTooManyInitialFrames;
    }

    // Only the record's own size is read, whatever the stream stores: a longer
    // stored format (extra codec bytes) is cut, a shorter PCM one leaves the
    // remaining fields, cbSize among them, at 0.
    WAVEFORMATEX format{};
    LONG formatSize = sizeof format;
    const HRESULT read = AVIStreamReadFormat(audioStream, 0, &format, &formatSize);
    if ((read != AVIERR_OK && read != AVIERR_BUFFERTOOSMALL) || format.wFormatTag != WAVE_FORMAT_PCM) {
        CloseAudio();
        return kAudioFormatRefused;
    }
    if (formatSize < static_cast<LONG>(sizeof format))
        format.cbSize = 0;
    return OpenRing(format);
}

// Opens the device for the PCM format and prepares the ring's buffers.
LONG Movie::OpenRing(const WAVEFORMATEX& format) {
    samplesPerSecond = static_cast<LONG>(std::min<DWORD>(format.nSamplesPerSec, INT32_MAX));
    bytesPerSecond = static_cast<LONG>(std::min<DWORD>(format.nAvgBytesPerSec, INT32_MAX));

    if (waveOutOpen(&waveOut, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(&WaveCallback),
                    reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION) != MMSYSERR_NOERROR) {
        waveOut = nullptr;
        CloseAudio();
        return kWaveOpenFailed;
    }

    const std::size_t blockBytes =
        static_cast<std::size_t>(sampleSize) * static_cast<std::size_t>(blockSamples);
    for (auto& buffer : waveBuffers) {
        buffer.reset(new (std::nothrow) BYTE[sizeof(WAVEHDR) + blockBytes]);
        if (!buffer) {
            // Like every other allocation failure: the message when there is
            // a window to own it, and status 8 either way.
            if (ownerWindow)
                ownerWindow->FatalError(FATAL_NOT_ENOUGH_MEMORY);
            std::_Exit(FATAL_NOT_ENOUGH_MEMORY);
        }
        WAVEHDR* header = new (buffer.get()) WAVEHDR{};
        header->lpData = reinterpret_cast<char*>(buffer.get() + sizeof(WAVEHDR));
        header->dwBufferLength = static_cast<DWORD>(blockBytes);
        if (waveOutPrepareHeader(waveOut, header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
            CloseAudio();
            return kWaveBufferRefused;
        }
    }
    return kOk;
}

LONG Movie::CloseAudio() {
    audioBaseTime = -1;
    audioClockPaused = false;
    // A buffer must never be freed while the device still holds it: take them
    // all back first. With audioBaseTime at -1 their notifications refill nothing.
    if (waveOut)
        waveOutReset(waveOut);
    for (auto& buffer : waveBuffers) {
        if (!buffer)
            continue;
        if (waveOut)
            waveOutUnprepareHeader(waveOut, Header(buffer), sizeof(WAVEHDR));
        buffer.reset();
    }
    if (waveOut) {
        waveOutClose(waveOut);
        waveOut = nullptr;
    }
    compressedSound.reset();
    return kOk;
}

LONG Movie::StartAudio(LONG sample) {
    if (paused) {
        ResumeAudio();
        return kOk;
    }
    const LONG status = OpenAudio();
    if (status != kOk)
        return status;
    nextAudioBlock = sample / blockSamples;

    // Paused while the ring fills, so that no done notification touches the
    // ring before the prefill is complete.
    waveOutPause(waveOut);
    ringWrite = ringSubmit = ringQueued = 0;
    audioBaseTime = compressedSound ? compressedSound->Start(sample)
                                    : AVIStreamSampleToTime(audioStream, nextAudioBlock * blockSamples);
    ReadBlocks(std::max(audioInitialFrames, kPrefillBlocks));
    SubmitBlocks();
    // A new play starts a new clock: a repetition counted at the end of the
    // last play must not add its age to this one's first readings. With sound
    // queued, the clock first waits for it to be heard (see AudioClock).
    lastClockValue = -1;
    clockRepeatCount = ringQueued > 0 ? kWaitingForSound : 0;
    clockRepeatStart = timeGetTime();
    audioClockPaused = false;
    waveOutRestart(waveOut);
    return kOk;
}

LONG Movie::StopAudio() {
    if (!waveOut)
        return kNoWaveDevice;
    // The buffers the reset returns are not refilled (see OnBufferDone).
    audioBaseTime = -1;
    waveOutReset(waveOut);
    ringWrite = ringSubmit = ringQueued = 0;
    CloseAudio();
    return kOk;
}

LONG Movie::PauseAudio() {
    if (!waveOut)
        return kNoWaveDevice;
    waveOutPause(waveOut);
    if (!audioClockPaused) {
        audioClockPaused = true;
        audioPauseTime = timeGetTime();
    }
    return kOk;
}

LONG Movie::ResumeAudio() {
    if (!waveOut)
        return kNoWaveDevice;
    // The position carries on from where it stopped, so the clock does too.
    // Where the system clock was carrying it (the sound had run out, or a
    // coarse position had not moved yet), it carries on from its value at the
    // pause: the paused time is taken out rather than the carried part
    // dropped, which would take the video back.
    if (audioClockPaused) {
        clockRepeatStart += timeGetTime() - audioPauseTime;
        audioClockPaused = false;
    }
    waveOutRestart(waveOut);
    return kOk;
}

LONG Movie::ReadBlocks(LONG count) {
    const LONG blockBytes = sampleSize * blockSamples;
    LONG read = 0;
    while (read < count) {
        const std::int64_t block = static_cast<std::int64_t>(nextAudioBlock) + read;
        if (!compressedSound && block > lastAudioBlock)
            break;
        const std::int64_t start = block * blockSamples;
        if (!compressedSound && start > INT32_MAX)
            break;
        // Never overwrite a buffer the device still holds.
        const LONG waiting = (ringWrite - ringSubmit + waveBufferCount) % waveBufferCount;
        if (ringQueued + waiting >= waveBufferCount)
            break;
        char* data = Header(waveBuffers[ringWrite])->lpData;
        if (compressedSound) {
            // The stream's last sound rarely fills a block: the rest is silence.
            const LONG got = compressedSound->Fill(reinterpret_cast<BYTE*>(data), blockBytes);
            if (got <= 0)
                break;
            std::memset(data + got, 0, static_cast<std::size_t>(blockBytes - got));
            ringWrite = (ringWrite + 1) % waveBufferCount;
            ++read;
            continue;
        }
        LONG bytes = 0;
        LONG samples = 0;
        const HRESULT hr = AVIStreamRead(audioStream, static_cast<LONG>(start), blockSamples, data,
                                         blockBytes, &bytes, &samples);
        if (hr != AVIERR_OK || bytes < blockBytes)
            break;
        ringWrite = (ringWrite + 1) % waveBufferCount;
        ++read;
    }
    nextAudioBlock += read;
    return read;
}

LONG Movie::SubmitBlocks() {
    LONG submitted = 0;
    while (ringQueued < waveBufferCount && ringSubmit != ringWrite && submitted < waveBufferCount) {
        // A device that refuses the buffer (its server has gone) keeps it
        // waiting here rather than counting it as queued.
        if (waveOutWrite(waveOut, Header(waveBuffers[ringSubmit]), sizeof(WAVEHDR)) != MMSYSERR_NOERROR)
            break;
        ++ringQueued;
        ringSubmit = (ringSubmit + 1) % waveBufferCount;
        ++submitted;
    }
    return submitted;
}

LONG Movie::OnBufferDone() {
    // A buffer that comes back while paused (it finished just before the
    // device stopped) is still refilled: the device is paused, so the new one
    // waits, and the ring keeps its depth for the resume. Only a device being
    // reset by a stop ignores its buffers, and that is told by the audio's own
    // state, not by the movie's playing and paused flags: a pause stores those
    // one after the other, and a buffer ignored between the two stores would
    // leave the ring one buffer short for the rest of the play.
    if (audioBaseTime < 0)
        return kAudioStopped;
    ReadBlocks(1);
    --ringQueued;
    SubmitBlocks();
    return kOk;
}

void WaveCallback(HWAVEOUT device, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR param2) {
    switch (message) {
    case MM_WOM_OPEN:
        callbackMovie = reinterpret_cast<Movie*>(instance);
        break;
    case MM_WOM_CLOSE:
        callbackMovie = nullptr;
        break;
    case MM_WOM_DONE:
        if (callbackMovie)
            callbackMovie->OnBufferDone();
        break;
    default:
        break;
    }
}

LONG Movie::AudioClock() {
    if (!waveOut)
        return kNoWaveDevice;
    MMTIME time{};
    time.wType = TIME_SAMPLES;
    if (waveOutGetPosition(waveOut, &time, sizeof time) != MMSYSERR_NOERROR)
        return kWavePositionUnreadable;
    std::int64_t value = -1;
    const LONG base = audioBaseTime;
    DWORD heard = 0;
    if (time.wType == TIME_SAMPLES && samplesPerSecond > 0) {
        heard = time.u.sample;
        value = ToMilliseconds(heard, samplesPerSecond) + base;
    } else if (time.wType == TIME_BYTES && bytesPerSecond > 0) {
        heard = time.u.cb;
        value = ToMilliseconds(heard, bytesPerSecond) + base;
    }
    if (base < 0 || value < 0)
        return kNoAudioClock;
    const auto reading = static_cast<LONG>(std::min<std::int64_t>(value, INT32_MAX));
    // While paused the system clock's part stands still with the position.
    const DWORD now = audioClockPaused ? audioPauseTime : timeGetTime();

    // Until the first sound of this play reaches the listener (the device's
    // latency, tens of milliseconds on a sound server), the clock waits at the
    // start: carrying it on would show frames ahead of the sound and then take
    // them back when the position starts to move. A device that stays silent
    // for longer is not waited for.
    if (clockRepeatCount == kWaitingForSound) {
        if (heard == 0 && now - clockRepeatStart < kMaxSoundLatencyMs) {
            lastClockValue = reading;
            return reading;
        }
        clockRepeatCount = 0;
    }

    // A coarse device repeats its position; carry the clock on with the
    // system clock until the position moves again.
    if (reading == lastClockValue) {
        if (clockRepeatCount == 0) {
            clockRepeatStart = now;
            clockRepeatCount = 1;
            return reading;
        }
        ++clockRepeatCount;
        const std::int64_t smoothed = static_cast<std::int64_t>(reading) + (now - clockRepeatStart);
        return static_cast<LONG>(std::min<std::int64_t>(smoothed, INT32_MAX));
    }
    lastClockValue = reading;
    clockRepeatCount = 0;
    return reading;
}
