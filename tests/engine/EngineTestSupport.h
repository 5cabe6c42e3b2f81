// Test doubles for the engine: a recording codec driver, an owner window that
// queues posted commands until the test pumps them, a clock the test sets, a
// writer of small movies whose frames name their own frame number, and a movie
// that plays its sound alone.
#pragma once

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "codecs/qx47/Qx47State.h"
#include "engine/Movie.h"
#include "engine/MovieClock.h"
#include "engine/OwnerWindow.h"
#include "platform/gdi/Gdi.h"
#include "platform/vfw/Vfw.h"
#include "support/TempDir.h"
#include "support/TestAvi.h"

namespace enginetest {

constexpr FOURCC kFake = mmioFOURCC('f', 'a', 'k', 'e');

// One message as the fake driver received it.
struct CodecCall {
    UINT msg = 0;
    DWORD flags = 0;
    LONG frame = -1;    // ICM_DECOMPRESSEX: the frame number stored in the data
    DWORD srcBytes = 0; // ICM_DECOMPRESSEX: the source header's biSizeImage
    ICDECOMPRESSEX rec{};
    BITMAPINFOHEADER dst{};
    BITMAPINFOHEADER src{};   // the source header as the driver saw it
    std::vector<BYTE> record; // ICM_GETSTATE / ICM_SETSTATE: the record as sent
    LPARAM length = 0;
    LPARAM p1 = 0;
};

// The fake decompressor, registered for "fake" and "qx47". It accepts sources
// whose compression is one of those two, decodes by filling the whole
// destination frame with the low byte of the frame number (read from the
// first four bytes of the frame data), and records every message. Its state
// answers claim a record of 4096 bytes in their size word, as a codec may.
class FakeCodec {
public:
    static FakeCodec& Get(); // registers the driver on first use

    void Reset();
    std::vector<CodecCall> Calls(UINT msg = 0); // 0: every message
    // Frames that reached ICM_DECOMPRESSEX, in order, with their flags.
    std::vector<std::pair<LONG, DWORD>> Decodes();
    void ClearCalls();

    // Policies, changeable by a test.
    LONG maxOutputWidth = INT_MAX; // ICM_DECOMPRESSEX_QUERY refuses wider outputs
    LRESULT setPaletteAnswer = ICERR_OK;
    LRESULT setStateAnswer = ICERR_OK;
    LRESULT beginAnswer = ICERR_OK;
    LRESULT delayAnswer = ICERR_UNSUPPORTED; // ICM_DECOMPRESS_GET_DELAY

    LRESULT Handle(DWORD_PTR id, UINT msg, LPARAM p1, LPARAM p2);

private:
    FakeCodec();
    std::mutex lock;
    std::vector<CodecCall> calls;
    // Where the Tavro instance that set it reports the area it covered; it
    // goes with that instance, as a codec's memory of the address does.
    LONG* bounds = nullptr;
    DWORD_PTR boundsOwner = 0;
};

// An owner window whose posted commands wait for Pump(), which dispatches them
// as the shell's handlers do (Stop, Rewind, Play, Close).
class FakeWindow : public OwnerWindow {
public:
    explicit FakeWindow(int bitsPixel = 24, int width = 320, int height = 240);
    ~FakeWindow() override { RegisterWindowSurface(hwnd, nullptr); }

    void PostCommand(WORD id) override;
    void SendCommand(WORD id) override { Dispatch(id); }
    void PostFitWindow() override;
    INT ShowMessageBox(const char*, const char*, UINT) override { return 1; }
    HDC GetDC() override;
    void ReleaseDC(HDC dc) override;
    [[noreturn]] void FatalError(INT status) override;

    // Runs every queued command, and those they post.
    void Pump();
    // Waits (at most ten seconds) until `id` is queued; false if it never is.
    bool WaitForPosted(WORD id);
    std::vector<WORD> TakePosted();
    void Dispatch(WORD id);

    std::shared_ptr<WindowSurface> surface;
    HWND hwnd;
    std::mutex lock;
    std::vector<WORD> posted;
    int fitWindows = 0;
    int dcsOut = 0;
    bool noDC = false; // GetDC answers null, as for a window without one
};

// The player made on a test window for the test's life: its movie closed and
// the player destroyed at the end, with every device context given back.
class PlayerOnWindow {
protected:
    explicit PlayerOnWindow(int bitsPixel = 24, int width = 320, int height = 240);
    ~PlayerOnWindow();
    FakeWindow window;
};

class FakeClock : public MovieClock {
public:
    DWORD SystemTime() override { return system; }
    LONG AudioTime(Movie&) override { return audio; }
    DWORD system = 1000;
    LONG audio = -10; // no audio device
};

// The engine's movies: 32 x 16 24-bit frames for the fake codec, by default 15
// a second with a key frame every 15, no sound. Each frame's data names its own
// number (from the stream's start), which the fake codec decodes as the grey level.
cadmo::test::TestAviSpec FakeMovie(int frames = 30, int keyEvery = 15, DWORD rate = 15, DWORD scale = 1);

// The base of the engine's fixtures: the fake codec installed, its log and
// policies cleared, and a folder for the test's files.
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override { FakeCodec::Get().Reset(); }
    cadmo::test::TempDir dir;
};

// A plain bitmap header (no colour table, size left to the reader).
inline BITMAPINFOHEADER Header(LONG w, LONG h, WORD bits, DWORD compression = BI_RGB, DWORD clrUsed = 0) {
    return {sizeof(BITMAPINFOHEADER), w, h, 1, bits, compression, 0, 0, 0, clrUsed, 0};
}

// The record a state message carried.
template <class Record> Record StateOf(const CodecCall& call) {
    Record r{};
    std::memcpy(&r, call.record.data(), std::min(sizeof r, call.record.size()));
    return r;
}

// Writes the movie to `path` and returns the path.
std::string WriteMovie(const cadmo::test::TestAviSpec& spec, const std::string& path);

// Frame (x, y) of a 24-bit window surface as a grey level (-1 when not grey).
int SurfaceGrey(const WindowSurface& s, int x, int y);

// A movie of the fake codec, opened as the player opens one, in a 640 x 480
// window and on the test's clock.
class MovieFixture : public EngineTest {
protected:
    void TearDown() override { movie.Stop(); }
    // Writes the movie and opens it afresh: OpenStreams' status.
    LONG Open(const cadmo::test::TestAviSpec& spec) {
        movie.CloseStreams();
        movie.ReleaseFile();
        EXPECT_EQ(movie.OpenFile(WriteMovie(spec, dir.File("movie.avi")).c_str()), 0);
        movie.SetClock(&clock);
        return movie.OpenStreams(&window);
    }
    // Frame `frame` (-1: the position) drawn in a drawing cycle of its own.
    void Draw(LONG frame) {
        HDC dc = window.GetDC();
        ASSERT_EQ(movie.BeginDrawing(dc, frame), 0);
        EXPECT_EQ(movie.ShowFrame(), 0);
        movie.EndDrawing();
        window.ReleaseDC(dc);
    }

    FakeWindow window{24, 640, 480};
    FakeClock clock;
    Movie movie;
};

// What the sound tests drive: a movie whose streams are open but whose video
// has no decoder, so that the movie's own Play, Pause and Stop run their
// sound halves and draw nothing.
class MovieSound {
protected:
    // Opens the file's streams, closing any movie before.
    void OpenSound(const std::string& path);
    // Plays from `ms`, or resumes from a pause.
    void PlayAt(LONG ms) {
        movie.position = ms;
        ASSERT_EQ(movie.Play(nullptr), 0);
    }
    void Resume() { PlayAt(movie.position); }

    Movie movie;
};

} // namespace enginetest
