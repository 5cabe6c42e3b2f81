// Wave output: the waveOut* family with its published names, constants, error
// codes and semantics, played through a sound server (libpulse) or a null
// device that consumes buffers in real time.
//
// Contract
// - One output device (WAVE_MAPPER or device 0). Each waveOutOpen gives an
//   independent handle; several may be open at once.
// - Formats: PCM only (WAVE_FORMAT_PCM), 1..8 channels, 8/16/24/32 bits,
//   nBlockAlign = nChannels * wBitsPerSample / 8, 1..384000 samples per second.
//   Anything else answers WAVERR_BADFORMAT. cbSize is never read for PCM.
// - Callbacks: CALLBACK_NULL or CALLBACK_FUNCTION only (others answer
//   MMSYSERR_INVALFLAG). MM_WOM_OPEN, MM_WOM_DONE (dwParam1 = the WAVEHDR*) and
//   MM_WOM_CLOSE are delivered in that order, one at a time, on a notification
//   thread that belongs to the handle, never on the caller's thread.
//   MM_WOM_OPEN is the first message and MM_WOM_CLOSE the last; waveOutClose
//   returns only after MM_WOM_CLOSE has been delivered.
// - A buffer is done (WHDR_DONE set, WHDR_INQUEUE cleared, MM_WOM_DONE sent)
//   when the device has finished with its data, which may be somewhat before
//   it is heard. Buffers complete in the order they were written.
// - waveOutReset returns every queued buffer at once: their flags are set and
//   their MM_WOM_DONE notifications have been delivered before it returns. The
//   position goes back to 0; a paused device stays paused.
// - waveOutClose with buffers still queued answers WAVERR_STILLPLAYING and
//   leaves the device open.
// - waveOutGetPosition: TIME_SAMPLES and TIME_BYTES are answered as asked by
//   default (the null device can be told to answer in bytes, see below); any
//   other type is answered in TIME_SAMPLES, so callers must check wType. The
//   position is the sample being heard now: the sound server's latency is
//   taken off, and it does not move while paused or starved.
// - When the sound server goes away, the handle stays valid; waveOutWrite,
//   waveOutPause, waveOutRestart and waveOutGetPosition answer
//   MMSYSERR_NODRIVER, and queued buffers come back at waveOutReset, after
//   which waveOutClose succeeds. Nothing waits more than a few seconds on a
//   server that does not answer.
//
// Threads
// - Every function may be called from any thread. Calls on one handle are
//   serialised internally.
// - From inside the callback (the notification thread) waveOutWrite,
//   waveOutPrepareHeader, waveOutUnprepareHeader, waveOutPause,
//   waveOutRestart and waveOutGetPosition are allowed, so a done notification
//   may refill and resubmit its buffer directly. waveOutReset and waveOutClose
//   must wait for the notification thread and answer MMSYSERR_HANDLEBUSY there.
//
// Backends
// - WaveBackend::Pulse: libpulse's asynchronous API with its threaded main
//   loop (PulseAudio or PipeWire's pulse server). The server is found the usual
//   way (PULSE_SERVER, XDG_RUNTIME_DIR); it is never spawned.
// - WaveBackend::Null: no sound; buffers are consumed at the format's rate from
//   the monotonic system clock and the position is exact.
// - Choice, made once at the first waveOutOpen (or WaveActiveBackend): the
//   backend given to WaveSetBackend if not Auto; else the environment variable
//   CADMO_AUDIO=pulse|null; else pulse if a server answers, otherwise null with
//   one line on stderr.
#pragma once

#include "platform/win32/Types.h"

struct HWAVEOUT__;
using HWAVEOUT = HWAVEOUT__*;
using LPHWAVEOUT = HWAVEOUT*;

// The callback of CALLBACK_FUNCTION: device, message, the instance data given
// to waveOutOpen, and the two message parameters.
using WAVECALLBACK = void (*)(HWAVEOUT hwo, UINT uMsg, DWORD_PTR dwInstance, DWORD_PTR dwParam1,
                              DWORD_PTR dwParam2);
using LPWAVECALLBACK = WAVECALLBACK;

// A buffer handed to the device. Holds pointers, so it is 48 bytes here rather
// than the 32 of a 32-bit build; it is never stored in files.
struct WAVEHDR {
    char* lpData;
    DWORD dwBufferLength;
    DWORD dwBytesRecorded;
    DWORD_PTR dwUser;
    DWORD dwFlags;
    DWORD dwLoops;
    WAVEHDR* lpNext;
    DWORD_PTR reserved;
};
using PWAVEHDR = WAVEHDR*;
using LPWAVEHDR = WAVEHDR*;

constexpr DWORD WHDR_DONE = 0x00000001;
constexpr DWORD WHDR_PREPARED = 0x00000002;
constexpr DWORD WHDR_BEGINLOOP = 0x00000004;
constexpr DWORD WHDR_ENDLOOP = 0x00000008;
constexpr DWORD WHDR_INQUEUE = 0x00000010;

struct MMTIME {
    UINT wType;
    union {
        DWORD ms;
        DWORD sample;
        DWORD cb;
        DWORD ticks;
        struct {
            BYTE hour;
            BYTE min;
            BYTE sec;
            BYTE frame;
            BYTE fps;
            BYTE dummy;
            BYTE pad[2];
        } smpte;
        struct {
            DWORD songptrpos;
        } midi;
    } u;
};
using LPMMTIME = MMTIME*;

constexpr UINT TIME_MS = 0x0001;
constexpr UINT TIME_SAMPLES = 0x0002;
constexpr UINT TIME_BYTES = 0x0004;
constexpr UINT TIME_SMPTE = 0x0008;
constexpr UINT TIME_MIDI = 0x0010;
constexpr UINT TIME_TICKS = 0x0020;

constexpr UINT WAVE_MAPPER = static_cast<UINT>(-1);

constexpr DWORD CALLBACK_TYPEMASK = 0x00070000;
constexpr DWORD CALLBACK_NULL = 0x00000000;
constexpr DWORD CALLBACK_WINDOW = 0x00010000;
constexpr DWORD CALLBACK_TASK = 0x00020000;
constexpr DWORD CALLBACK_THREAD = CALLBACK_TASK;
constexpr DWORD CALLBACK_FUNCTION = 0x00030000;
constexpr DWORD CALLBACK_EVENT = 0x00050000;
constexpr DWORD WAVE_FORMAT_QUERY = 0x0001;
constexpr DWORD WAVE_ALLOWSYNC = 0x0002;

constexpr UINT MM_WOM_OPEN = 0x3BB;
constexpr UINT MM_WOM_CLOSE = 0x3BC;
constexpr UINT MM_WOM_DONE = 0x3BD;
constexpr UINT WOM_OPEN = MM_WOM_OPEN;
constexpr UINT WOM_CLOSE = MM_WOM_CLOSE;
constexpr UINT WOM_DONE = MM_WOM_DONE;

constexpr MMRESULT MMSYSERR_BASE = 0;
constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_NOTENABLED = 3;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
constexpr MMRESULT MMSYSERR_BADERRNUM = 9;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT MMSYSERR_HANDLEBUSY = 12;
constexpr MMRESULT WAVERR_BASE = 32;
constexpr MMRESULT WAVERR_BADFORMAT = WAVERR_BASE + 0;
constexpr MMRESULT WAVERR_STILLPLAYING = WAVERR_BASE + 1;
constexpr MMRESULT WAVERR_UNPREPARED = WAVERR_BASE + 2;
constexpr MMRESULT WAVERR_SYNC = WAVERR_BASE + 3;

UINT waveOutGetNumDevs();
MMRESULT waveOutOpen(LPHWAVEOUT phwo, UINT uDeviceID, const WAVEFORMATEX* pwfx, DWORD_PTR dwCallback,
                     DWORD_PTR dwInstance, DWORD fdwOpen);
MMRESULT waveOutClose(HWAVEOUT hwo);
MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh);
MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh);
MMRESULT waveOutWrite(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh);
MMRESULT waveOutPause(HWAVEOUT hwo);
MMRESULT waveOutRestart(HWAVEOUT hwo);
MMRESULT waveOutReset(HWAVEOUT hwo);
MMRESULT waveOutGetPosition(HWAVEOUT hwo, LPMMTIME pmmt, UINT cbmmt);
// Copies a fixed English text for the code into the buffer (always
// terminated); MMSYSERR_BADERRNUM for an unknown code.
MMRESULT waveOutGetErrorTextA(MMRESULT mmrError, char* pszText, UINT cchText);

// ---- Backend choice (not part of the published API) ----

enum class WaveBackend { Auto, Pulse, Null };

// Chooses the backend for the rest of the process; call before the first
// waveOutOpen (the shell calls it for its --audio= option). Auto restores the
// default choice. Has no effect on handles already open. Any thread.
void WaveSetBackend(WaveBackend backend);

// Parses "pulse", "null" or "auto" (the text of --audio= and CADMO_AUDIO).
// Returns false and leaves *backend alone for anything else.
bool WaveParseBackend(const char* text, WaveBackend* backend);

// The backend that waveOutOpen uses, resolving Auto on the first call (which
// may take up to a second to ask for a server). Never returns Auto.
WaveBackend WaveActiveBackend();

// ---- Test hooks of the null device (not part of the published API) ----

// Applies to null-device handles opened afterwards.
struct WaveNullOptions {
    // TIME_SAMPLES, or TIME_BYTES to answer every position request in bytes,
    // as some drivers do, or TIME_MS to answer in a unit the caller did not ask for.
    UINT positionType = TIME_SAMPLES;
    // When non-zero, reported positions move in steps of this many
    // milliseconds, as a coarse device does; completions are unaffected.
    DWORD positionStepMs = 0;
    // When true, time stands still except for WaveNullAdvanceClock, which
    // makes play and completions deterministic.
    bool manualClock = false;
    // waveOutOpen answers MMSYSERR_ALLOCATED (device busy).
    bool failOpen = false;
    // waveOutPrepareHeader answers MMSYSERR_NOMEM after this many successful
    // preparations on a handle; -1 never fails.
    int failPrepareAfter = -1;
    // waveOutGetPosition answers MMSYSERR_NODRIVER.
    bool failPosition = false;
};
void WaveNullSetOptions(const WaveNullOptions& options);

// With manualClock: moves every null device's time forward, then waits until
// the done notifications that became due have been delivered (and any that
// their callbacks caused). Must not be called from a wave callback.
void WaveNullAdvanceClock(DWORD milliseconds);
