// cadmo-probe --frames: the headless check that decodes through the codec
// layer and prints one hash per frame. The codecs' own pictures are checked
// against ffmpeg in the codec tests; here the tool's feeding, numbering and
// output are.
#include "CodecTestUtil.h"

#include "support/Process.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace cadmo::test {
namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// With B-frames the tool must feed the codec as the player does, so that the
// first frame shows the first picture and the last the last, as ffmpeg
// numbers them.
TEST(ProbeFrames, PrintsFfmpegsHashesWritesRawFramesAndThePalette) {
    if (!HaveProgram("ffmpeg") || BinDir().empty())
        GTEST_SKIP() << "needs ffmpeg and CADMO_BIN_DIR";
    TempDir dir;
    const std::string avi = dir.File("bframes.avi");
    ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc2=size=90x60:rate=10 -frames:v 9 -c:v mpeg4 -bf 2 -g 4 " +
                       ShellQuote(avi)));
    const std::string probe = ShellQuote(BinDir() + "cadmo-probe") + " --frames " + ShellQuote(avi);
    ProcessResult r = RunCommand(probe);
    ASSERT_EQ(r.exitCode, 0) << r.out;
    const std::vector<std::string> expected = FfmpegFrameHashes(avi, "bgr24");
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), expected.size());
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(lines[i], std::to_string(i) + " " + expected[i]);

    // 16 bits, raw: 90 x 60 x 2 bytes a frame, no row padding, and the file
    // is what the printed hashes describe.
    const std::string raw = dir.File("out.raw");
    r = RunCommand(probe + " --depth 16 --raw " + ShellQuote(raw));
    ASSERT_EQ(r.exitCode, 0);
    std::ifstream file(raw, std::ios::binary);
    const std::vector<BYTE> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_EQ(bytes.size(), 9u * 90 * 60 * 2);
    EXPECT_EQ(Lines(r.out)[0], "0 " + Md5Hex({bytes.begin(), bytes.begin() + 90 * 60 * 2}));

    r = RunCommand(probe + " --depth 8");
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.rfind("palette ", 0), 0u);
    EXPECT_EQ(Lines(r.out).size(), 10u);
}

TEST(ProbeFrames, RefusesBadArgumentsAndFiles) {
    if (BinDir().empty())
        GTEST_SKIP() << "needs CADMO_BIN_DIR";
    TempDir dir;
    const std::string probe = ShellQuote(BinDir() + "cadmo-probe") + " --frames ";
    std::ofstream(dir.File("junk.avi")) << "not a movie";
    for (const std::string& args :
         {std::string("--depth 15 x.avi"), std::string(), ShellQuote(dir.File("junk.avi"))})
        EXPECT_EQ(RunCommand(probe + args).exitCode, 2) << args;
}

} // namespace
} // namespace cadmo::test
