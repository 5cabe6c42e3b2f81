#include "engine/Player.h"

#include <cstdio>
#include <sys/stat.h>

#include "video/TavroControls.h"
#include "video/VideoDecoder.h"

std::unique_ptr<Movie> theMovie;
std::mutex playerLock;
std::atomic<LONG> playerPlaying{0};
std::atomic<LONG> playerPaused{0};
std::atomic<LONG> loopPlayback{0};
std::unique_ptr<PlaybackThread> playbackThreadHandle;
LONG fileSizeKB = 0;

namespace {

bool MovieLoaded() {
    return theMovie && theMovie->aviFile;
}

// Ends the playback thread. Never called with playerLock held: the thread
// finishes its current step (which takes the lock) before it sees the request.
void EndPlaybackThread() {
    if (playbackThreadHandle) {
        playbackThreadHandle->Stop();
        playbackThreadHandle.reset();
    }
}

// Frame numbers are 32-bit; offsets computed in 64 bits are clamped to that
// range before Movie::Seek and Movie::Step clamp them to the movie.
LONG ClampToLong(long long v) {
    if (v > 0x7fffffffLL)
        return 0x7fffffff;
    if (v < -0x7fffffffLL - 1)
        return static_cast<LONG>(-0x7fffffffLL - 1);
    return static_cast<LONG>(v);
}

} // namespace

void CreatePlayer(OwnerWindow* window) {
    playerPaused = 0;
    playerPlaying = 0;
    playbackThreadHandle.reset();
    theMovie = std::make_unique<Movie>();
}

void DestroyPlayer(OwnerWindow* window) {
    EndPlaybackThread();
    theMovie.reset();
}

INT OpenMovie(OwnerWindow* window, const char* path) {
    if (!theMovie || !path)
        return 0;
    // A file that cannot be opened for reading leaves the open movie alone
    // and says nothing. A directory opens for reading on this platform, but it
    // is no more a movie file than a missing one.
    std::FILE* file = std::fopen(path, "rb");
    if (!file)
        return 0;
    struct stat st {};
    const bool regular = fstat(fileno(file), &st) == 0 && !S_ISDIR(st.st_mode);
    std::fclose(file);
    if (!regular)
        return 0;
    const long long size = static_cast<long long>(st.st_size);
    fileSizeKB = ClampToLong(size / 1024);

    if (theMovie->aviFile)
        window->SendCommand(IDM_CLOSE);
    // The Close command's handler closes the movie; make sure of it even if
    // the window does not route the command here (the new file must never be
    // opened over a playing one).
    if (theMovie->aviFile)
        CloseMovie(window);

    if (const HRESULT hr = theMovie->OpenFile(path); hr != 0) {
        // Cancelled by the user in the index-progress callback: the window
        // that offered Cancel says so itself; an error box would be wrong.
        if (hr == AVIERR_USERABORT)
            return 0;
        window->ShowMessageBox("Error: Cannot open AVI file", "Vorple Error", MB_OK | MB_ICONEXCLAMATION);
        return 0;
    }
    if (theMovie->OpenStreams(window) != kOk) {
        window->ShowMessageBox("Error: Cannot read Video or Audio stream", "Vorple Error",
                               MB_OK | MB_ICONEXCLAMATION);
        return 0;
    }
    window->PostFitWindow();
    return 1;
}

void CloseMovie(OwnerWindow* window) {
    if (theMovie && !theMovie->aviFile)
        return;
    if (theMovie) {
        StopPlayback(window);
        EndPlaybackThread();
        theMovie->CloseStreams();
        theMovie->ReleaseFile();
    }
    window->PostFitWindow();
}

void PaintMovie(HDC paintDC) {
    // Also not while the movie's own drawing cycle is still open: between the
    // end of the movie (the thread has cleared playerPlaying) and the posted
    // Stop, a paint would take over drawDC and the playing context would
    // never be given back. The last frame is on the screen then anyway.
    if (!MovieLoaded() || playerPlaying || theMovie->playing)
        return;
    theMovie->BeginDrawing(paintDC, -1);
    theMovie->ShowFrame();
    theMovie->EndDrawing();
}

void RealizeMoviePalette(OwnerWindow* window, const void* changer) {
    if (!theMovie || !theMovie->decoder || changer == window)
        return;
    HPALETTE pal = theMovie->decoder->palette;
    HDC dc = theMovie->drawDC;
    if (!pal || !dc)
        return;
    HPALETTE previous = SelectPalette(dc, pal, FALSE);
    RealizePalette(dc);
    if (previous)
        SelectPalette(dc, previous, FALSE);
}

void StartPlayback(OwnerWindow* window) {
    if (!MovieLoaded() || playerPlaying)
        return;
    // After a failed stream open the file is attached without a playable
    // video stream: refuse instead of setting playerPlaying on it.
    if (!theMovie->videoStream || !theMovie->decoder)
        return;
    if (!playerPaused && !playbackThreadHandle)
        playbackThreadHandle = std::make_unique<PlaybackThread>(theMovie.get());
    HDC dc = window->GetDC();
    if (theMovie->Play(dc) != kOk) {
        // Refused (for example still playing after the end was reached and
        // before the posted Stop arrives): the context is not in use.
        if (dc)
            window->ReleaseDC(dc);
        return;
    }
    if (!dc || theMovie->drawDC != dc) {
        // Drawing could not begin (no context, or the codec refused the
        // output): nothing would ever be shown, and Stop could not give the
        // context back because the movie no longer holds it. Without a
        // context drawDC is null too, so that case is tested on its own.
        // The movie is stopped now, also when this was a resume: the player
        // must not go on showing it as paused.
        theMovie->Stop();
        {
            std::lock_guard<std::mutex> guard(playerLock);
            playerPaused = 0;
        }
        if (dc)
            window->ReleaseDC(dc);
        return;
    }
    {
        std::lock_guard<std::mutex> guard(playerLock);
        playerPaused = 0;
        playerPlaying = 1;
    }
    if (playbackThreadHandle)
        playbackThreadHandle->Wake();
}

void StopPlayback(OwnerWindow* window) {
    if (!MovieLoaded())
        return;
    {
        std::lock_guard<std::mutex> guard(playerLock);
        playerPaused = 0;
        playerPlaying = 0;
    }
    HDC dc = theMovie->drawDC;
    theMovie->Stop();
    theMovie->skippedFrames = 0;
    if (dc)
        window->ReleaseDC(dc);
}

void PausePlayback(OwnerWindow* window) {
    if (!MovieLoaded() || !playerPlaying)
        return;
    {
        std::lock_guard<std::mutex> guard(playerLock);
        playerPlaying = 0;
        playerPaused = 1;
    }
    HDC dc = theMovie->drawDC;
    theMovie->Pause();
    if (dc)
        window->ReleaseDC(dc);
}

void SeekToFrame(OwnerWindow* window, LONG frame) {
    if (!MovieLoaded())
        return;
    if (playerPlaying || playerPaused) {
        StopPlayback(window);
        theMovie->Seek(frame);
        StartPlayback(window);
    } else {
        theMovie->Seek(frame);
    }
}

void StepPlayback(OwnerWindow* window, LONG count) {
    if (!MovieLoaded())
        return;
    if (playerPlaying || playerPaused)
        StopPlayback(window);
    theMovie->Step(count);
}

void JumpPercent(OwnerWindow* window, LONG percent) {
    if (!MovieLoaded())
        return;
    if (playerPlaying || playerPaused)
        StopPlayback(window);
    // The factor is the single-precision 0.01 (0.0099999998), applied in
    // double so that 10 % of 1000 frames is 99, not 100.
    const double frames = static_cast<double>(theMovie->lastFrame) - theMovie->firstFrame + 1;
    const long long offset = static_cast<long long>(percent * static_cast<double>(0.01f) * frames);
    theMovie->Seek(ClampToLong(theMovie->position + offset));
}

void JumpSeconds(OwnerWindow* window, LONG seconds) {
    if (!MovieLoaded())
        return;
    if (playerPlaying || playerPaused)
        StopPlayback(window);
    const LONG frames = static_cast<LONG>(theMovie->frameRate + 0.5f);
    theMovie->Step(ClampToLong(static_cast<long long>(seconds) * frames));
}

namespace {

// The Tavro codec's controls of the open movie's decoder, or null: the codec
// controls do nothing without a decoder, and send nothing unless its codec is
// the Tavro codec (so the get operations leave their outputs as they were).
VideoDecoder* MovieDecoder() {
    return theMovie ? theMovie->decoder.get() : nullptr;
}

TavroControls* MovieTavro() {
    return theMovie && theMovie->decoder ? theMovie->decoder->Tavro() : nullptr;
}

// After a change of the picture's settings a still frame is decoded afresh
// at the next paint; a playing movie shows it with its next frame. Any
// decoder counts, as it always has: another codec merely decodes again.
void RedecodeWhenStill() {
    if (!playerPlaying)
        theMovie->decodedFrame = -1;
}

} // namespace

void GetColorControls(LONG* brightness, LONG* saturation, LONG* contrast, BOOL defaults) {
    if (TavroControls* t = MovieTavro())
        t->GetColorControls(brightness, saturation, contrast, defaults);
}

void SetColorControls(LONG brightness, LONG saturation, LONG contrast, BOOL reset) {
    if (!MovieHasDecoder())
        return;
    if (TavroControls* t = MovieTavro())
        t->SetColorControls(brightness, saturation, contrast, reset);
    RedecodeWhenStill();
}

void GetScalability(LONG* ms, BOOL defaults) {
    if (TavroControls* t = MovieTavro())
        t->GetScalability(ms, defaults);
}

void SetScalability(LONG ms, BOOL reset) {
    if (!MovieHasDecoder())
        return;
    if (TavroControls* t = MovieTavro())
        t->SetScalability(ms, reset);
    RedecodeWhenStill();
}

void SetAccessKey(LONG key) {
    if (TavroControls* t = MovieTavro())
        t->SetAccessKey(key);
}

BOOL MovieHasDecoder() {
    return MovieDecoder() != nullptr;
}

BOOL MovieCodecIsTavro() {
    const VideoDecoder* d = MovieDecoder();
    return d != nullptr && d->IsTavro();
}

LONG QueryMovieDepth(WORD bits) {
    VideoDecoder* d = MovieDecoder();
    if (d == nullptr)
        return kNoVideo;
    BITMAPINFOHEADER header{};
    d->GetOutputFormat(&header);
    header.biBitCount = bits;
    return d->QueryDecode(&header, 0, 0, 0, 0);
}

LONG GetMovieViewRect(RECT* r) {
    const VideoDecoder* d = MovieDecoder();
    if (d == nullptr)
        return kNoVideo;
    d->GetViewRect(r);
    return 0;
}

LONG GetMovieUpdatedRect(RECT* r) {
    const VideoDecoder* d = MovieDecoder();
    return d != nullptr ? d->GetUpdatedRect(r) : kNoVideo;
}

LONG MoveMovieDecodeRect(LONG dx, LONG dy) {
    VideoDecoder* d = MovieDecoder();
    if (d == nullptr)
        return kNoVideo;
    RECT r{};
    d->GetDecodeRect(&r);
    const LONG answer = d->QueryDecode(nullptr, r.left + dx, r.top + dy, 0, 0);
    if (answer != 0)
        return answer;
    r.left += dx;
    r.right += dx;
    r.top += dy;
    r.bottom += dy;
    d->SetDecodeRect(r);
    return 0;
}
