// Times the blits the player makes per frame: a 640x480 frame copied 1:1 and
// doubled onto the window surface at 24 and 32 bits, and the DrawDib path
// onto an 8-bit window; beside them libswscale's nearest-neighbour doubling
// of the same picture, the peer for the stretch.
//
//   build/bin/cadmo-bench-blit [iterations]
extern "C" {
#include <libswscale/swscale.h>
}

#include "platform/gdi/Gdi.h"
#include "platform/vfw/DrawDib.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

// The median resists the other work on a shared machine; the best run shows
// what the code costs when nothing interferes, and the thread's CPU time
// what it costs whatever else runs (time spent preempted is not counted).
struct Timing {
    double bestMs;
    double medianMs;
    double medianCpuMs;
};

double threadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

Timing timeIt(int iterations, const std::function<void()>& step) {
    step(); // warm up: first touches of the memory
    std::vector<double> ms(static_cast<std::size_t>(iterations));
    std::vector<double> cpu(static_cast<std::size_t>(iterations));
    for (std::size_t i = 0; i < ms.size(); ++i) {
        const double c0 = threadCpuMs();
        const auto t0 = std::chrono::steady_clock::now();
        step();
        ms[i] = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        cpu[i] = threadCpuMs() - c0;
    }
    std::sort(ms.begin(), ms.end());
    std::sort(cpu.begin(), cpu.end());
    return {ms.front(), ms[ms.size() / 2], cpu[cpu.size() / 2]};
}

void report(const char* what, const Timing& t) {
    std::printf("%-44s median %7.3f ms  cpu %7.3f ms  best %7.3f ms  %7.0f fps\n", what, t.medianMs,
                t.medianCpuMs, t.bestMs, 1000.0 / t.medianMs);
}

// A 640x480 24-bit frame of a moving-picture-like gradient.
void paint(BYTE* bits, int stride) {
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            BYTE* p = bits + y * stride + 3 * x;
            p[0] = static_cast<BYTE>(x ^ y);
            p[1] = static_cast<BYTE>(y / 2 + x / 3);
            p[2] = static_cast<BYTE>(255 - x / 3);
        }
}

struct Window {
    std::shared_ptr<WindowSurface> surface;
    HWND hwnd;
    HDC dc;
    Window(std::uintptr_t id, int w, int h, int bpp)
        : surface(std::make_shared<WindowSurface>(w, h, bpp)), hwnd(reinterpret_cast<HWND>(id)) {
        surface->SetChangedCallback([](const RECT&) {}); // what the widget does: queue a repaint
        RegisterWindowSurface(hwnd, surface);
        dc = GetDC(hwnd);
        SetStretchBltMode(dc, COLORONCOLOR);
    }
    ~Window() {
        ReleaseDC(hwnd, dc);
        RegisterWindowSurface(hwnd, nullptr);
    }
};

} // namespace

int main(int argc, char** argv) {
    const int iterations = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;

    BITMAPINFO bi{};
    bi.bmiHeader = BITMAPINFOHEADER{40, kWidth, kHeight, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP section = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    const int stride = kWidth * 3;
    paint(static_cast<BYTE*>(bits), stride);
    HDC memory = CreateCompatibleDC(nullptr);
    HGDIOBJ saved = SelectObject(memory, section);

    std::printf("blits of a %dx%d 24-bit frame, %d iterations\n", kWidth, kHeight, iterations);
    {
        Window win(1, 2 * kWidth, 2 * kHeight, 24);
        report("BitBlt 1:1 onto 24-bit window",
               timeIt(iterations, [&] { BitBlt(win.dc, 0, 0, kWidth, kHeight, memory, 0, 0, SRCCOPY); }));
        report("StretchBlt 2x onto 24-bit window", timeIt(iterations, [&] {
                   StretchBlt(win.dc, 0, 0, 2 * kWidth, 2 * kHeight, memory, 0, 0, kWidth, kHeight, SRCCOPY);
               }));
    }
    {
        Window win(2, 2 * kWidth, 2 * kHeight, 32);
        report("BitBlt 1:1 onto 32-bit window",
               timeIt(iterations, [&] { BitBlt(win.dc, 0, 0, kWidth, kHeight, memory, 0, 0, SRCCOPY); }));
        report("StretchBlt 2x onto 32-bit window", timeIt(iterations, [&] {
                   StretchBlt(win.dc, 0, 0, 2 * kWidth, 2 * kHeight, memory, 0, 0, kWidth, kHeight, SRCCOPY);
               }));
    }
    {
        Window win(3, kWidth, kHeight, 8);
        HDRAWDIB dd = DrawDibOpen();
        DrawDibRealize(dd, win.dc, FALSE);
        DrawDibBegin(dd, nullptr, kWidth, kHeight, &bi.bmiHeader, kWidth, kHeight, 0);
        report("DrawDibDraw 1:1, dithered onto 8-bit window", timeIt(iterations, [&] {
                   DrawDibDraw(dd, win.dc, 0, 0, kWidth, kHeight, &bi.bmiHeader, bits, 0, 0, kWidth, kHeight,
                               0);
               }));
        DrawDibClose(dd);
    }

    // The peer: libswscale, nearest neighbour, bgr24 to bgr24 at twice the size.
    {
        SwsContext* sws = sws_getContext(kWidth, kHeight, AV_PIX_FMT_BGR24, 2 * kWidth, 2 * kHeight,
                                         AV_PIX_FMT_BGR24, SWS_POINT, nullptr, nullptr, nullptr);
        std::vector<BYTE> out(static_cast<std::size_t>(2 * kWidth * 3 * 2 * kHeight));
        const uint8_t* srcPlanes[1] = {static_cast<const uint8_t*>(bits)};
        const int srcStrides[1] = {stride};
        uint8_t* dstPlanes[1] = {out.data()};
        const int dstStrides[1] = {2 * kWidth * 3};
        report("peer: sws_scale 2x SWS_POINT bgr24", timeIt(iterations, [&] {
                   sws_scale(sws, srcPlanes, srcStrides, 0, kHeight, dstPlanes, dstStrides);
               }));
        sws_freeContext(sws);
    }

    SelectObject(memory, saved);
    DeleteDC(memory);
    DeleteObject(section);
    return 0;
}
