#include "platform/mm/Mm.h"

#include <gtest/gtest.h>

#include "support/RiffBuilder.h"
#include "support/TempDir.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

TEST(MmTimer, ClockAdvancesWithSleepAndPeriodsBalance) {
    const DWORD before = timeGetTime();
    Sleep(20);
    Sleep(0);
    EXPECT_GE(static_cast<DWORD>(timeGetTime() - before), 20u);

    TIMECAPS caps{};
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

cadmo::test::TempDir dir;

std::string Save(const cadmo::test::RiffBuilder& riff) {
    const std::string path = dir.File("test.riff");
    EXPECT_TRUE(riff.Save(path));
    return path;
}

TEST(MmFile, DescendsIntoFormsAndChunks) {
    // RIFF 'PAL ' { 'junk'(3 bytes + pad) 'data'(8) }
    cadmo::test::RiffBuilder riff;
    riff.BeginRiff(mmioFOURCC('P', 'A', 'L', ' '));
    riff.Chunk(mmioFOURCC('j', 'u', 'n', 'k'), "\xEE\xEE\xEE", 3);
    riff.Chunk(mmioFOURCC('d', 'a', 't', 'a'), "ZZZZZZZZ", 8);
    riff.End();
    const std::string path = Save(riff);
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
    EXPECT_EQ(buf[7], 'Z');
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
}

TEST(MmFile, OversizedChunksReadShortAndSearchesStayInsideTheParent) {
    // The data chunk claims 5000 bytes in a file that holds 16 of them; a
    // 'next' chunk lies beyond the end the form declares.
    cadmo::test::RiffBuilder riff;
    riff.BeginRiff(mmioFOURCC('P', 'A', 'L', ' '));
    riff.Patch32(riff.Chunk(mmioFOURCC('d', 'a', 't', 'a'), std::vector<BYTE>(16, 1).data(), 16) + 4, 5000);
    riff.End();
    riff.U32(mmioFOURCC('n', 'e', 'x', 't'));
    riff.U32(0);
    const std::string path = Save(riff);
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
}

} // namespace
