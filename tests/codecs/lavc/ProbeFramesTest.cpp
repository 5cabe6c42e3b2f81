// cadmo-probe --frames: the headless check that decodes through the codec
// layer and prints one hash per frame.
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
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

TEST(ProbeFrames, HashesMatchFfmpegAndRawFramesHaveTheirSize) {
    if (!HaveProgram("ffmpeg") || BinDir().empty())
        GTEST_SKIP() << "needs ffmpeg and CADMO_BIN_DIR";
    TempDir dir;
    const std::string avi = dir.File("in.avi");
    ASSERT_TRUE(
        Ffmpeg("-f lavfi -i testsrc2=size=90x60:rate=10 -frames:v 7 -c:v mpeg4 -g 3 " + ShellQuote(avi)));
    const std::string probe = ShellQuote(BinDir() + "cadmo-probe") + " --frames ";

    ProcessResult r = RunCommand(probe + ShellQuote(avi));
    ASSERT_EQ(r.exitCode, 0) << r.out;
    auto expected = FfmpegFrameHashes(avi, "bgr24");
    auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), expected.size());
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(lines[i], std::to_string(i) + " " + expected[i]);

    // 16 bits, raw: 90 x 60 x 2 bytes per frame, no row padding, and the
    // file is what the printed hashes describe.
    const std::string raw = dir.File("out.raw");
    r = RunCommand(probe + ShellQuote(avi) + " --depth 16 --raw " + ShellQuote(raw));
    ASSERT_EQ(r.exitCode, 0);
    std::ifstream file(raw, std::ios::binary);
    std::vector<BYTE> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_EQ(bytes.size(), 7u * 90 * 60 * 2);
    std::vector<BYTE> first(bytes.begin(), bytes.begin() + 90 * 60 * 2);
    EXPECT_EQ(Lines(r.out)[0], "0 " + Md5Hex(first));

    // With B-frames, the first frame shows the first picture and the last
    // the last.
    const std::string bframes = dir.File("bframes.avi");
    ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc2=size=90x60:rate=10 -frames:v 9 -c:v mpeg4 -bf 2 -g 4 " +
                       ShellQuote(bframes)));
    r = RunCommand(probe + ShellQuote(bframes));
    ASSERT_EQ(r.exitCode, 0) << r.out;
    expected = FfmpegFrameHashes(bframes, "bgr24");
    lines = Lines(r.out);
    ASSERT_EQ(lines.size(), expected.size());
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(lines[i], std::to_string(i) + " " + expected[i]);

    r = RunCommand(probe + ShellQuote(avi) + " --depth 8");
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_EQ(Lines(r.out)[0].rfind("palette ", 0), 0u);
    EXPECT_EQ(Lines(r.out).size(), 8u);
}

TEST(ProbeFrames, RefusesBadArgumentsAndFiles) {
    if (BinDir().empty())
        GTEST_SKIP() << "needs CADMO_BIN_DIR";
    TempDir dir;
    const std::string probe = ShellQuote(BinDir() + "cadmo-probe") + " --frames ";
    EXPECT_EQ(RunCommand(probe + "--depth 15 x.avi").exitCode, 2);
    EXPECT_EQ(RunCommand(probe).exitCode, 2);
    std::ofstream(dir.File("junk.avi")) << "not a movie";
    EXPECT_EQ(RunCommand(probe + ShellQuote(dir.File("junk.avi"))).exitCode, 2);
}

} // namespace
} // namespace cadmo::test
