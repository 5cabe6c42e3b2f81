// Files made by the ffmpeg tool read by us and by ffprobe: stream facts,
// frame count, and every packet's position, size and key flag must agree.
// (Files from our writer meet ffprobe in the round-trip tests.)
#include "AviTestUtil.h"

#include "support/Process.h"

#include <fstream>
#include <iterator>
#include <vector>

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

// With the index gone, the key frames of MPEG-4 and H.264 streams are found
// again from the frames themselves, and match what ffprobe reports with the
// index intact.
TEST_F(AviFfmpeg, RebuiltIndexFindsKeyFramesInTheBitstream) {
    if (!HaveProgram("ffmpeg") || !HaveProgram("ffprobe"))
        GTEST_SKIP() << "ffmpeg is not installed";
    std::vector<std::pair<std::string, std::string>> codecs = {{"mpeg4", "-c:v mpeg4 -g 12 -bf 0"}};
    if (RunCommand("ffmpeg -hide_banner -encoders").out.find("libx264") != std::string::npos)
        codecs.push_back({"h264", "-c:v libx264 -g 12 -bf 0 -pix_fmt yuv420p"});
    for (const auto& [name, args] : codecs) {
        SCOPED_TRACE(name);
        const std::string path = dir.File(name + ".avi");
        ASSERT_EQ(RunCommand("ffmpeg -v error -y -f lavfi -i testsrc=size=96x72:rate=15:duration=3 " + args +
                             " " + ShellQuote(path))
                      .exitCode,
                  0);
        std::vector<bool> keys;
        for (const FfprobeSection& p : Ffprobe(path))
            if (p.at("") == "packet")
                keys.push_back(p.at("flags")[0] == 'K');

        // Rename idx1 to JUNK: the file now has no index.
        std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(f)), {});
        ASSERT_NE(bytes.rfind("idx1"), std::string::npos);
        f.seekp(static_cast<std::streamoff>(bytes.rfind("idx1")));
        f.write("JUNK", 4);
        f.close();

        OpenedAvi avi(path);
        ASSERT_NE(avi.video, nullptr);
        EXPECT_TRUE(avi.details.fIndexRebuilt);
        ASSERT_EQ(AVIStreamChunkCount(avi.video), static_cast<LONG>(keys.size()));
        for (LONG i = 0; i < AVIStreamChunkCount(avi.video); ++i) {
            AVICHUNKINFO ci{};
            AVIStreamChunkInfo(avi.video, i, &ci);
            EXPECT_EQ(ci.fKeyFrame != 0, keys[static_cast<std::size_t>(i)]) << "frame " << i;
        }
    }
}
