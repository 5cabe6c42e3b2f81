// The owner window of the engine benchmarks: a 640x480 24-bit surface and no
// window, commands posted by the playback thread kept for the caller to look
// at, Close run at once, messages printed.
#pragma once

#include "engine/OwnerWindow.h"
#include "engine/Player.h"
#include "platform/gdi/Gdi.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>

class BenchWindow : public OwnerWindow {
public:
    BenchWindow() : surface(std::make_shared<WindowSurface>(640, 480, 24)) {
        RegisterWindowSurface(Handle(), surface);
    }
    ~BenchWindow() override { RegisterWindowSurface(Handle(), nullptr); }
    HWND Handle() { return reinterpret_cast<HWND>(this); }

    void PostCommand(WORD id) override {
        std::lock_guard<std::mutex> guard(lock);
        posted.push_back(id);
    }
    void SendCommand(WORD id) override {
        if (id == IDM_CLOSE)
            CloseMovie(this);
    }
    void PostFitWindow() override {}
    INT ShowMessageBox(const char* text, const char* title, UINT) override {
        std::fprintf(stderr, "%s: %s\n", title, text);
        return 1;
    }
    HDC GetDC() override { return ::GetDC(Handle()); }
    void ReleaseDC(HDC dc) override { ::ReleaseDC(Handle(), dc); }
    [[noreturn]] void FatalError(INT status) override {
        std::fprintf(stderr, "Error: Not enough memory\n");
        std::exit(status);
    }

    // True once the playback thread has posted Stop.
    bool StopPosted() {
        std::lock_guard<std::mutex> guard(lock);
        return std::find(posted.begin(), posted.end(), IDM_STOP) != posted.end();
    }
    void ClearPosted() {
        std::lock_guard<std::mutex> guard(lock);
        posted.clear();
    }

    std::shared_ptr<WindowSurface> surface;

private:
    std::mutex lock;
    std::deque<WORD> posted;
};
