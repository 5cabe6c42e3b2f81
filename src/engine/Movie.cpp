#include "engine/Movie.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#include "audio/CompressedSound.h"
#include "engine/MovieClock.h"
#include "engine/OwnerWindow.h"
#include "platform/mm/Mm.h"
#include "video/VideoDecoder.h"

namespace {

// Clamps a 64-bit frame number into [first, last]. The arithmetic of Step and
// the jumps is done in 64 bits so that large offsets (the End key passes
// 0x40000000) cannot wrap before clamping.
LONG ClampFrame(long long frame, LONG first, LONG last) {
    if (frame < first)
        return first;
    if (frame > last)
        return last;
    return static_cast<LONG>(frame);
}

void FatalFromDecoder(void* context, INT status) {
    auto* owner = static_cast<OwnerWindow*>(context);
    if (owner)
        owner->FatalError(status);
    std::_Exit(status);
}

} // namespace

DWORD PaletteColors(const BITMAPINFOHEADER& format, LONG formatSize) {
    if (format.biSize != sizeof(BITMAPINFOHEADER) || format.biBitCount == 0 || format.biBitCount > 8)
        return 0;
    const DWORD most = 1u << format.biBitCount;
    const DWORD colors = format.biClrUsed ? format.biClrUsed : most;
    if (colors > most || formatSize < static_cast<LONG>(sizeof(BITMAPINFOHEADER) + colors * sizeof(RGBQUAD)))
        return 0;
    return colors;
}

Movie::Movie() {
    AVIFileInit();
}

Movie::~Movie() {
    CloseStreams();
    ReleaseFile();
    AVIFileExit();
}

HRESULT Movie::OpenFile(const char* path) {
    // The player closes the previous movie first; streams still open here
    // (a caller that did not) are released rather than dropped.
    if (videoStream || audioStream)
        CloseStreams();
    if (aviFile)
        ReleaseFile();
    PAVIFILE file = nullptr;
    HRESULT hr = AVIFileOpenA(&file, path, OF_SHARE_DENY_WRITE, nullptr);
    if (hr != AVIERR_OK) {
        if (file)
            AVIFileRelease(file);
        aviFile = nullptr;
        return hr;
    }
    aviFile = file;
    return 0;
}

LONG Movie::ReleaseFile() {
    if (aviFile) {
        AVIFileRelease(aviFile);
        aviFile = nullptr;
    }
    return kOk;
}

LONG Movie::OpenStreams(OwnerWindow* owner) {
    if (videoStream || audioStream)
        CloseStreams();
    paused = 0;
    playing = 0;
    ownerWindow = owner;
    decoder.reset();
    waveOut = nullptr;
    // Nothing of a movie opened before survives into this one: a file refused
    // below stays attached until closed, and the window must not show the
    // old movie's position for it.
    position = firstFrame = lastFrame = 0;
    frameRate = 0.0f;
    skippedFrames = 0;
    if (!aviFile)
        return kNoMovie;

    // Any failure to get a stream counts as a missing stream: a damaged file
    // is refused the same way as one without video.
    if (AVIFileGetStream(aviFile, &videoStream, streamtypeVIDEO, 0) != AVIERR_OK) {
        videoStream = nullptr;
        return kNoVideo;
    }
    if (AVIFileGetStream(aviFile, &audioStream, streamtypeAUDIO, 0) != AVIERR_OK)
        audioStream = nullptr;

    AVISTREAMINFOA info{};
    if (AVIStreamInfoA(videoStream, &info, sizeof info) != AVIERR_OK || info.dwScale == 0 ||
        info.dwRate == 0) {
        // No usable frame rate: nothing could be timed, so the stream is
        // refused like a file without video.
        CloseStreams();
        return kNoVideo;
    }
    frameRate =
        static_cast<float>(static_cast<long double>(info.dwRate) / static_cast<long double>(info.dwScale));
    return SetupVideo();
}

LONG Movie::CloseStreams() {
    Stop();
    TeardownVideo();
    CloseAudio();
    if (videoStream) {
        AVIStreamRelease(videoStream);
        videoStream = nullptr;
    }
    if (audioStream) {
        AVIStreamRelease(audioStream);
        audioStream = nullptr;
    }
    return kOk;
}

LONG Movie::SetupVideo() {
    if (!videoStream)
        return kNoVideoStream;
    if (decoder)
        TeardownVideo();
    playStartTime = -1;

    AVISTREAMINFOA info{};
    if (AVIStreamInfoA(videoStream, &info, sizeof info) != AVIERR_OK)
        return kFormatRefused;
    // Frame numbers are signed 32-bit; a stream that cannot be numbered so,
    // or that has no frame at all, has nothing to show.
    const long long start = info.dwStart;
    const long long last = start + static_cast<long long>(info.dwLength) - 1;
    if (info.dwLength == 0 || last > 0x7fffffffLL)
        return kFormatRefused;
    position = firstFrame = static_cast<LONG>(start);
    lastFrame = static_cast<LONG>(last);
    decodedFrame = static_cast<LONG>(start - 1);
    // Key frames cached for a previous movie say nothing about this one; kept,
    // they would start a catch-up at a delta frame of the new stream.
    prevKeyFrame = -1;
    nextKeyFrame = -1;

    LONG formatSize = 0;
    if (AVIStreamReadFormat(videoStream, firstFrame, nullptr, &formatSize) != AVIERR_OK ||
        formatSize < static_cast<LONG>(sizeof(BITMAPINFOHEADER)) ||
        formatSize > static_cast<LONG>(sizeof(FormatBlock)))
        return kFormatRefused;
    FormatBlock block{};
    if (AVIStreamReadFormat(videoStream, firstFrame, &block, &formatSize) != AVIERR_OK)
        return kFormatRefused;
    const BITMAPINFOHEADER& format = block.header;
    // Beyond the bare header only a colour table is taken, and only one that
    // the stored format holds whole.
    const DWORD colors = PaletteColors(format, formatSize);
    if (formatSize != static_cast<LONG>(sizeof(BITMAPINFOHEADER)) && colors == 0)
        return kFormatRefused;
    // A frame whose size does not fit the size rule would get a short buffer;
    // refuse it before anything is allocated.
    const LONG bytes = FrameBytes(format);
    if (bytes <= 0)
        return kFormatRefused;

    decoder.reset(new (std::nothrow) VideoDecoder());
    if (!decoder)
        FatalFromDecoder(ownerWindow, FATAL_NOT_ENOUGH_MEMORY);
    decoder->SetFatalErrorHandler(&FatalFromDecoder, ownerWindow);
    if (decoder->Open(info.fccHandler, format, colors ? block.colors : nullptr, colors) != 0) {
        TeardownVideo();
        return kDecoderFailed;
    }

    frameBuffer.reset(new (std::nothrow) BYTE[static_cast<std::size_t>(bytes)]);
    if (!frameBuffer)
        FatalFromDecoder(ownerWindow, FATAL_NOT_ENOUGH_MEMORY);
    frameBufferSize = bytes;
    skippedFrames = 0;
    formatFrame = colors != 0 && (info.dwFlags & AVISTREAMINFO_FORMATCHANGES) ? firstFrame : kNoFormatChanges;
    return kOk;
}

LONG Movie::TeardownVideo() {
    backgroundImage = nullptr; // owned by the decoder, which goes now
    frameBuffer.reset();
    frameBufferSize = 0;
    if (decoder) {
        decoder->Close();
        decoder.reset();
    }
    return kOk;
}

LONG Movie::Seek(LONG frame) {
    if (playing)
        return kNoSeekWhilePlaying;
    position = ClampFrame(frame, firstFrame, lastFrame);
    if (position == firstFrame) {
        decodedFrame = -1;
        prevKeyFrame = -1;
        nextKeyFrame = -1;
    }
    return position;
}

LONG Movie::Step(LONG count) {
    if (playing)
        return kNoSeekWhilePlaying;
    position = ClampFrame(static_cast<long long>(position.load()) + count, firstFrame, lastFrame);
    return position;
}

LONG Movie::FrameToTime(LONG frame) const {
    return AVIStreamSampleToTime(videoStream, frame);
}

LONG Movie::TimeToFrame(LONG time) const {
    return AVIStreamTimeToSample(videoStream, time);
}

LONG Movie::IsKeyFrame(LONG frame) const {
    if (!videoStream)
        return 0;
    if (frame < 0)
        frame = position;
    return AVIStreamFindSample(videoStream, frame, FIND_PREV | FIND_KEY) == frame ? 1 : 0;
}

LONG Movie::Play(HDC dc) {
    if (!videoStream)
        return kNoVideo;
    if (playing)
        return kPlaying;
    playing = 1;

    TIMECAPS caps{};
    timerPeriod = 1;
    if (timeGetDevCaps(&caps, sizeof caps) == TIMERR_NOERROR)
        timerPeriod = std::max<UINT>(caps.wPeriodMin, 1);
    if (timeBeginPeriod(timerPeriod) != TIMERR_NOERROR)
        timerPeriod = 0;

    if (paused) {
        ResumeAudio();
    } else if (audioStream) {
        StartAudio(AVIStreamTimeToSample(audioStream, FrameToTime(position)));
    }
    paused = 0;
    BeginDrawing(dc, -1);
    return kOk;
}

void Movie::EndTimerPeriod() {
    if (timerPeriod) {
        timeEndPeriod(timerPeriod);
        timerPeriod = 0;
    }
}

LONG Movie::Stop() {
    playing = 0;
    paused = 0;
    StopAudio();
    EndDrawing();
    EndTimerPeriod();
    return kOk;
}

LONG Movie::Pause() {
    playing = 0;
    paused = 1;
    PauseAudio();
    EndDrawing();
    EndTimerPeriod();
    return kOk;
}

DWORD Movie::SystemTime() const {
    return clock ? clock->SystemTime() : timeGetTime();
}
