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

// RIFF form `form` holding one chunk `chunkId` with `payload`; `declared`
// overrides the chunk's size field.
RiffBuilder riff(const char* form, const char* chunkId, const std::vector<BYTE>& payload,
                 long declared = -1) {
    RiffBuilder b;
    b.BeginRiff(fourcc(form));
    const std::size_t at = b.Chunk(fourcc(chunkId), payload.data(), payload.size());
    b.End();
    if (declared >= 0)
        b.Patch32(at + 4, static_cast<DWORD>(declared));
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
    bool Untouched() const {
        return std::all_of(bytes.begin(), bytes.end(), [](BYTE b) { return b == 0xA5; });
    }
};

// Answers the open dialog with `answer`, or cancels it.
struct ScriptedChooser : FileChooser {
    ScriptedChooser(std::string a, bool o = true) : answer(std::move(a)), ok(o) {}
    bool ChooseFileToOpen(const OpenFileRequest&, std::string& path) override {
        path = answer;
        return ok;
    }
    std::string answer;
    bool ok;
};

TEST(PaletteFile, ReadsTheDataChunkOfAPaletteForm) {
    const cadmo::test::TempDir dir;
    ASSERT_TRUE(riff("PAL ", "data", logPalette(236, 236)).Save(dir.File("236.pal")));
    Record record;
    ScriptedChooser chooser(dir.File("236.pal"));
    ASSERT_EQ(ReadPaletteFile(chooser, record.get()), 0);
    EXPECT_EQ(record.get()->palVersion, 0x300);
    EXPECT_EQ(record.get()->palNumEntries, 236);
    EXPECT_EQ(record.bytes[4 + 4 * 235 + 1], static_cast<BYTE>(2 * 235));
    EXPECT_EQ(record.bytes[4 + 4 * 236], 0xA5) << "nothing written past the chunk";

    // 1032 bytes: the header and 257 entries, the record's whole capacity.
    ASSERT_TRUE(riff("PAL ", "data", logPalette(257, 257)).Save(dir.File("257.pal")));
    Record full;
    ASSERT_EQ(ReadPaletteFileAt(dir.File("257.pal").c_str(), full.get()), 0);
    EXPECT_EQ(full.get()->palNumEntries, 257);

    // The same bytes held in memory (the clipboard's palette type) read the
    // same, and a count of 0 is a valid, empty palette.
    const std::vector<BYTE> bytes = riff("PAL ", "data", logPalette(236, 236)).Data();
    Record fromMemory;
    ASSERT_EQ(ReadPaletteBytes(bytes.data(), bytes.size(), fromMemory.get()), 0);
    EXPECT_EQ(fromMemory.bytes, record.bytes);
    const std::vector<BYTE> empty = riff("PAL ", "data", logPalette(0, 0)).Data();
    Record none;
    ASSERT_EQ(ReadPaletteBytes(empty.data(), empty.size(), none.get()), 0);
    EXPECT_EQ(none.get()->palNumEntries, 0);
}

TEST(PaletteFile, UnusableFilesLeaveTheRecordAlone) {
    struct Case {
        const char* name;
        RiffBuilder file;
    };
    RiffBuilder truncated = riff("PAL ", "data", logPalette(16, 16)), text, empty;
    truncated.Data().resize(truncated.Data().size() - 10);
    text.Bytes("JASC-PAL", 8);
    const Case cases[] = {
        {"empty data chunk", riff("PAL ", "data", {})},
        {"5000-byte data chunk", riff("PAL ", "data", std::vector<BYTE>(5000, 1))},
        {"1033-byte data chunk", riff("PAL ", "data", std::vector<BYTE>(1033, 1))},
        {"no data chunk", riff("PAL ", "junk", logPalette(4, 4))},
        {"an AVI form", riff("AVI ", "data", logPalette(4, 4))},
        {"chunk claims more than the file", riff("PAL ", "data", logPalette(4, 4), 1000)},
        {"file cut short", truncated},
        {"count beyond the chunk", riff("PAL ", "data", logPalette(300, 10))},
        {"count one entry beyond the chunk", riff("PAL ", "data", logPalette(5, 4))},
        {"header cut in half", riff("PAL ", "data", {0x00, 0x03})},
        {"not RIFF at all", text},
        {"empty file", empty},
    };
    const cadmo::test::TempDir dir;
    for (const Case& c : cases) {
        ASSERT_TRUE(c.file.Save(dir.File("x.pal"))) << c.name;
        Record record;
        EXPECT_EQ(ReadPaletteFileAt(dir.File("x.pal").c_str(), record.get()), 1) << c.name;
        EXPECT_TRUE(record.Untouched()) << c.name;
        Record fromMemory;
        const std::vector<BYTE>& bytes = c.file.Data();
        EXPECT_EQ(ReadPaletteBytes(bytes.data(), bytes.size(), fromMemory.get()), 1) << c.name;
        EXPECT_TRUE(fromMemory.Untouched()) << c.name;
    }

    Record record;
    EXPECT_EQ(ReadPaletteFileAt("/nonexistent/quant.pal", record.get()), 1);
    ScriptedChooser cancel("ignored", false);
    EXPECT_EQ(ReadPaletteFile(cancel, record.get()), 1);
    EXPECT_TRUE(record.Untouched());
}

} // namespace
