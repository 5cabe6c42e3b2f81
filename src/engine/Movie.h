// The one movie object: an open AVI file, its first video and audio streams,
// the frame range and rate, the current position, the frame scheduler's state
// and the audio ring.
//
// Status convention: 0 (kOk) is success, negative values are refusals, each
// named in engine/Status.h. Movie::OpenFile alone returns the AVI library's
// own error code.
//
// Threads: the window thread performs every operation, except that while the
// player is playing the playback thread runs ShowFrame and PresentFrame (and
// with them PrepareFrame, CatchUp and AudioClock) holding playerLock, and the wave
// device's notification thread runs OnBufferDone. The fields that other
// threads read without the lock (the flags, position, skippedFrames,
// audioBaseTime) are atomics.
//
// The audio operations (OpenAudio .. OnBufferDone, AudioClock) and
// WaveCallback are implemented in src/audio.
#pragma once

#include <array>
#include <atomic>
#include <memory>

#include "engine/Status.h"
#include "platform/avi/AviFile.h"
#include "platform/gdi/Gdi.h"
#include "platform/wave/WaveOut.h"
#include "platform/win32/Types.h"

class VideoDecoder;
struct FormatBlock;
class DibImage;
class OwnerWindow;
class MovieClock;
class CompressedSound;

class Movie {
public:
    static constexpr int waveBufferCount = 32;

    Movie();  // AVIFileInit
    ~Movie(); // CloseStreams, ReleaseFile, AVIFileExit
    Movie(const Movie&) = delete;
    Movie& operator=(const Movie&) = delete;

    // --- AVI file and streams ---
    HRESULT OpenFile(const char* path);
    LONG ReleaseFile();
    LONG OpenStreams(OwnerWindow* owner);
    LONG CloseStreams();
    LONG SetupVideo();
    LONG TeardownVideo();
    LONG Seek(LONG frame);
    LONG Step(LONG count);
    LONG FrameToTime(LONG frame) const;
    LONG TimeToFrame(LONG time) const;
    LONG IsKeyFrame(LONG frame) const;

    // --- transport (window thread) ---
    LONG Play(HDC dc);
    LONG Stop();
    LONG Pause();

    // --- frame scheduling ---
    LONG BeginDrawing(HDC dc, LONG frame);
    LONG EndDrawing();
    // While playing, a `leadMs` above 0 looks that far ahead: the frame due
    // then is decoded now and held back (FramePending) until PresentFrame
    // shows it, so the decoding time does not make it late. A frame already
    // due is shown at once, as with no lead.
    LONG ShowFrame(LONG leadMs = 0);
    LONG PrepareFrame();
    void CatchUp();
    // Shows the frame ShowFrame held back; kOk when there is none.
    LONG PresentFrame();
    bool FramePending() const { return framePending; }
    // Stream time in ms at which the held-back frame is due.
    LONG PendingDueTime() const { return pendingDue; }

    // Stream time in ms at which the frame on screen should next change: the
    // earliest time that maps to a frame after `position`. Used by the playback
    // thread to sleep until then instead of polling.
    LONG NextFrameDueTime() const;
    // The earliest stream time that maps to `frame`.
    LONG FrameDueTime(LONG frame) const;
    // The time the scheduler reads while playing: the audio clock, or the
    // system clock mapped onto stream time when there is no audio clock.
    LONG CurrentStreamTime();

    // --- display ---
    LONG SetDisplayFormat(float zoom, INT bitsPerPixel, INT doubling, LONG width, LONG height);
    LONG SetDisplayPalette(const LOGPALETTE* palette);
    LONG SetBackgroundImage(const char* path);

    // --- audio (implemented in src/audio) ---
    LONG OpenAudio();
    LONG CloseAudio();
    LONG StartAudio(LONG sample);
    LONG StopAudio();
    LONG PauseAudio();
    LONG ResumeAudio();
    LONG AudioClock();
    LONG ReadBlocks(LONG count);
    LONG SubmitBlocks();
    LONG OnBufferDone();
    LONG OpenCompressedAudio(const AVISTREAMINFOA& info, WAVEFORMATEX& format);
    LONG OpenRing(const WAVEFORMATEX& format);

    // Clock injection for tests; null means timeGetTime and AudioClock. The
    // Movie does not own the clock.
    void SetClock(MovieClock* c) { clock = c; }

    // --- fields, in their declared order ---
    std::unique_ptr<VideoDecoder> decoder;
    DibImage* backgroundImage = nullptr; // the decoder owns it once taken
    PAVIFILE aviFile = nullptr;          // a movie is loaded exactly when set
    PAVISTREAM videoStream = nullptr;
    PAVISTREAM audioStream = nullptr;
    OwnerWindow* ownerWindow = nullptr;
    std::atomic<LONG> playing{0};
    std::atomic<LONG> paused{0};
    float frameRate = 0.0f;
    UINT timerPeriod = 0;
    HDC drawDC = nullptr;
    LONG playStartTime = 0;
    LONG playStartStreamTime = 0;
    LONG prevDrawnFrame = 0;
    std::atomic<LONG> skippedFrames{0};
    std::atomic<LONG> position{0};
    std::atomic<LONG> decodedFrame{0};
    LONG prevKeyFrame = 0;
    LONG nextKeyFrame = 0;
    LONG firstFrame = 0;
    LONG lastFrame = 0;
    std::unique_ptr<BYTE[]> frameBuffer;
    LONG frameBufferSize = 0;
    HWAVEOUT waveOut = nullptr;
    std::atomic<LONG> audioBaseTime{0};
    LONG lastAudioBlock = 0;
    LONG audioInitialFrames = 0;
    LONG samplesPerSecond = 0;
    LONG bytesPerSecond = 0;
    LONG sampleSize = 0;
    LONG blockSamples = 0;
    LONG nextAudioBlock = 0;
    // Each buffer is one allocation: a WAVEHDR followed by the block's data.
    std::array<std::unique_ptr<BYTE[]>, waveBufferCount> waveBuffers;
    LONG ringWrite = 0;
    LONG ringSubmit = 0;
    LONG ringQueued = 0;
    // The frame from which the colour table given to the decoder is in effect
    // (AVIStreamFindSample with FIND_FORMAT), or kNoFormatChanges for a stream
    // whose palette never changes.
    static constexpr LONG kNoFormatChanges = -2;
    LONG formatFrame = kNoFormatChanges;
    // The decoder of a compressed audio stream while its device is open;
    // null for PCM, which the ring reads as it is stored.
    std::unique_ptr<CompressedSound> compressedSound;
    // While the audio is paused, and since when (system time): the audio
    // clock then stands, and the part of it that the system clock carries
    // (see AudioClock) resumes without counting the pause.
    bool audioClockPaused = false;
    DWORD audioPauseTime = 0;

private:
    DWORD SystemTime() const;
    void EndTimerPeriod();
    // Reads one frame into frameBuffer; its size in bytes, or -1.
    LONG ReadFrame(LONG frame);
    // Gives the decoder the colour table in effect at `frame` when it is not
    // the one it has.
    void ApplyFormatAt(LONG frame);
    // What becomes of the picture FeedFrame decodes: left in the hidden
    // buffer, drawn, or decoded into the shown buffer and held back for
    // PresentFrame.
    enum class Picture { kUndrawn, kDrawn, kHeld };
    // Feeds the decoder what it needs to give the picture of `frame`; the
    // codec's answer, or kUnreadable (MovieFrames.cpp).
    LONG FeedFrame(LONG frame, Picture picture, DWORD flags);

    MovieClock* clock = nullptr;
    // A frame decoded ahead and not yet shown (ShowFrame with a lead): the
    // decoder's picture is `position`, due at pendingDue.
    bool framePending = false;
    LONG pendingDue = 0;
};

// The colours of the table that follows a stored video format of formatSize
// bytes: biClrUsed (0: 2 ^ bit count) when the header is the plain 40 bytes,
// the bit count is 8 or fewer and the whole table is stored; otherwise 0.
DWORD PaletteColors(const BITMAPINFOHEADER& format, LONG formatSize);

// The wave device's notification callback (src/audio); instance data is the
// Movie. Runs on the wave layer's notification thread.
void WaveCallback(HWAVEOUT device, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR param2);

// Process-wide values of the audio clock and callback (src/audio).
extern Movie* callbackMovie;
extern LONG lastClockValue;
extern LONG clockRepeatCount;
extern DWORD clockRepeatStart;
