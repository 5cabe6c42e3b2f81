// Files made by the ffmpeg tool, read by us and by ffprobe: stream facts,
// frame count, and every packet's position, size and key flag must agree.
#include "AviFfmpegCompare.h"

#include "support/Process.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace cadmo::test;

namespace {

struct Case {
    const char* name;
    const char* videoArgs;
    const char* size;
};

std::string CaseName(const ::testing::TestParamInfo<Case>& param) {
    return param.param.name;
}

class AviFfmpegFiles : public ::testing::TestWithParam<Case> {};

TEST_P(AviFfmpegFiles, AgreeWithFfprobe) {
    if (!HaveProgram("ffmpeg") || !HaveProgram("ffprobe"))
        GTEST_SKIP() << "ffmpeg is not installed";
    const Case& c = GetParam();
    TempDir dir;
    const std::string path = dir.File(std::string(c.name) + ".avi");
    const std::string cmd =
        std::string("ffmpeg -v error -y -f lavfi -i testsrc=size=") + c.size +
        ":rate=15:duration=4 -f lavfi -i sine=frequency=440:sample_rate=22050:duration=4 " + c.videoArgs +
        " -c:a pcm_s16le " + ShellQuote(path);
    ASSERT_EQ(RunCommand(cmd).exitCode, 0) << cmd;
    CompareWithFfprobe(path, 60);
}

INSTANTIATE_TEST_SUITE_P(Codecs, AviFfmpegFiles,
                         ::testing::Values(Case{"rawvideo", "-c:v rawvideo -pix_fmt bgr24", "96x72"},
                                           Case{"cinepak", "-c:v cinepak", "64x48"},
                                           Case{"msvideo1", "-c:v msvideo1", "96x72"},
                                           Case{"mjpeg", "-c:v mjpeg -q:v 5", "96x72"},
                                           // A long key-frame interval: only frames 0 and 50 are key.
                                           Case{"mpeg4", "-c:v mpeg4 -g 50 -bf 0", "96x72"}),
                         CaseName);

} // namespace
