#include "EngineTestSupport.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <utility>

#include "engine/Player.h"
#include "video/VideoDecoder.h"

namespace enginetest {

namespace {

LRESULT FakeDriverProc(DWORD_PTR id, HDRVR, UINT msg, LPARAM p1, LPARAM p2) {
    return FakeCodec::Get().Handle(id, msg, p1, p2);
}

bool Accepts(const BITMAPINFOHEADER* in) {
    return in && (in->biCompression == kFake || in->biCompression == qx47::kHandler);
}

} // namespace

FakeCodec& FakeCodec::Get() {
    static FakeCodec codec;
    return codec;
}

FakeCodec::FakeCodec() {
    ICInstall(ICTYPE_VIDEO, kFake, reinterpret_cast<LPARAM>(&FakeDriverProc), "fake", ICINSTALL_FUNCTION);
    ICInstall(ICTYPE_VIDEO, qx47::kHandler, reinterpret_cast<LPARAM>(&FakeDriverProc), "fake qx47",
              ICINSTALL_FUNCTION);
}

void FakeCodec::Reset() {
    std::lock_guard<std::mutex> guard(lock);
    calls.clear();
    maxOutputWidth = INT_MAX;
    setPaletteAnswer = ICERR_OK;
    setStateAnswer = ICERR_OK;
    beginAnswer = ICERR_OK;
    delayAnswer = ICERR_UNSUPPORTED;
    bounds = nullptr;
}

std::vector<CodecCall> FakeCodec::Calls(UINT msg) {
    std::lock_guard<std::mutex> guard(lock);
    std::vector<CodecCall> out;
    for (const CodecCall& c : calls)
        if (msg == 0 || c.msg == msg)
            out.push_back(c);
    return out;
}

std::vector<std::pair<LONG, DWORD>> FakeCodec::Decodes() {
    std::vector<std::pair<LONG, DWORD>> out;
    for (const CodecCall& c : Calls(ICM_DECOMPRESSEX))
        out.emplace_back(c.frame, c.flags);
    return out;
}

void FakeCodec::ClearCalls() {
    std::lock_guard<std::mutex> guard(lock);
    calls.clear();
}

LRESULT FakeCodec::Handle(DWORD_PTR id, UINT msg, LPARAM p1, LPARAM p2) {
    CodecCall call;
    call.msg = msg;
    call.p1 = p1;
    call.length = p2;
    LRESULT answer = ICERR_OK;
    switch (msg) {
    case DRV_LOAD:
    case DRV_ENABLE:
    case DRV_DISABLE:
    case DRV_FREE:
        return DRV_OK;
    case DRV_CLOSE: {
        std::lock_guard<std::mutex> guard(lock);
        if (id == boundsOwner)
            bounds = nullptr;
        return DRV_OK;
    }
    case DRV_OPEN: {
        static std::atomic<DWORD_PTR> next{1};
        answer = static_cast<LRESULT>(next++);
        break;
    }
    case ICM_DECOMPRESS_QUERY:
        if (p1)
            call.src = *reinterpret_cast<const BITMAPINFOHEADER*>(p1);
        answer = Accepts(reinterpret_cast<const BITMAPINFOHEADER*>(p1)) ? ICERR_OK : ICERR_BADFORMAT;
        break;
    case ICM_DECOMPRESSEX_QUERY:
    case ICM_DECOMPRESSEX_BEGIN:
    case ICM_DECOMPRESSEX: {
        if (static_cast<std::size_t>(p2) < sizeof(ICDECOMPRESSEX))
            return ICERR_BADSIZE;
        const auto* r = reinterpret_cast<const ICDECOMPRESSEX*>(p1);
        call.rec = *r;
        call.flags = r->dwFlags;
        if (r->lpbiDst)
            call.dst = *r->lpbiDst;
        if (r->lpbiSrc)
            call.src = *r->lpbiSrc;
        if (!Accepts(r->lpbiSrc))
            answer = ICERR_BADFORMAT;
        else if (msg == ICM_DECOMPRESSEX_QUERY && r->lpbiDst && r->lpbiDst->biWidth > maxOutputWidth)
            answer = ICERR_BADFORMAT;
        else if (msg == ICM_DECOMPRESSEX_BEGIN)
            answer = beginAnswer;
        if (msg == ICM_DECOMPRESSEX && answer == ICERR_OK) {
            call.srcBytes = r->lpbiSrc->biSizeImage;
            LONG frame = -1;
            if (r->lpSrc && call.srcBytes >= 4)
                std::memcpy(&frame, r->lpSrc, 4);
            call.frame = frame;
            // Fill the destination rectangle (rows counted from the bottom of
            // the bottom-up frame) and touch the frame's last byte: a buffer
            // shorter than its header says shows up under the address sanitizer.
            if (r->lpDst && r->lpbiDst) {
                const BITMAPINFOHEADER& h = *r->lpbiDst;
                auto* p = static_cast<BYTE*>(r->lpDst);
                const LONG stride = FrameBytes(h) / (h.biHeight < 0 ? -h.biHeight : h.biHeight);
                const int bpp = h.biBitCount / 8;
                for (int row = 0; row < r->dyDst; ++row)
                    std::memset(p + static_cast<std::ptrdiff_t>(r->yDst + row) * stride + r->xDst * bpp,
                                frame & 0xff, static_cast<std::size_t>(r->dxDst) * bpp);
                volatile BYTE* last = p + FrameBytes(h) - 1;
                *last = *last;
            }
            std::lock_guard<std::mutex> guard(lock);
            if (bounds && id == boundsOwner) {
                bounds[0] = 0;
                bounds[1] = 0;
                bounds[2] = r->dxDst;
                bounds[3] = r->dyDst;
            }
        }
        break;
    }
    case ICM_DECOMPRESS_GET_DELAY:
        answer = delayAnswer;
        break;
    case ICM_DECOMPRESS_GET_PALETTE: {
        auto* out = reinterpret_cast<BITMAPINFO*>(p2);
        if (out) {
            for (int i = 0; i < 256; ++i)
                out->bmiColors[i] =
                    RGBQUAD{static_cast<BYTE>(i), static_cast<BYTE>(i), static_cast<BYTE>(i), 0};
        }
        break;
    }
    case ICM_DECOMPRESS_SET_PALETTE:
        answer = p1 ? setPaletteAnswer : ICERR_OK;
        break;
    case ICM_GETSTATE:
    case ICM_SETSTATE: {
        auto* b = reinterpret_cast<BYTE*>(p1);
        if (b && p2 > 0)
            call.record.assign(b, b + p2);
        if (msg == ICM_GETSTATE && b && p2 >= 24) {
            // The answer's size word claims far more than the record: the
            // decoder must still never send more than its record holds.
            const DWORD claimed = 4096;
            std::memcpy(b, &claimed, 4);
            DWORD mask = 0;
            std::memcpy(&mask, b + 20, 4);
            if (p2 == 84 && mask == qx47::kLongMaskColorControls) {
                auto* rec = reinterpret_cast<qx47::LongStateRecord*>(b);
                rec->brightness = rec->kind == qx47::kLongKindDefaults ? 0 : 11;
                rec->saturation = 22;
                rec->contrast = 33;
            }
        }
        if (msg == ICM_SETSTATE) {
            answer = setStateAnswer;
            const auto* rec = reinterpret_cast<const qx47::LongStateRecord*>(b);
            if (p2 == 84 && rec->mask == qx47::kLongMaskBoundsAddress) {
                std::lock_guard<std::mutex> guard(lock);
                bounds = qx47::GetBoundsAddress(*rec);
                boundsOwner = id;
            }
        }
        break;
    }
    default:
        break;
    }
    std::lock_guard<std::mutex> guard(lock);
    calls.push_back(std::move(call));
    return answer;
}

FakeWindow::FakeWindow(int bitsPixel, int width, int height)
    : surface(std::make_shared<WindowSurface>(width, height, bitsPixel)), hwnd(reinterpret_cast<HWND>(this)) {
    RegisterWindowSurface(hwnd, surface);
}

void FakeWindow::PostCommand(WORD id) {
    std::lock_guard<std::mutex> guard(lock);
    posted.push_back(id);
}

void FakeWindow::PostFitWindow() {
    std::lock_guard<std::mutex> guard(lock);
    ++fitWindows;
}

HDC FakeWindow::GetDC() {
    if (noDC)
        return nullptr;
    ++dcsOut;
    return ::GetDC(hwnd);
}

void FakeWindow::ReleaseDC(HDC dc) {
    --dcsOut;
    ::ReleaseDC(hwnd, dc);
}

void FakeWindow::FatalError(INT status) {
    ADD_FAILURE() << "FatalError " << status;
    std::abort();
}

void FakeWindow::Dispatch(WORD id) {
    if (id == IDM_CLOSE)
        CloseMovie(this);
    else if (id == IDM_PLAY)
        StartPlayback(this);
    else if (id == IDM_STOP)
        StopPlayback(this);
    else if (id == IDM_REWIND)
        SeekToFrame(this, 0);
}

void FakeWindow::Pump() {
    // Commands posted while one runs are taken in the next round, in order.
    for (std::vector<WORD> ids = TakePosted(); !ids.empty(); ids = TakePosted())
        for (WORD id : ids)
            Dispatch(id);
}

bool FakeWindow::WaitForPosted(WORD id) {
    // The lock is let go (the body's end) before each millisecond's sleep.
    for (int i = 0; i < 10000; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(1))) {
        std::lock_guard<std::mutex> guard(lock);
        if (std::find(posted.begin(), posted.end(), id) != posted.end())
            return true;
    }
    return false;
}

std::vector<WORD> FakeWindow::TakePosted() {
    std::lock_guard<std::mutex> guard(lock);
    return std::exchange(posted, {});
}

PlayerOnWindow::PlayerOnWindow(int bitsPixel, int width, int height) : window(bitsPixel, width, height) {
    CreatePlayer(&window);
}

PlayerOnWindow::~PlayerOnWindow() {
    CloseMovie(&window);
    DestroyPlayer(&window);
    loopPlayback = 0;
    EXPECT_EQ(window.dcsOut, 0) << "every device context is given back";
}

cadmo::test::TestAviSpec FakeMovie(int frames, int keyEvery, DWORD rate, DWORD scale) {
    return {.compression = kFake,
            .handler = kFake,
            .rate = rate,
            .scale = scale,
            .frames = frames,
            .keyEvery = keyEvery,
            .audio = false};
}

std::string WriteMovie(const cadmo::test::TestAviSpec& spec, const std::string& path) {
    cadmo::test::TestAviSpec avi = spec;
    if (!avi.frameData)
        avi.frameData = [start = static_cast<LONG>(spec.start)](int i) {
            const LONG data[2] = {start + i, 0x4b415046};
            return std::vector<BYTE>(reinterpret_cast<const BYTE*>(data),
                                     reinterpret_cast<const BYTE*>(data + 2));
        };
    EXPECT_EQ(cadmo::test::WriteTestAvi(path, avi), AVIERR_OK);
    return path;
}

void MovieSound::OpenSound(const std::string& path) {
    movie.CloseStreams();
    movie.ReleaseFile();
    ASSERT_EQ(movie.OpenFile(path.c_str()), 0);
    AVIFileGetStream(movie.aviFile, &movie.videoStream, streamtypeVIDEO, 0);
    ASSERT_EQ(AVIFileGetStream(movie.aviFile, &movie.audioStream, streamtypeAUDIO, 0), AVIERR_OK);
}

int SurfaceGrey(const WindowSurface& s, int x, int y) {
    WindowSurface::View v = s.Lock();
    if (x >= v.Width() || y >= v.Height() || v.BitsPixel() != 24)
        return -1;
    const BYTE* p = v.Bits() + static_cast<std::ptrdiff_t>(y) * v.Stride() + x * 3;
    return p[0] == p[1] && p[1] == p[2] ? p[0] : -1;
}

} // namespace enginetest
