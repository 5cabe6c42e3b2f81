#include "platform/mm/Mm.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

TEST(MmTimer, ClockAdvancesWithSleepAndPeriodsBalance) {
    const DWORD before = timeGetTime();
    Sleep(20);
    Sleep(0);
    EXPECT_GE(static_cast<DWORD>(timeGetTime() - before), 20u);

    TIMECAPS caps{};
    EXPECT_EQ(timeGetDevCaps(&caps, sizeof caps), TIMERR_NOERROR);
    EXPECT_EQ(caps.wPeriodMin, 1u);
    EXPECT_GE(caps.wPeriodMax, caps.wPeriodMin);
    EXPECT_EQ(timeGetDevCaps(&caps, 4), TIMERR_STRUCT);
    EXPECT_EQ(timeGetDevCaps(nullptr, sizeof caps), TIMERR_STRUCT);

    EXPECT_EQ(timeBeginPeriod(0), TIMERR_NOCANDO);
    EXPECT_EQ(timeBeginPeriod(1), TIMERR_NOERROR);
    EXPECT_EQ(timeBeginPeriod(1), TIMERR_NOERROR);
    EXPECT_EQ(cadmoTimePeriodCount(1), 2u);
    EXPECT_EQ(timeEndPeriod(1), TIMERR_NOERROR);
    EXPECT_EQ(timeEndPeriod(1), TIMERR_NOERROR);
    EXPECT_EQ(timeEndPeriod(1), TIMERR_NOCANDO) << "an unmatched end is reported";
}

// Builds RIFF files byte by byte.
class Riff {
public:
    Riff& Id(const char* id) {
        for (int i = 0; i < 4; ++i)
            bytes_.push_back(static_cast<BYTE>(id[i]));
        return *this;
    }
    Riff& U32(DWORD v) {
        for (int i = 0; i < 4; ++i)
            bytes_.push_back(static_cast<BYTE>(v >> (8 * i)));
        return *this;
    }
    Riff& Bytes(std::size_t n, BYTE value) {
        bytes_.insert(bytes_.end(), n, value);
        return *this;
    }
    std::string Write() const {
        char path[] = "/tmp/cadmo-mm-XXXXXX";
        const int fd = mkstemp(path);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(write(fd, bytes_.data(), bytes_.size()), static_cast<ssize_t>(bytes_.size()));
        close(fd);
        return path;
    }

private:
    std::vector<BYTE> bytes_;
};

TEST(MmFile, DescendsIntoFormsAndChunks) {
    // RIFF 'PAL ' { 'junk'(3 bytes + pad) 'data'(8) }
    const std::string path = Riff()
                                 .Id("RIFF")
                                 .U32(4 + 8 + 4 + 8 + 8)
                                 .Id("PAL ")
                                 .Id("junk")
                                 .U32(3)
                                 .Bytes(4, 0xEE)
                                 .Id("data")
                                 .U32(8)
                                 .Bytes(8, 0x5A)
                                 .Write();
    HMMIO h = mmioOpenA(path.c_str(), nullptr, MMIO_READ);
    ASSERT_NE(h, nullptr);
    MMCKINFO form{};
    form.fccType = mmioFOURCC('P', 'A', 'L', ' ');
    ASSERT_EQ(mmioDescend(h, &form, nullptr, MMIO_FINDRIFF), 0u);
    EXPECT_EQ(form.dwDataOffset, 8u);
    MMCKINFO chunk{};
    chunk.ckid = mmioFOURCC('d', 'a', 't', 'a');
    ASSERT_EQ(mmioDescend(h, &chunk, &form, MMIO_FINDCHUNK), 0u) << "skips the odd-sized chunk and its pad";
    EXPECT_EQ(chunk.cksize, 8u);
    char buf[16] = {};
    EXPECT_EQ(mmioRead(h, buf, 8), 8);
    EXPECT_EQ(static_cast<BYTE>(buf[7]), 0x5A);
    EXPECT_EQ(mmioRead(h, buf, 8), 0);

    // A second search from the form's start finds no other chunk.
    ASSERT_EQ(mmioSeek(h, static_cast<LONG>(form.dwDataOffset + 4), SEEK_SET), 12);
    MMCKINFO missing{};
    missing.ckid = mmioFOURCC('n', 'o', 'n', 'e');
    EXPECT_EQ(mmioDescend(h, &missing, &form, MMIO_FINDCHUNK), MMIOERR_CHUNKNOTFOUND);
    EXPECT_EQ(mmioClose(h, 0), 0u);

    // The same file is not an AVI form.
    h = mmioOpenA(path.c_str(), nullptr, MMIO_READ);
    MMCKINFO avi{};
    avi.fccType = mmioFOURCC('A', 'V', 'I', ' ');
    EXPECT_EQ(mmioDescend(h, &avi, nullptr, MMIO_FINDRIFF), MMIOERR_CHUNKNOTFOUND);
    mmioClose(h, 0);
    std::remove(path.c_str());
}

TEST(MmFile, OversizedChunksReadShortAndSearchesStayInsideTheParent) {
    // The data chunk claims 5000 bytes in a file that holds 16 of them; a
    // 'next' chunk lies beyond the end the form declares.
    const std::string path = Riff()
                                 .Id("RIFF")
                                 .U32(4 + 8 + 16)
                                 .Id("PAL ")
                                 .Id("data")
                                 .U32(5000)
                                 .Bytes(16, 1)
                                 .Id("next")
                                 .U32(0)
                                 .Write();
    HMMIO h = mmioOpenA(path.c_str(), nullptr, MMIO_READ);
    ASSERT_NE(h, nullptr);
    MMCKINFO form{};
    form.fccType = mmioFOURCC('P', 'A', 'L', ' ');
    ASSERT_EQ(mmioDescend(h, &form, nullptr, MMIO_FINDRIFF), 0u);
    MMCKINFO chunk{};
    chunk.ckid = mmioFOURCC('d', 'a', 't', 'a');
    ASSERT_EQ(mmioDescend(h, &chunk, &form, MMIO_FINDCHUNK), 0u);
    EXPECT_EQ(chunk.cksize, 5000u) << "the declared size";
    std::vector<char> buf(5000);
    EXPECT_EQ(mmioRead(h, buf.data(), 5000), 16 + 8) << "a short read, not memory beyond the file";

    ASSERT_EQ(mmioSeek(h, 12, SEEK_SET), 12);
    MMCKINFO next{};
    next.ckid = mmioFOURCC('n', 'e', 'x', 't');
    EXPECT_EQ(mmioDescend(h, &next, &form, MMIO_FINDCHUNK), MMIOERR_CHUNKNOTFOUND);
    mmioClose(h, 0);

    MMIOINFO info{};
    EXPECT_EQ(mmioOpenA("/nonexistent/cadmo.pal", &info, MMIO_READ), nullptr);
    EXPECT_EQ(info.wErrorRet, MMIOERR_FILENOTFOUND);
    EXPECT_EQ(mmioOpenA(path.c_str(), &info, MMIO_WRITE), nullptr);
    EXPECT_EQ(mmioRead(nullptr, nullptr, 4), -1);
    std::remove(path.c_str());
}

} // namespace
