#include "image/PaletteFile.h"

#include "support/RiffBuilder.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

namespace {

using cadmo::test::RiffBuilder;

FOURCC fourcc(const char* id) {
    return mmioFOURCC(id[0], id[1], id[2], id[3]);
}

// RIFF form `form` holding one chunk `chunkId` (its header at offset 12)
// with `payload`.
RiffBuilder riff(const char* form, const char* chunkId, const std::vector<BYTE>& payload) {
    RiffBuilder b;
    b.BeginRiff(fourcc(form));
    b.Chunk(fourcc(chunkId), payload.data(), payload.size());
    b.End();
    return b;
}

std::vector<BYTE> logPalette(WORD count, std::size_t entriesPresent) {
    std::vector<BYTE> p = {0x00, 0x03, static_cast<BYTE>(count), static_cast<BYTE>(count >> 8)};
    for (std::size_t i = 0; i < entriesPresent; ++i)
        p.insert(p.end(), {static_cast<BYTE>(i), static_cast<BYTE>(2 * i), static_cast<BYTE>(3 * i), 0});
    return p;
}

// The caller's record, pre-filled so an untouched record is recognisable.
struct Record {
    alignas(4) std::array<BYTE, kPaletteRecordBytes> bytes;
    Record() { bytes.fill(0xA5); }
    LOGPALETTE* get() { return reinterpret_cast<LOGPALETTE*>(bytes.data()); }
    bool UntouchedFrom(std::size_t at = 0) const {
        return std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.end(),
                           [](BYTE b) { return b == 0xA5; });
    }
};

TEST(PaletteFile, ReadsTheDataChunkOfAPaletteForm) {
    const cadmo::test::TempDir dir;
    // 257 entries fill the record's whole capacity; a count of 0 is a valid,
    // empty palette.
    for (WORD count : {236, 257, 0}) {
        const std::vector<BYTE> chunk = logPalette(count, count);
        const RiffBuilder file = riff("PAL ", "data", chunk);
        ASSERT_TRUE(file.Save(dir.File("x.pal")));
        Record record;
        ASSERT_EQ(ReadPaletteFileAt(dir.File("x.pal").c_str(), record.get()), 0) << count;
        EXPECT_TRUE(std::equal(chunk.begin(), chunk.end(), record.bytes.begin())) << count;
        EXPECT_TRUE(record.UntouchedFrom(chunk.size())) << count << ": nothing written past the chunk";
        // The same bytes held in memory (the clipboard's palette type) read
        // the same.
        Record fromMemory;
        ASSERT_EQ(ReadPaletteBytes(file.Data().data(), file.Data().size(), fromMemory.get()), 0) << count;
        EXPECT_EQ(fromMemory.bytes, record.bytes) << count;
    }
}

TEST(PaletteFile, UnusableFilesLeaveTheRecordAlone) {
    struct Case {
        const char* name;
        RiffBuilder file;
    };
    RiffBuilder overlong = riff("PAL ", "data", logPalette(4, 4));
    overlong.Patch32(16, 1000);
    const Case cases[] = {
        {"1033-byte data chunk", riff("PAL ", "data", std::vector<BYTE>(1033, 1))},
        {"no data chunk", riff("PAL ", "junk", logPalette(4, 4))},
        {"an AVI form", riff("AVI ", "data", logPalette(4, 4))},
        {"chunk claims more than the file", overlong},
        {"count one entry beyond the chunk", riff("PAL ", "data", logPalette(5, 4))},
        {"header cut in half", riff("PAL ", "data", {0x00, 0x03})},
        {"empty file", RiffBuilder{}},
    };
    // Files and memory reach the same reader; the bytes are read from memory.
    for (const Case& c : cases) {
        Record record;
        const std::vector<BYTE>& bytes = c.file.Data();
        EXPECT_EQ(ReadPaletteBytes(bytes.data(), bytes.size(), record.get()), 1) << c.name;
        EXPECT_TRUE(record.UntouchedFrom()) << c.name;
    }

    Record record;
    EXPECT_EQ(ReadPaletteFileAt("/nonexistent/quant.pal", record.get()), 1);
    EXPECT_TRUE(record.UntouchedFrom());
}

} // namespace
