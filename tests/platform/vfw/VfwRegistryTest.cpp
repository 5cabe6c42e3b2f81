#include "platform/vfw/Vfw.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <tuple>
#include <vector>

namespace {

// A message as the driver saw it: instance id, message, both parameters.
using Call = std::tuple<DWORD_PTR, UINT, LPARAM, LPARAM>;

// A recording driver. Instances get ids 1, 2, ...; DRV_OPEN keeps a copy of
// the last ICOPEN; ICM_DECOMPRESS_QUERY accepts the compression codes in
// `accepts` (all when 0).
struct Recorder {
    std::vector<Call> calls;
    ICOPEN open{};
    DWORD accepts = 0;
    DWORD_PTR nextId = 1;

    LRESULT Handle(DWORD_PTR id, UINT msg, LPARAM l1, LPARAM l2) {
        calls.emplace_back(id, msg, l1, l2);
        switch (msg) {
        case DRV_OPEN:
            open = *reinterpret_cast<ICOPEN*>(l2);
            return static_cast<LRESULT>(nextId++);
        case ICM_DECOMPRESS_QUERY:
            return accepts == 0 || reinterpret_cast<const BITMAPINFOHEADER*>(l1)->biCompression == accepts
                       ? ICERR_OK
                       : ICERR_BADFORMAT;
        default:
            return msg >= DRV_USER ? static_cast<LRESULT>(id * 100 + (msg - ICM_USER)) : DRV_OK;
        }
    }
    int Count(UINT msg) {
        return static_cast<int>(
            std::count_if(calls.begin(), calls.end(), [&](const Call& c) { return std::get<1>(c) == msg; }));
    }
};

Recorder recorderA, recorderB;
template <Recorder& recorder> LRESULT Proc(DWORD_PTR id, HDRVR, UINT msg, LPARAM l1, LPARAM l2) {
    return recorder.Handle(id, msg, l1, l2);
}
constexpr DRIVERPROC ProcA = Proc<recorderA>, ProcB = Proc<recorderB>;

constexpr FOURCC kA = mmioFOURCC('A', 'A', 'A', 'A');
constexpr FOURCC kB = mmioFOURCC('B', 'B', 'B', 'B');

// Each test installs what it needs and removes it again.
struct Installed {
    FOURCC handler;
    Installed(FOURCC h, DRIVERPROC proc) : handler(h) {
        EXPECT_TRUE(ICInstall(ICTYPE_VIDEO, h, reinterpret_cast<LPARAM>(proc), "test", ICINSTALL_FUNCTION));
    }
    ~Installed() { ICRemove(ICTYPE_VIDEO, handler, 0); }
};

TEST(VfwRegistry, OpenSendCloseReachTheDriverWithItsInstanceId) {
    Installed a(kA, ProcA);
    EXPECT_FALSE(ICInstall(ICTYPE_VIDEO, kA, reinterpret_cast<LPARAM>(ProcA), nullptr, ICINSTALL_FUNCTION));
    HIC hic = ICOpen(ICTYPE_VIDEO, mmioFOURCC('a', 'a', 'a', 'a'), ICMODE_DECOMPRESS);
    ASSERT_NE(hic, nullptr);
    EXPECT_EQ(recorderA.Count(DRV_LOAD), recorderA.Count(DRV_FREE) + 1);
    EXPECT_EQ(recorderA.Count(DRV_ENABLE), recorderA.Count(DRV_DISABLE) + 1);
    const ICOPEN& open = recorderA.open;
    EXPECT_EQ(std::tuple(open.fccType, open.dwFlags, open.dwSize),
              std::tuple(ICTYPE_VIDEO, ICMODE_DECOMPRESS, DWORD{sizeof(ICOPEN)}));
    const DWORD_PTR id = recorderA.nextId - 1;

    EXPECT_EQ(ICSendMessage(hic, ICM_USER + 7, 11, 22), static_cast<LRESULT>(id * 100 + 7));
    EXPECT_EQ(recorderA.calls.back(), Call(id, ICM_USER + 7, 11, 22));
    EXPECT_EQ(ICClose(hic), ICERR_OK);
    EXPECT_EQ(recorderA.calls.back(), Call(id, DRV_CLOSE, 0, 0));
    // The handle is dead: nothing reaches the driver any more.
    const std::size_t before = recorderA.calls.size();
    EXPECT_EQ(ICSendMessage(hic, ICM_USER + 7, 0, 0), ICERR_BADHANDLE);
    EXPECT_EQ(ICClose(hic), ICERR_BADHANDLE);
    EXPECT_EQ(recorderA.calls.size(), before);
    EXPECT_EQ(ICOpen(ICTYPE_VIDEO, mmioFOURCC('n', 'o', 'n', 'e'), ICMODE_DECOMPRESS), nullptr);
}

TEST(VfwRegistry, LocateTriesTheNamedHandlerFirstThenEveryDriverInOrder) {
    recorderA.accepts = mmioFOURCC('X', 'X', 'X', 'X');
    Installed a(kA, ProcA), b(kB, ProcB);
    BITMAPINFOHEADER in{40, 16, 16, 1, 24, mmioFOURCC('X', 'X', 'X', 'X'), 0, 0, 0, 0, 0};

    // The named handler wins even though A comes first and would accept.
    HIC hic = ICLocate(ICTYPE_VIDEO, mmioFOURCC('b', 'b', 'b', 'b'), &in, nullptr, ICMODE_DECOMPRESS);
    EXPECT_EQ(ICSendMessage(hic, ICM_USER, 0, 0), static_cast<LRESULT>(recorderB.nextId - 1) * 100);
    ICClose(hic);

    // No handler: the first driver that accepts.
    hic = ICLocate(ICTYPE_VIDEO, 0, &in, nullptr, ICMODE_DECOMPRESS);
    EXPECT_EQ(ICSendMessage(hic, ICM_USER, 0, 0), static_cast<LRESULT>(recorderA.nextId - 1) * 100);
    ICClose(hic);

    // The named handler refuses the format: the others are asked, and the
    // refusing instance is closed again.
    in.biCompression = mmioFOURCC('Y', 'Y', 'Y', 'Y');
    const int closedA = recorderA.Count(DRV_CLOSE);
    hic = ICLocate(ICTYPE_VIDEO, kA, &in, nullptr, ICMODE_DECOMPRESS);
    ASSERT_NE(hic, nullptr);
    EXPECT_EQ(recorderA.Count(DRV_CLOSE), closedA + 1);
    ICClose(hic);

    recorderB.accepts = mmioFOURCC('Z', 'Z', 'Z', 'Z');
    EXPECT_EQ(ICLocate(ICTYPE_VIDEO, 0, &in, nullptr, ICMODE_DECOMPRESS), nullptr);
    recorderA.accepts = recorderB.accepts = 0;
}

// The window thread may close an instance while the playback thread is
// inside a message to it: the driver must not lose the instance mid-message.
std::promise<void> entered;
std::shared_future<void> released;
std::atomic<bool> closedWhileInside{false};
LRESULT BlockingProc(DWORD_PTR, HDRVR, UINT msg, LPARAM, LPARAM) {
    if (msg == ICM_USER + 1) {
        entered.set_value();
        released.wait();
        return 42;
    }
    if (msg == DRV_CLOSE)
        closedWhileInside = released.wait_for(std::chrono::seconds(0)) != std::future_status::ready;
    return msg == DRV_OPEN ? 1 : DRV_OK;
}

TEST(VfwRegistry, CloseDuringAMessageEndsTheInstanceAfterTheMessage) {
    std::promise<void> release;
    released = release.get_future().share();
    HIC hic = ICOpenFunction(ICTYPE_VIDEO, mmioFOURCC('b', 'l', 'k', ' '), ICMODE_DECOMPRESS, BlockingProc);
    ASSERT_NE(hic, nullptr);
    auto answer = std::async(std::launch::async, [&] { return ICSendMessage(hic, ICM_USER + 1, 0, 0); });
    entered.get_future().wait();
    EXPECT_EQ(ICClose(hic), ICERR_OK);
    EXPECT_EQ(ICSendMessage(hic, ICM_USER + 1, 0, 0), ICERR_BADHANDLE);
    release.set_value();
    EXPECT_EQ(answer.get(), 42);
    EXPECT_FALSE(closedWhileInside);
}

} // namespace
