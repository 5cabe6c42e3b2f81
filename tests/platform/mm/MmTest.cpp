#include "platform/mm/Mm.h"

#include <gtest/gtest.h>

#include "support/RiffBuilder.h"
#include "support/TempDir.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

// Searches for the chunk, or with MMIO_FINDRIFF the form, `id`.
MMRESULT Descend(HMMIO h, MMCKINFO& ck, FOURCC id, const MMCKINFO* parent, UINT flags) {
    ck = MMCKINFO{};
    (flags == MMIO_FINDRIFF ? ck.fccType : ck.ckid) = id;
    return mmioDescend(h, &ck, parent, flags);
}

// RIFF 'PAL ' { 'junk' (3 bytes and a pad), 'data' (8), 'big ' (claims 5000
// bytes, the file holds 16) } and a 'next' chunk beyond the end the form
// declares. (Missing files and other forms are the palette file tests' part.)
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
    MMCKINFO form, chunk;
    ASSERT_EQ(Descend(h, form, mmioFOURCC('P', 'A', 'L', ' '), nullptr, MMIO_FINDRIFF), 0u);
    ASSERT_EQ(Descend(h, chunk, mmioFOURCC('d', 'a', 't', 'a'), &form, MMIO_FINDCHUNK), 0u)
        << "skips the odd-sized chunk and its pad";
    EXPECT_EQ(chunk.cksize, 8u);
    char buf[16] = {};
    EXPECT_EQ(mmioRead(h, buf, 8), 8);
    EXPECT_EQ(buf[7], 'Z');

    ASSERT_EQ(Descend(h, chunk, mmioFOURCC('b', 'i', 'g', ' '), &form, MMIO_FINDCHUNK), 0u);
    EXPECT_EQ(chunk.cksize, 5000u) << "the declared size";
    std::vector<char> rest(5000);
    EXPECT_EQ(mmioRead(h, rest.data(), 5000), 16 + 8) << "a short read, not memory beyond the file";

    // A search from the form's start finds no chunk beyond the form's end.
    ASSERT_EQ(mmioSeek(h, static_cast<LONG>(form.dwDataOffset + 4), SEEK_SET), 12);
    EXPECT_EQ(Descend(h, chunk, mmioFOURCC('n', 'e', 'x', 't'), &form, MMIO_FINDCHUNK),
              MMIOERR_CHUNKNOTFOUND);
    EXPECT_EQ(mmioClose(h, 0), 0u);
}

} // namespace
