#include "image/DibImage.h"

#include "../platform/gdi/GdiTestSupport.h"
#include "support/TempDir.h"
#include "support/TestBmp.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <fstream>
#include <tuple>

namespace {

// Each message box shown, as "text|title|type".
struct RecordingSink : MessageSink {
    INT ShowMessageBox(const char* text, const char* title, UINT type) override {
        messages.push_back(std::string(text) + "|" + title + "|" + std::to_string(type));
        return 1;
    }
    std::vector<std::string> messages;
};

using cadmo::test::BmpFile;

class DibImageLoad : public ::testing::Test {
protected:
    std::string Saved(BmpFile bmp, const std::string& name = "in.bmp") {
        EXPECT_TRUE(bmp.Save(dir.File(name)));
        return dir.File(name);
    }
    cadmo::test::TempDir dir;
};

// The indices as stored, or converted through the table at the deeper
// depths; colour i of the test bitmap is blue i, green 255 - i, red i / 2.
TEST_F(DibImageLoad, EightBitFileKeepsIndicesTableAndBottomUpRows) {
    BmpFile bmp(3, 2);
    bmp.pixels = {1, 2, 3, 0xEE, 200, 40, 6, 0xEE}; // bottom row first
    const std::string f = Saved(bmp);
    struct Case {
        int bits;
        LONG stride;
        std::vector<BYTE> top, bottom;
    };
    const Case cases[] = {
        {8, 4, {200, 40, 6}, {1, 2, 3}},
        // 0RRRRRGG GGGBBBBB, low byte first
        {16, 8, {0xD9, 0x30, 0x45, 0x0B, 0xE0, 0x03}, {0xE0, 0x03, 0xE0, 0x03, 0xE0, 0x03}},
        {24, 12, {200, 55, 100, 40, 215, 20, 6, 249, 3}, {1, 254, 0, 2, 253, 1, 3, 252, 1}},
        {32, 12, {200, 55, 100, 0, 40, 215, 20, 0, 6, 249, 3, 0}, {1, 254, 0, 0, 2, 253, 1, 0, 3, 252, 1, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        DibImage image;
        RecordingSink sink;
        ASSERT_TRUE(image.Load(&sink, f.c_str(), c.bits));
        EXPECT_TRUE(sink.messages.empty());
        EXPECT_EQ(
            std::tuple(image.Width(), image.Height(), image.Stride(), image.Info()->bmiHeader.biBitCount),
            std::tuple(3, 2, c.stride, static_cast<WORD>(c.bits)));
        EXPECT_EQ(image.PixelAddress(2, 1), image.Bits() + 2 * c.bits / 8);
        for (const auto& [y, want] : {std::pair(0, &c.top), std::pair(1, &c.bottom)}) {
            const BYTE* row = image.PixelAddress(0, y);
            EXPECT_EQ(std::vector<BYTE>(row, row + want->size()), *want) << "row " << y;
        }
        for (const auto& [x, y] : {std::pair(3, 0), std::pair(0, 2), std::pair(-1, 0)})
            EXPECT_EQ(image.PixelAddress(x, y), nullptr) << x << "," << y;
    }
    DibImage image;
    EXPECT_FALSE(image.Load(nullptr, f.c_str(), 4)) << "no conversion to other depths";
    EXPECT_EQ(image.Info(), nullptr);

    // Colour counts beyond the table are capped. biClrUsed 300: 256 entries
    // are read and the pixels follow them.
    BmpFile capped(4, 1);
    capped.info.biClrUsed = 300;
    capped.pixels = {255, 0, 1, 2};
    ASSERT_TRUE(image.Load(nullptr, Saved(capped).c_str(), 8));
    EXPECT_EQ(*image.PixelAddress(0, 0), 255);
    EXPECT_EQ(image.Info()->bmiColors[255].rgbBlue, 255);
}

TEST_F(DibImageLoad, RefusesFilesItCannotShowWithTheRightMessage) {
    struct Case {
        const char* name;
        void (*spoil)(BmpFile&);
        const char* message; // null: silent
    };
    const Case cases[] = {
        {"24-bit", [](BmpFile& b) { b.info.biBitCount = 24; }, "Not a 256 color bitmap."},
        {"core header", [](BmpFile& b) { b.info.biSize = 12; }, "Not a Windows DIB."},
        {"RLE8", [](BmpFile& b) { b.info.biCompression = BI_RLE8; }, "Not a 256 color bitmap."},
        {"top-down", [](BmpFile& b) { b.info.biHeight = -4; }, "Not a 256 color bitmap."},
        {"width 0", [](BmpFile& b) { b.info.biWidth = 0; }, nullptr},
        {"height 0", [](BmpFile& b) { b.info.biHeight = 0; }, nullptr},
        {"not BM", [](BmpFile& b) { b.file.bfType = 0x4142; }, nullptr},
        {"pixels shorter than the rows", [](BmpFile& b) { b.pixels.resize(b.pixels.size() - 1); }, nullptr},
        // 1078: the headers and a full colour table.
        {"file ends inside the rows", [](BmpFile& b) { b.Sizes(1078, 1078 + 16).pixels.resize(9); }, nullptr},
        {"offset beyond the file size", [](BmpFile& b) { b.Sizes(0xFFFFFFF0, 10); }, nullptr},
        {"huge picture", [](BmpFile& b) { b.info.biWidth = b.info.biHeight = 0x7FFFFFFF; }, nullptr},
    };
    const std::string good = Saved(BmpFile(4, 4), "good.bmp");
    for (const Case& c : cases) {
        BmpFile bmp(4, 4);
        c.spoil(bmp);
        const std::string f = Saved(bmp);
        DibImage image;
        ASSERT_TRUE(image.Load(nullptr, good.c_str(), 8));
        RecordingSink sink;
        EXPECT_FALSE(image.Load(&sink, f.c_str(), 24)) << c.name;
        // The old picture stays.
        EXPECT_EQ(std::tuple(image.Width(), image.Info()->bmiHeader.biBitCount), std::tuple(4, WORD{8}))
            << c.name;
        std::vector<std::string> expected;
        if (c.message != nullptr)
            expected.push_back(std::string(c.message) + "|Cadmo error|" + std::to_string(MB_ICONWARNING));
        EXPECT_EQ(sink.messages, expected) << c.name;
    }
    std::ofstream(dir.File("text.bmp")) << "hello\n";
    DibImage image;
    RecordingSink sink;
    EXPECT_FALSE(image.Load(&sink, dir.File("text.bmp").c_str(), 8));
    EXPECT_FALSE(image.Load(&sink, "/nonexistent/x.bmp", 8));
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(DibImageLoad, MatchPaletteRemapsEveryByteAndTakesThePaletteColours) {
    BmpFile bmp(2, 1, 2);
    bmp.colors = {RGBQUAD{0, 0, 250, 0}, RGBQUAD{250, 250, 250, 0}}; // nearly red, nearly white
    bmp.pixels = {0, 1, 2, 1}; // index 2 is one of the black unloaded entries
    const std::string f = Saved(bmp);
    DibImage image;
    ASSERT_TRUE(image.Load(nullptr, f.c_str(), 8));

    std::vector<PALETTEENTRY> entries(256, PALETTEENTRY{255, 255, 255, 0});
    entries[0] = PALETTEENTRY{255, 0, 0, 0};
    entries[7] = PALETTEENTRY{0, 0, 0, 0};
    HPALETTE pal = MakePalette(entries);
    ASSERT_TRUE(image.MatchPalette(pal));
    // White maps to the first white entry; black entries map like any other,
    // padding included.
    EXPECT_EQ(std::vector<BYTE>(image.Bits(), image.Bits() + 4), (std::vector<BYTE>{0, 1, 7, 1}));
    EXPECT_EQ(image.Info()->bmiColors[7].rgbRed, 0);
    EXPECT_EQ(image.Info()->bmiColors[0].rgbRed, 255);

    EXPECT_FALSE(image.MatchPalette(nullptr));
    DibImage deep;
    ASSERT_TRUE(deep.Load(nullptr, f.c_str(), 24));
    EXPECT_FALSE(deep.MatchPalette(pal));
    DeleteObject(pal);
    EXPECT_FALSE(image.MatchPalette(pal)) << "a dead palette changes nothing";
    EXPECT_EQ(image.Bits()[2], 7);
}

// A 32-bit image over caller memory, which it only borrows: the image goes
// first, and freeing the memory would free it twice.
struct Canvas {
    std::vector<DWORD> memory;
    DibImage image;
    Canvas(LONG w, LONG h, DWORD fill) : memory(static_cast<std::size_t>(w * h), fill) {
        BITMAPINFOHEADER hdr{40, w, h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        EXPECT_TRUE(image.Attach(&hdr, memory.data()));
    }
    DWORD At(int x, int y) {
        DWORD v;
        std::memcpy(&v, image.PixelAddress(x, y), 4);
        return v;
    }
};

TEST(DibImageCopy, ClipsToBothImages) {
    // The source's pixels are their own coordinates, x << 8 | y, stored
    // bottom row first.
    Canvas src(10, 6, 0);
    for (std::size_t i = 0; i < src.memory.size(); ++i)
        src.memory[i] = static_cast<DWORD>(i % 10 << 8 | (5 - i / 10));
    constexpr DWORD kBlank = 0xFFFFFFFF;
    struct Case {
        LONG w, h;
        std::array<int, 6> copy;                         // dx, dy, w, h, sx, sy
        std::vector<std::tuple<int, int, DWORD>> pixels; // x, y, value in the destination
    };
    const Case cases[] = {
        // Source x -5: lands 5 further right, 5 narrower.
        {10, 6, {1, 1, 8, 2, -5, 0}, {{5, 1, kBlank}, {6, 1, 0x000}, {8, 2, 0x201}, {9, 2, kBlank}}},
        // Hanging off the destination's bottom-right corner.
        {4, 4, {2, 3, 10, 10, 7, 4}, {{2, 3, 0x704}, {3, 3, 0x804}, {1, 3, kBlank}, {2, 2, kBlank}}},
        // Negative destination: the source start moves instead.
        {4, 4, {-2, -1, 4, 3, 0, 0}, {{0, 0, 0x201}, {1, 1, 0x302}, {2, 0, kBlank}, {0, 2, kBlank}}},
    };
    for (const Case& c : cases) {
        Canvas dst(c.w, c.h, kBlank);
        const auto [dx, dy, w, h, sx, sy] = c.copy;
        src.image.CopyTo(&dst.image, dx, dy, w, h, sx, sy);
        for (const auto& [x, y, v] : c.pixels)
            EXPECT_EQ(dst.At(x, y), v) << dx << "," << dy << ": " << x << "," << y;
    }

    // Wholly outside, extreme positions, other depths: nothing moves.
    Canvas dst(4, 4, kBlank);
    src.image.CopyTo(&dst.image, 0, 0, 4, 4, 10, 0);
    src.image.CopyTo(&dst.image, 0, 0, 4, 4, 0, 6);
    src.image.CopyTo(&dst.image, 0, 0, 4, 4, -100, 0);
    src.image.CopyTo(&dst.image, 0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF, -0x7FFFFFFF, 0);
    src.image.CopyTo(&dst.image, -0x7FFFFFFF - 1, 0, 0x7FFFFFFF, 4, 0x7FFFFFFF, 0);
    std::vector<BYTE> bytes(16 * 4);
    BITMAPINFOHEADER hdr{40, 4, 4, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    DibImage deep;
    ASSERT_TRUE(deep.Attach(&hdr, bytes.data()));
    deep.CopyTo(&dst.image, 0, 0, 4, 4, 0, 0);
    src.image.CopyTo(nullptr, 0, 0, 4, 4, 0, 0);
    EXPECT_EQ(dst.memory, std::vector<DWORD>(16, kBlank));
    hdr.biBitCount = 4;
    EXPECT_FALSE(deep.Attach(&hdr, bytes.data()));
    EXPECT_EQ(deep.Info()->bmiHeader.biBitCount, 24) << "a refused header changes nothing";
}

} // namespace
