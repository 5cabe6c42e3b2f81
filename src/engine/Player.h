// The player: the process-wide run-time state around the one Movie and one
// function per transport action.
//
// Every function here is called on the window thread with the main window
// (the owner of the movie). The playback thread only reads the flags under
// playerLock and posts commands back to the window (IDM_STOP, IDM_REWIND,
// IDM_PLAY); it never waits for the window thread.
//
// Locking: playerLock is held by the playback thread for each test of the
// flags and each frame step, and by the window thread only while it changes
// playerPlaying and playerPaused. Stopping and pausing clear the flag under the
// lock before touching the Movie; starting sets it after the Movie is ready.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "engine/Movie.h"
#include "engine/OwnerWindow.h"
#include "engine/PlaybackThread.h"
#include "platform/gdi/Gdi.h"

extern std::unique_ptr<Movie> theMovie;
extern std::mutex playerLock;
// Plain 32-bit flags in spirit; atomics so that readers outside the lock (the
// status bar, the command handlers) are well defined.
extern std::atomic<LONG> playerPlaying;
extern std::atomic<LONG> playerPaused;
extern std::atomic<LONG> loopPlayback;
extern std::unique_ptr<PlaybackThread> playbackThreadHandle;
extern LONG fileSizeKB;

void CreatePlayer(OwnerWindow* window);
void DestroyPlayer(OwnerWindow* window);
// 1 on success, 0 on failure (a message box has been shown unless the file
// could not be read at all or the index-progress callback cancelled the open).
INT OpenMovie(OwnerWindow* window, const char* path);
void CloseMovie(OwnerWindow* window);
void PaintMovie(HDC paintDC);
// `changer` is the window that changed the system palette, or null when a new
// palette is asked for; nothing happens when it is `window` itself.
void RealizeMoviePalette(OwnerWindow* window, const void* changer);
void StartPlayback(OwnerWindow* window);
void StopPlayback(OwnerWindow* window);
void PausePlayback(OwnerWindow* window);
void SeekToFrame(OwnerWindow* window, LONG frame);
void StepPlayback(OwnerWindow* window, LONG count);
void JumpPercent(OwnerWindow* window, LONG percent);
void JumpSeconds(OwnerWindow* window, LONG seconds);

// The Tavro codec's controls at player level, for the control dialogs. Each
// does nothing without a movie decoder, and sends nothing unless the decoder
// has the Tavro codec's controls (TavroControls), so the get operations then
// leave their outputs as they were. A change of colours or time budget while not playing
// makes the next paint decode the current frame afresh; while playing, the
// next frame shows it. The access key changes nothing of the current frame
// by itself (a paint always decodes the still frame again).
void GetColorControls(LONG* brightness, LONG* saturation, LONG* contrast, BOOL defaults);
void SetColorControls(LONG brightness, LONG saturation, LONG contrast, BOOL reset);
void GetScalability(LONG* ms, BOOL defaults);
void SetScalability(LONG ms, BOOL reset);
void SetAccessKey(LONG key);

// The open movie's picture as the shell sees it: the decoder's answers and
// the drag of the picture, so that the window need not hold the decoder. With
// no movie decoder the queries answer -1 (FALSE for the yes/no ones) and leave
// their outputs untouched.
BOOL MovieHasDecoder();
BOOL MovieCodecIsTavro();
// The decoder's answer (0 = it can) to decoding its output format at `bits`
// per pixel, at the current decode rectangle.
LONG QueryMovieDepth(WORD bits);
// The rectangle the window shows (x, y, width, height as a RECT).
LONG GetMovieViewRect(RECT* r);
// The part of the picture the Tavro codec last updated; the decoder's answer.
LONG GetMovieUpdatedRect(RECT* r);
// Moves the decode rectangle by (dx, dy) when the decoder takes it there;
// otherwise the decoder's refusal, and the rectangle stays.
LONG MoveMovieDecodeRect(LONG dx, LONG dy);
