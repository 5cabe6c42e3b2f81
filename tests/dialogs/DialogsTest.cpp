// The Info sheet's texts and their rounding. (Where a dialog is centred and
// the system version lines are a line of arithmetic each; a test of them
// would restate it.)
#include "codecs/builtin/BuiltinCodecs.h"
#include "dialogs/MovieInfo.h"
#include "engine/Movie.h"
#include "support/Process.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <regex>

TEST(MovieInfoText, MediaLengthAndDataRateRound) {
    EXPECT_EQ(FormatMediaLength(15, 1, 30), "2.001 sec.");
    EXPECT_EQ(FormatMediaLength(15, 1, 1800), "2 min., 0.001 sec.");
    EXPECT_EQ(FormatMediaLength(4, 1, 301), "1 min., 15.251 sec."); // 75.25 s
    // A zero rate or scale has no length; it shows as an empty movie rather
    // than a division by zero.
    EXPECT_EQ(FormatMediaLength(0, 1, 100), "0.001 sec.");
    EXPECT_EQ(FormatMediaLength(15, 0, 100), "0.001 sec.");
    // The largest lengths still give a sensible count of minutes.
    EXPECT_EQ(FormatMediaLength(1, 1, 0xFFFFFFFFu).rfind("71582788 min., 15.001 sec.", 0), 0u);
    // Data rates are kilobytes a second, rounded.
    EXPECT_EQ(FormatDataRate(3000, 15, 1, 900), "50 KB/sec.");
    EXPECT_EQ(FormatDataRate(3030, 15, 1, 900), "51 KB/sec."); // 50.5
    EXPECT_EQ(FormatDataRate(3029, 15, 1, 900), "50 KB/sec.");
    EXPECT_EQ(FormatDataRate(100, 0, 1, 10), "0 KB/sec.");
    EXPECT_EQ(FormatDataRate(0x7FFFFFFF, 0xFFFFFFFFu, 1, 1), "2147483647 KB/sec.");
}

TEST(MovieInfoText, AudioVideoAndCodecTexts) {
    WAVEFORMATEX wave{WAVE_FORMAT_PCM, 2, 22050, 88200, 4, 16, 0};
    EXPECT_EQ(FormatAudioFormat(&wave), "PCM, 22050 Hz, 16 Bit, Stereo");
    wave.nChannels = 6;
    wave.wFormatTag = 0x55; // the word "PCM" is written whatever the tag says
    EXPECT_EQ(FormatAudioFormat(&wave), "PCM, 22050 Hz, 16 Bit, Mono");
    // Other sound is named with its format, rate, bit rate and channels.
    const struct {
        WAVEFORMATEX wave;
        DWORD bits;
        const char* text;
    } cases[] = {
        {{0x0055, 2, 44100, 16000, 1152, 0, 12}, 128000, "MPEG Layer-3, 44100 Hz, 128 kbit/s, Stereo"},
        {{0x0011, 1, 22050, 11100, 512, 4, 2}, 88800, "IMA ADPCM, 22050 Hz, 89 kbit/s, Mono"},
        {{0x2000, 6, 48000, 48000, 1536, 0, 0}, 384000, "Dolby AC-3, 48000 Hz, 384 kbit/s, 6 Channels"},
        {{0x4A4B, 2, 44100, 0, 1, 0, 0}, 0xFFFFFFFFu, "Format 0x4A4B, 44100 Hz, 4294967 kbit/s, Stereo"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatCompressedAudio(c.wave, c.bits), c.text);
}

// A variable-rate MP3 stores no bit rate in its header; the sheet takes it
// from the stream.
TEST(MovieInfoText, TheSheetNamesTheSoundOfARealMovie) {
    if (!cadmo::test::HaveProgram("ffmpeg"))
        GTEST_SKIP() << "no ffmpeg";
    RegisterBuiltinCodecs();
    cadmo::test::TempDir dir;
    const std::string path = dir.File("movie.avi");
    const std::string ffmpeg = "ffmpeg -y -v error -f lavfi -i testsrc2=size=32x32:rate=10 -f lavfi -i "
                               "sine=frequency=500:sample_rate=44100 -t 2 -ac 2 -c:v rawvideo -pix_fmt bgr24 "
                               "-c:a libmp3lame -q:a 2 ";
    ASSERT_EQ(cadmo::test::RunCommand(ffmpeg + path).exitCode, 0);
    Movie movie;
    ASSERT_EQ(movie.OpenFile(path.c_str()), 0);
    ASSERT_EQ(movie.OpenStreams(nullptr), 0);
    MovieInfo info;
    BuildMovieInfo("movie", &movie, 100, info);
    // Some bit rate of two or three digits, not the header's 0.
    EXPECT_TRUE(std::regex_match(info.audioFormat,
                                 std::regex("MPEG Layer-3, 44100 Hz, [1-9][0-9]{1,2} kbit/s, Stereo")))
        << info.audioFormat;
}

TEST(MovieInfoText, TitlesAreCutAtACharacterBoundary) {
    std::string accents;
    for (int i = 0; i < 100; ++i)
        accents += "\xC3\xA9"; // é, two bytes
    EXPECT_EQ(TruncateUtf8(accents, 127).size(), 126u);
    EXPECT_EQ(TruncateUtf8(std::string(200, 'a'), 127).size(), 127u);
}
