// The Info sheet: its texts and their rounding, and the page that copies them;
// the lines of the system version and where a dialog is centred.
#include "../app/QtTestApp.h"

#include "codecs/builtin/BuiltinCodecs.h"
#include "dialogs/CenterWindow.h"
#include "dialogs/InfoSheet.h"
#include "dialogs/MovieInfo.h"
#include "dialogs/SystemVersion.h"
#include "engine/Movie.h"
#include "support/Process.h"
#include "support/TempDir.h"

#include <QTabWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

TEST(MovieInfoText, MediaLengthAddsHalfAThousandthBeforeRounding) {
    EXPECT_EQ(FormatMediaLength(15, 1, 30), "2.001 sec.");
    EXPECT_EQ(FormatMediaLength(15, 1, 1800), "2 min., 0.001 sec.");
    EXPECT_EQ(FormatMediaLength(4, 1, 301), "1 min., 15.251 sec."); // 75.25 s
    // A zero rate or scale has no length; it shows as an empty movie rather
    // than a division by zero.
    EXPECT_EQ(FormatMediaLength(0, 1, 100), "0.001 sec.");
    EXPECT_EQ(FormatMediaLength(15, 0, 100), "0.001 sec.");
    // The largest lengths still give a sensible count of minutes.
    EXPECT_EQ(FormatMediaLength(1, 1, 0xFFFFFFFFu).rfind("71582788 min., 15.001 sec.", 0), 0u);
}

TEST(MovieInfoText, AudioVideoAndCodecTexts) {
    EXPECT_EQ(FormatAudioFormat(nullptr), "No Audio");
    WAVEFORMATEX wave{WAVE_FORMAT_PCM, 2, 22050, 88200, 4, 16, 0};
    EXPECT_EQ(FormatAudioFormat(&wave), "PCM, 22050 Hz, 16 Bit, Stereo");
    wave.nChannels = 6;
    wave.wFormatTag = 0x55; // the word "PCM" is written whatever the tag says
    EXPECT_EQ(FormatAudioFormat(&wave), "PCM, 22050 Hz, 16 Bit, Mono");
    EXPECT_EQ(FormatFrameRate(29.97f), "29.970 Frames/Sec");
}

TEST(MovieInfoText, CompressedSoundNamesItsFormat) {
    const struct {
        WAVEFORMATEX wave;
        DWORD bits;
        const char* text;
    } cases[] = {
        {{0x0055, 2, 44100, 16000, 1152, 0, 12}, 128000, "MPEG Layer-3, 44100 Hz, 128 kbit/s, Stereo"},
        {{0x0011, 1, 22050, 11100, 512, 4, 2}, 88800, "IMA ADPCM, 22050 Hz, 89 kbit/s, Mono"},
        {{0x0002, 2, 22050, 22311, 1024, 4, 32}, 178488, "Microsoft ADPCM, 22050 Hz, 178 kbit/s, Stereo"},
        {{0x0007, 1, 8000, 8000, 1, 8, 0}, 64000, "CCITT u-Law, 8000 Hz, 64 kbit/s, Mono"},
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
    ASSERT_EQ(
        cadmo::test::RunCommand("ffmpeg -y -v error -f lavfi -i testsrc2=size=32x32:rate=10 -f lavfi -i "
                                "sine=frequency=500:sample_rate=44100 -t 2 -ac 2 -c:v rawvideo "
                                "-pix_fmt bgr24 -c:a libmp3lame -q:a 2 " +
                                path)
            .exitCode,
        0);
    Movie movie;
    ASSERT_EQ(movie.OpenFile(path.c_str()), 0);
    ASSERT_EQ(movie.OpenStreams(nullptr), 0);
    MovieInfo info;
    BuildMovieInfo("movie", &movie, 100, info);
    const char* prefix = "MPEG Layer-3, 44100 Hz, ";
    ASSERT_EQ(info.audioFormat.rfind(prefix, 0), 0u) << info.audioFormat;
    const int kbits = std::atoi(info.audioFormat.c_str() + std::strlen(prefix));
    EXPECT_GE(kbits, 32) << info.audioFormat;
    EXPECT_LE(kbits, 320) << info.audioFormat;
    EXPECT_NE(info.audioFormat.find("kbit/s, Stereo"), std::string::npos);
}

TEST(MovieInfoText, DataRateIsKilobytesPerSecondRounded) {
    EXPECT_EQ(FormatDataRate(3000, 15, 1, 900), "50 KB/sec.");
    EXPECT_EQ(FormatDataRate(3030, 15, 1, 900), "51 KB/sec."); // 50.5
    EXPECT_EQ(FormatDataRate(3029, 15, 1, 900), "50 KB/sec.");
    EXPECT_EQ(FormatDataRate(100, 0, 1, 10), "0 KB/sec.");
    EXPECT_EQ(FormatDataRate(0x7FFFFFFF, 0xFFFFFFFFu, 1, 1), "2147483647 KB/sec.");
}

TEST(MovieInfoText, TitlesAreCutAtACharacterBoundary) {
    EXPECT_EQ(TruncateUtf8(std::string(200, 'a'), 127).size(), 127u);
    std::string accents;
    for (int i = 0; i < 100; ++i)
        accents += "\xC3\xA9"; // é, two bytes
    const std::string cut = TruncateUtf8(accents, 127);
    EXPECT_EQ(cut.size(), 126u);
    // Without a movie the record is left as it was.
    MovieInfo info;
    info.fileName = "kept";
    BuildMovieInfo("title", nullptr, 10, info);
    EXPECT_EQ(info.fileName, "kept");
}

TEST(SystemVersion, TheThreeWindowsLines) {
    // Top bit clear: NT, with the build from the high word.
    EXPECT_EQ(WindowsVersionLine(3u | (51u << 8) | (1057u << 16)), "Microsoft Windows NT 3.51 (Build: 1057)");
    // Top bit set, major 4 or more: the 95 family, without a build.
    EXPECT_EQ(WindowsVersionLine(0x80000000u | 4u | (0u << 8) | (950u << 16)), "Microsoft Windows 95 4.0");
    // Top bit set, major below 4: Win32s, the build without its top bit.
    EXPECT_EQ(WindowsVersionLine(0x80000000u | 3u | (11u << 8) | (7u << 16)),
              "Microsoft Win32s 3.11 (Build: 7)");
}

TEST(CenterWindowOrigin, CentresThenKeepsInsideTheWorkArea) {
    const RECT work{0, 0, 1000, 700};
    POINT p = CenterWindowOrigin(200, 100, RECT{100, 100, 501, 401}, work);
    EXPECT_EQ(p.x, 200);
    EXPECT_EQ(p.y, 200);
    // Off the right and bottom edges: pushed back in.
    p = CenterWindowOrigin(200, 100, RECT{900, 650, 1000, 700}, work);
    EXPECT_EQ(p.x, 800);
    EXPECT_EQ(p.y, 600);
    // Off the left: the left edge wins, also for a window wider than the area.
    EXPECT_EQ(CenterWindowOrigin(1200, 100, RECT{0, 0, 100, 100}, work).x, 0);
    // Negative halves round toward zero.
    EXPECT_EQ(CenterWindowOrigin(101, 10, RECT{300, 300, 400, 400}, work).x, 300);
}

TEST(InfoSheet, GeneralPageCopiesTheRecordEachTimeItBecomesCurrent) {
    cadmo::test::TestApplication();
    MovieInfo info;
    info.fileName = "demo.avi";
    info.dataRate = "50 KB/sec.";
    InfoSheet sheet(info, nullptr);
    ASSERT_EQ(sheet.Pages()->count(), 2);
    EXPECT_EQ(sheet.ValueText(0), "demo.avi");
    EXPECT_EQ(sheet.ValueText(7), "50 KB/sec.");
    info = MovieInfo{};
    sheet.Pages()->setCurrentIndex(1);
    EXPECT_EQ(sheet.ValueText(0), "demo.avi");
    sheet.Pages()->setCurrentIndex(0);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(sheet.ValueText(i), "") << i;
}
