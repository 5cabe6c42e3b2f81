// Files made by the ffmpeg tool read by us and by ffprobe: stream facts,
// frame count, and every packet's position, size and key flag must agree.
// (Files from our writer meet ffprobe in the round-trip tests, and ffmpeg's
// files without their index in the damaged-file tests.)
#include "AviTestUtil.h"

#include "support/Process.h"

#include <string>

using namespace cadmo::test;

using AviFfmpeg = AviTest;

// To the container a codec is chunk sizes and key flags: large chunks all
// key, and small ones with only frames 0 and 50 key.
TEST_F(AviFfmpeg, FfmpegFilesAgreeWithFfprobe) {
    if (!HaveProgram("ffmpeg") || !HaveProgram("ffprobe"))
        GTEST_SKIP() << "ffmpeg is not installed";
    for (const std::string args : {"-c:v rawvideo -pix_fmt bgr24", "-c:v mpeg4 -g 50 -bf 0"}) {
        SCOPED_TRACE(args);
        const std::string path = dir.File("ffmpeg.avi");
        ASSERT_EQ(
            RunCommand("ffmpeg -v error -y -f lavfi -i testsrc=size=96x72:rate=15:duration=4 -f lavfi -i "
                       "sine=frequency=440:sample_rate=22050:duration=4 " +
                       args + " -c:a pcm_s16le " + ShellQuote(path))
                .exitCode,
            0);
        CompareWithFfprobe(path, 60);
    }
}
