#include "platform/mm/Mm.h"

#include <gtest/gtest.h>

#include "support/RiffBuilder.h"
#include "support/TempDir.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

// RIFF 'PAL ' { 'junk' (3 bytes and a pad), 'data' (8), 'big ' (claims 5000
// bytes, the file holds 16) } and a 'next' chunk beyond the end the form
// declares.
TEST(MmFile, DescendsIntoFormsAndChunksAndStaysInsideTheFile) {
    cadmo::test::RiffBuilder riff;
    riff.BeginRiff(mmioFOURCC('P', 'A', 'L', ' '));
    riff.Chunk(mmioFOURCC('j', 'u', 'n', 'k'), "\xEE\xEE\xEE", 3);
    riff.Chunk(mmioFOURCC('d', 'a', 't', 'a'), "ZZZZZZZZ", 8);
    riff.Patch32(riff.Chunk(mmioFOURCC('b', 'i', 'g', ' '), std::vector<BYTE>(16, 1).data(), 16) + 4, 5000);
    riff.End();
    riff.U32(mmioFOURCC('n', 'e', 'x', 't'));
    riff.U32(0);
    const cadmo::test::TempDir dir;
    const std::string path = dir.File("test.riff");
    ASSERT_TRUE(riff.Save(path));

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

    MMCKINFO big{};
    big.ckid = mmioFOURCC('b', 'i', 'g', ' ');
    ASSERT_EQ(mmioDescend(h, &big, &form, MMIO_FINDCHUNK), 0u);
    EXPECT_EQ(big.cksize, 5000u) << "the declared size";
    std::vector<char> rest(5000);
    EXPECT_EQ(mmioRead(h, rest.data(), 5000), 16 + 8) << "a short read, not memory beyond the file";

    // A search from the form's start finds no chunk beyond the form's end.
    ASSERT_EQ(mmioSeek(h, static_cast<LONG>(form.dwDataOffset + 4), SEEK_SET), 12);
    MMCKINFO next{};
    next.ckid = mmioFOURCC('n', 'e', 'x', 't');
    EXPECT_EQ(mmioDescend(h, &next, &form, MMIO_FINDCHUNK), MMIOERR_CHUNKNOTFOUND);
    EXPECT_EQ(mmioClose(h, 0), 0u);

    // The same file is not an AVI form.
    h = mmioOpenA(path.c_str(), nullptr, MMIO_READ);
    MMCKINFO avi{};
    avi.fccType = mmioFOURCC('A', 'V', 'I', ' ');
    EXPECT_EQ(mmioDescend(h, &avi, nullptr, MMIO_FINDRIFF), MMIOERR_CHUNKNOTFOUND);
    mmioClose(h, 0);

    MMIOINFO info{};
    EXPECT_EQ(mmioOpenA("/nonexistent/cadmo.pal", &info, MMIO_READ), nullptr);
    EXPECT_EQ(info.wErrorRet, MMIOERR_FILENOTFOUND);
    EXPECT_EQ(mmioOpenA(path.c_str(), &info, MMIO_WRITE), nullptr);
    EXPECT_EQ(mmioRead(nullptr, nullptr, 4), -1);
}

} // namespace
