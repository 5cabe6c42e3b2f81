// cadmo-probe run as a program on files we write: the text report, the JSON
// report with the index, and the one-line errors.
#include "support/OpenedAvi.h"
#include "support/Process.h"
#include "support/TempDir.h"
#include "support/TestAvi.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace cadmo::test;

namespace {

std::string Probe(const std::string& args, int* exitCode) {
    const ProcessResult r = RunCommand(ShellQuote(BinDir() + "cadmo-probe") + " " + args);
    if (exitCode)
        *exitCode = r.exitCode;
    return r.out;
}

TestAviSpec Spec() {
    TestAviSpec spec;
    spec.rate = 30000;
    spec.scale = 1001;
    spec.start = 5;
    spec.frames = 100;
    spec.width = 40;
    spec.height = 30;
    spec.keyEvery = 25;
    return spec;
}

} // namespace

TEST(Probe, TextReportDescribesHeadersStreamsAndFormats) {
    TempDir dir;
    const std::string path = dir.File("movie.avi");
    ASSERT_EQ(WriteTestAvi(path, Spec()), AVIERR_OK);
    int code = -1;
    const std::string out = Probe(ShellQuote(path), &code);
    ASSERT_EQ(code, 0) << out;
    for (const char* line :
         {"Format: AVI 1.0, 1 RIFF list\n", "Index: idx1, offsets relative to movi\n",
          "  Streams: 2 (2 usable)\n", "Stream 0: vids\n", "  Rate/scale: 30000/1001 = 29.970 per second\n",
          "  Start: 5\n", "  Length: 100\n", "  Duration: 3.337 s\n", "  Chunks: 100 (4 key)\n",
          "    Size: 40 x 30 (bottom-up)\n", "    Compression: BI_RGB (0x00000000)\n", "Stream 1: auds\n",
          "    Samples per second: 22050\n", "    Block align: 4\n", "    Format tag: 1 (PCM)\n"})
        EXPECT_NE(out.find(line), std::string::npos) << "missing: " << line << "in:\n" << out;
}

TEST(Probe, JsonWithIndexMatchesTheLibrary) {
    TempDir dir;
    TestAviSpec spec = Spec();
    spec.options.writeIdx1 = false; // the report must say that the index was rebuilt
    const std::string path = dir.File("noindex.avi");
    ASSERT_EQ(WriteTestAvi(path, spec), AVIERR_OK);
    int code = -1;
    const std::string out = Probe("--json --index " + ShellQuote(path), &code);
    ASSERT_EQ(code, 0);
    // A syntax error is caught where a JSON reader is at hand; the values are
    // read as the text the report writes, one stream or index entry a line.
    if (HaveProgram("jq")) {
        EXPECT_EQ(RunCommand(ShellQuote(BinDir() + "cadmo-probe") + " --json --index " + ShellQuote(path) +
                             " | jq empty")
                      .exitCode,
                  0);
    }
    for (const char* field :
         {"\"indexRebuilt\": true,", "{\"stream\": 0, \"type\": \"vids\"", "\"start\": 5,",
          "\"kind\": \"bitmap\", \"bytes\": 40, \"width\": 40,", "\"channels\": 2,"})
        EXPECT_NE(out.find(field), std::string::npos) << field << " in:\n" << out;

    OpenedAvi avi(path);
    ASSERT_TRUE(avi.video && avi.audio);
    std::size_t at = 0, entries = 0;
    for (LONG n = 0; n < 2; ++n) {
        PAVISTREAM s = n == 0 ? avi.video : avi.audio;
        at = out.find("{\"stream\": " + std::to_string(n) + ",", at);
        ASSERT_NE(at, std::string::npos) << "stream " << n;
        for (LONG c = 0; c < AVIStreamChunkCount(s); ++c, ++entries) {
            AVICHUNKINFO ci{};
            AVIStreamChunkInfo(s, c, &ci);
            const std::string entry = "{\"sample\": " + std::to_string(ci.lFirstSample) +
                                      ", \"offset\": " + std::to_string(ci.qwOffset) +
                                      ", \"size\": " + std::to_string(ci.dwSize) +
                                      ", \"key\": " + (ci.fKeyFrame ? "true" : "false") + "}";
            at = out.find(entry, at);
            ASSERT_NE(at, std::string::npos) << "stream " << n << ": " << entry;
        }
    }
    std::size_t written = 0;
    for (std::size_t p = out.find("{\"sample\": "); p != std::string::npos;
         p = out.find("{\"sample\": ", p + 1))
        ++written;
    EXPECT_EQ(written, entries);
}

TEST(Probe, UnreadableFilesGiveOneLineAndNonZeroExit) {
    TempDir dir;
    const std::string text = dir.File("text.avi");
    std::ofstream(text) << "not a movie at all";
    for (const auto& [path, cause] :
         {std::pair{dir.File("missing.avi"), "cannot open the file"}, std::pair{text, "not an AVI file"}}) {
        // Standard error only.
        const ProcessResult r = RunCommand("{ " + ShellQuote(BinDir() + "cadmo-probe") + " " +
                                           ShellQuote(path) + " 2>&1 >/dev/null; }");
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.out.find(cause), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << r.out;
    }
    int code = 0;
    Probe("", &code);
    EXPECT_EQ(code, 2);
    // Asked for, the usage is an answer: on standard output, with success.
    for (const char* help : {"--help", "-h"}) {
        EXPECT_NE(Probe(help, &code).find("usage: cadmo-probe"), std::string::npos) << help;
        EXPECT_EQ(code, 0) << help;
    }
}

// A file without an index is scanned before the report; on a terminal the
// scan counts up on stderr, and the line is blanked before the report.
// Anything else reading stderr sees no change. The library reports only scans
// of 32 MB and more.
TEST(Probe, IndexRebuildCountsUpOnATerminalOnly) {
    if (!HaveProgram("script"))
        GTEST_SKIP() << "script (util-linux) is needed for a terminal";
    TempDir dir;
    TestAviSpec spec;
    spec.width = 640;
    spec.height = 480;
    spec.frames = 40;
    spec.audio = false;
    spec.options.writeIdx1 = false;
    const std::string movie = dir.File("no index.avi");
    ASSERT_EQ(WriteTestAvi(movie, spec), 0);
    const std::string probe = ShellQuote(BinDir() + "cadmo-probe") + " " + ShellQuote(movie);

    const ProcessResult piped = RunCommand("{ " + probe + " 2>&1 >/dev/null; }");
    EXPECT_EQ(piped.exitCode, 0);
    EXPECT_EQ(piped.out, "");

    // Standard error alone on a pseudo-terminal.
    const ProcessResult tty =
        RunCommand("script -qec " + ShellQuote(probe + " 2>/dev/tty >/dev/null") + " /dev/null");
    EXPECT_EQ(tty.exitCode, 0);
    EXPECT_NE(tty.out.find("Rebuilding the index: 100%"), std::string::npos) << tty.out;
    // Blanked and back at the start of the line at the end.
    EXPECT_EQ(tty.out.back(), '\r') << tty.out;
}
