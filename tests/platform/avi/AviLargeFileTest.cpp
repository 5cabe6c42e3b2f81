// An OpenDML file past 1 GB made by ffmpeg: the reader must follow the AVIX
// lists and standard indexes exactly as ffprobe does. Kept cheap: 180 large
// uncompressed frames are written in a few seconds.
#include "AviTestUtil.h"

#include "support/Process.h"

#include <vector>

using namespace cadmo::test;

using AviLargeFile = AviTest;

TEST_F(AviLargeFile, OpenDmlPastOneGigabyteAgreesWithFfprobe) {
    if (!HaveProgram("ffmpeg") || !HaveProgram("ffprobe"))
        GTEST_SKIP() << "ffmpeg is not installed";
    const std::string path = dir.File("large.avi");
    const std::string cmd =
        "ffmpeg -v error -y -f lavfi -i testsrc=size=1920x1080:rate=25 -f lavfi "
        "-i sine=frequency=440:sample_rate=22050:duration=7.2 -frames:v 180 -c:v rawvideo -pix_fmt bgr24 "
        "-c:a pcm_s16le " +
        ShellQuote(path);
    ASSERT_EQ(RunCommand(cmd).exitCode, 0) << cmd;

    CompareWithFfprobe(path, 180);

    OpenedAvi avi(path);
    EXPECT_GT(avi.details.qwFileSize, 1ull << 30);
    EXPECT_GE(avi.details.dwRiffCount, 2u);
    // The last frame lies in an AVIX list past the first gigabyte.
    std::vector<BYTE> frame(1920 * 1080 * 3);
    LONG bytes = 0;
    EXPECT_EQ(
        AVIStreamRead(avi.video, 179, 1, frame.data(), static_cast<LONG>(frame.size()), &bytes, nullptr),
        AVIERR_OK);
    EXPECT_EQ(bytes, 1920 * 1080 * 3);
    EXPECT_LE(AVIStreamIndexBytes(avi.video), 16u * 180);
}
