// cadmo-probe run as a program on files we write: the text report, the JSON
// report with the index, the frame hashes of --frames and the exit statuses.
// (An index rebuild's progress is reported by the AVI library, tested in the
// window test; the probe's terminal line for it is cosmetic.) Whether the
// codecs' pictures are right is checked against ffmpeg in the codec tests; here
// the tool's own output is.
#include "support/OpenedAvi.h"
#include "support/Process.h"
#include "support/TempDir.h"
#include "support/TestAvi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>

using namespace cadmo::test;

namespace {

// Redirections in `args` act inside the braces, before the runner sends
// standard error away, so a test can read the probe's standard error.
ProcessResult RunProbe(const std::string& args) {
    return RunCommand("{ " + ShellQuote(BinDir() + "cadmo-probe") + " " + args + "; }");
}

// 100 frames at 29.97 a second from frame 5, a key frame every 25, and sound.
TestAviSpec Spec() {
    return {
        .width = 40, .height = 30, .rate = 30000, .scale = 1001, .start = 5, .frames = 100, .keyEvery = 25};
}

class Probe : public ::testing::Test {
protected:
    // The movie of `spec`, written as `name` in the test's folder.
    std::string Movie(const TestAviSpec& spec, const std::string& name = "movie.avi") {
        EXPECT_EQ(WriteTestAvi(dir.File(name), spec), AVIERR_OK);
        return dir.File(name);
    }
    TempDir dir;
};

} // namespace

TEST_F(Probe, TextReportDescribesHeadersStreamsAndFormats) {
    const ProcessResult r = RunProbe(ShellQuote(Movie(Spec())));
    ASSERT_EQ(r.exitCode, 0) << r.out;
    for (const char* line :
         {"Format: AVI 1.0, 1 RIFF list\n", "Index: idx1, offsets relative to movi\n",
          "  Streams: 2 (2 usable)\n", "Stream 0: vids\n", "  Rate/scale: 30000/1001 = 29.970 per second\n",
          "  Start: 5\n", "  Length: 100\n", "  Duration: 3.337 s\n", "  Chunks: 100 (4 key)\n",
          "    Size: 40 x 30 (bottom-up)\n", "    Compression: BI_RGB (0x00000000)\n", "Stream 1: auds\n",
          "    Samples per second: 22050\n", "    Block align: 4\n", "    Format tag: 1 (PCM)\n"})
        EXPECT_NE(r.out.find(line), std::string::npos) << "missing: " << line << "in:\n" << r.out;
}

TEST_F(Probe, JsonWithIndexMatchesTheLibrary) {
    TestAviSpec spec = Spec();
    spec.options.writeIdx1 = false; // the report must say that the index was rebuilt
    const std::string path = Movie(spec);
    const ProcessResult json = RunProbe("--json --index " + ShellQuote(path));
    ASSERT_EQ(json.exitCode, 0);
    // A syntax error is caught where a JSON reader is at hand; the values are
    // read as the text the report writes, one stream or index entry a line.
    if (HaveProgram("jq")) {
        EXPECT_EQ(RunProbe("--json --index " + ShellQuote(path) + " | jq empty").exitCode, 0);
    }
    // The streams' values are checked in the text report; here the index.
    EXPECT_NE(json.out.find("\"indexRebuilt\": true,"), std::string::npos) << json.out;

    // Every chunk the library sees, in order, and nothing else.
    OpenedAvi avi(path);
    ASSERT_TRUE(avi.video && avi.audio);
    std::string expected;
    for (PAVISTREAM s : {avi.video, avi.audio})
        for (LONG c = 0; c < AVIStreamChunkCount(s); ++c) {
            AVICHUNKINFO ci{};
            AVIStreamChunkInfo(s, c, &ci);
            expected += "{\"sample\": " + std::to_string(ci.lFirstSample) +
                        ", \"offset\": " + std::to_string(ci.qwOffset) +
                        ", \"size\": " + std::to_string(ci.dwSize) +
                        ", \"key\": " + (ci.fKeyFrame ? "true" : "false") + "}\n";
        }
    std::string written;
    const std::regex entry("\\{\"sample\": [^}]*\\}");
    for (std::sregex_iterator m(json.out.begin(), json.out.end(), entry), end; m != end; ++m)
        written += m->str() + "\n";
    EXPECT_EQ(written, expected);
}

// --frames: one "number md5" line a frame, of the rows top to bottom without
// their padding, which are the bytes --raw writes.
TEST_F(Probe, FramesPrintsTheHashOfEachPictureAsRawWritesIt) {
    // 90 bytes a row, stored in 92.
    const std::string movie = ShellQuote(Movie({.width = 30, .height = 2, .frames = 3, .audio = false}));
    const std::string raw = dir.File("out.raw");
    ProcessResult r = RunProbe("--frames " + movie + " --raw " + ShellQuote(raw));
    ASSERT_EQ(r.exitCode, 0) << r.out;
    std::vector<BYTE> all;
    std::string expected;
    for (int f = 0; f < 3; ++f) {
        const std::vector<BYTE> stored = TestFrameBytes(f, 184);
        std::vector<BYTE> rows(180); // the top row is stored last
        std::copy_n(stored.begin() + 92, 90, rows.begin());
        std::copy_n(stored.begin(), 90, rows.begin() + 90);
        all.insert(all.end(), rows.begin(), rows.end());
        expected += std::to_string(f) + " " + Md5Hex(rows) + "\n";
    }
    EXPECT_EQ(r.out, expected);
    std::ifstream file(raw, std::ios::binary);
    EXPECT_EQ(std::vector<BYTE>(std::istreambuf_iterator<char>(file), {}), all);

    // At 8 bits the palette comes first.
    r = RunProbe("--frames " + movie + " --depth 8");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(std::regex_search(r.out, std::regex("^palette( [0-9a-f]{6}){256}\n0 [0-9a-f]{32}\n")))
        << r.out;
}

TEST_F(Probe, UnreadableFilesGiveOneLineAndNonZeroExit) {
    const std::string text = dir.File("text.avi");
    std::ofstream(text) << "not a movie at all";
    for (const auto& [path, cause] :
         {std::pair{dir.File("missing.avi"), "cannot open the file"}, std::pair{text, "not an AVI file"}}) {
        // Standard error only.
        const ProcessResult r = RunProbe(ShellQuote(path) + " 2>&1 >/dev/null");
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.out.find(cause), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << r.out;
    }
    for (const std::string& args :
         std::vector<std::string>{"", "--frames", "--frames --depth 15 x.avi", "--frames " + text})
        EXPECT_EQ(RunProbe(args).exitCode, 2) << args;
    // Asked for, the usage is an answer: on standard output, with success.
    for (const char* help : {"--help", "-h"}) {
        const ProcessResult r = RunProbe(help);
        EXPECT_NE(r.out.find("usage: cadmo-probe"), std::string::npos) << help;
        EXPECT_EQ(r.exitCode, 0) << help;
    }
}
