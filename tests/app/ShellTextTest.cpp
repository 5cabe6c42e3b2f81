// The shell's pure rules: status-bar texts and their rounding, titles and
// extensions of paths, dialog filters and the command line.
#include "app/CommandLine.h"
#include "app/ShellPaths.h"
#include "app/StatusText.h"
#include "res/Strings.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

StatusBarTexts Texts(LONG position, float rate, bool playing, LONG& shown, LONG skipped = 0) {
    StatusBarInput in;
    in.loaded = true;
    in.playing = playing;
    in.position = position;
    in.frameRate = rate;
    in.skippedFrames = skipped;
    return ComputeStatusBarTexts(in, shown);
}

} // namespace

TEST(StatusText, PositionIsRoundedToHundredthsStoppedAndToSecondsPlaying) {
    const struct {
        LONG position;
        float rate;
        bool playing;
        const char* text;
    } cases[] = {
        {0, 15.0f, false, " Pos: 00:00.00 [0]"},
        // 66.67 ms truncates to 66, and (66 + 5) / 10 gives 7 hundredths.
        {1, 15.0f, false, " Pos: 00:00.07 [1]"},
        // 539998 ms at 23.976 fps: 8 min 59.998 s shows as 08:60.00, the
        // hundredths rounding into the seconds but never into the minutes.
        {12947, 23.976f, false, " Pos: 08:60.00 [12947]"},
        // Playing rounds the seconds only past the half; 50 hundredths stay down.
        {158, 15.0f, true, " Pos: 00:11 [158]"},
        {157, 15.0f, true, " Pos: 00:10 [157]"},
        {105, 10.0f, true, " Pos: 00:10 [105]"},
        // A position far beyond what 32 bits of milliseconds hold: the time
        // is capped, not wrapped into a negative one.
        {2000000000, 0.001f, false, " Pos: 35791:23.65 [2000000000]"},
    };
    for (const auto& c : cases) {
        LONG shown = 0;
        EXPECT_EQ(Texts(c.position, c.rate, c.playing, shown).position, c.text);
    }
    EXPECT_EQ(StatusMilliseconds(12947, 0, 23.976f), 539998);

    // The time counts from the first frame; a rate that is no rate gives 0.
    EXPECT_EQ(StatusMilliseconds(25, 10, 15.0f), 1000);
    for (float rate : {0.0f, -1.0f, std::numeric_limits<float>::quiet_NaN()})
        EXPECT_EQ(StatusMilliseconds(5, 0, rate), 0) << rate;
}

// The key mark and the live and bracketed skip counts are the window test's.
TEST(StatusText, KeyMarkAndSkipCountLiveWhilePlayingAndBracketedAfter) {
    LONG shown = 0;
    EXPECT_EQ(Texts(1, 15.0f, false, shown).keyMark, "");
    EXPECT_FALSE(Texts(40, 15.0f, true, shown, 12).setKeyMark); // part 0 keeps its text while playing
    // A negative engine count shows as 0.
    EXPECT_EQ(Texts(42, 15.0f, true, shown, -3).skipped, " 0 skipped");
    // Without a movie the count shown goes back to zero.
    shown = 7;
    EXPECT_EQ(ComputeStatusBarTexts(StatusBarInput{}, shown).skipped, " [0] skipped");
    EXPECT_EQ(shown, 0);
}

TEST(ShellPaths, TitleIsTheLastComponentAndABitmapIsNamedSoInAnyCase) {
    const std::pair<const char*, const char*> titles[] = {
        {"D:\\clips\\demo.avi", "demo.avi"},
        // A trailing separator ends the scan: the candidate before it stays.
        {"/clips/dir/", "dir/"},
        // The first character is never a separator for this purpose.
        {"/demo.avi", "/demo.avi"},
    };
    for (const auto& [path, title] : titles)
        EXPECT_EQ(TitleFromPath(path), title) << path;
    for (const char* bitmap : {"/x/BACK.BMP", "C:\\x\\back.Bmp"})
        EXPECT_TRUE(IsBitmapPath(bitmap)) << bitmap;
    for (const char* other : {"/pictures.bmp/movie", "back.bmp.avi", "bmp"})
        EXPECT_FALSE(IsBitmapPath(other)) << other;
}

// The filters as a file dialog takes them: the text shown, then the patterns
// in the last parentheses. GTK's dialog matches them case-sensitively, so
// every letter is bracketed in both cases. The string table's movie and
// bitmap filters are seen in the window test, as the dialogs get them.
TEST(ShellPaths, StringTableFiltersBecomeDialogFiltersOfAnyCase) {
    const std::pair<std::string, std::string> cases[] = {
        {"Movies#*.avi#All#*#", "Movies (*.avi) (*.[aA][vV][iI]);;All (*) (*)"},
        {"", ""},
    };
    for (const auto& [resource, filter] : cases)
        EXPECT_EQ(DialogFilterFromResource(resource), filter) << resource;
    EXPECT_EQ(LoadResourceString(99), nullptr);
}

// The options in use (--audio, --play, --quit-after and a file) are given to
// the program itself by the end-to-end test; here are the rest and the
// mistakes.
TEST(CommandLine, TheOtherOptionsAndTheMistakes) {
    EXPECT_EQ(ParseCommandLine({"--", "-odd.avi"}).file, "-odd.avi");
    EXPECT_EQ(ParseCommandLine({"--help", "x"}).action, CommandLine::Action::Help);
    EXPECT_EQ(ParseCommandLine({"--version"}).action, CommandLine::Action::Version);
    for (const char* bad : {"--audio=alsa", "--bogus", "--play=", "--play=-5", "--play=2s", "--quit-after=0",
                            "--quit-after=999999999"})
        EXPECT_EQ(ParseCommandLine({bad}).action, CommandLine::Action::Error) << bad;
    EXPECT_EQ(ParseCommandLine({"a.avi", "b.avi"}).action, CommandLine::Action::Error);
}
