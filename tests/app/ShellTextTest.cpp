// The shell's pure rules: status-bar texts and their rounding, titles and
// extensions of paths, dialog filters, the command line, accelerator keys.
#include "app/AcceleratorKeys.h"
#include "app/CommandLine.h"
#include "app/ShellPaths.h"
#include "app/StatusText.h"
#include "res/Accelerators.h"
#include "res/Resource.h"
#include "res/Strings.h"

#include <gtest/gtest.h>

#include <fnmatch.h>
#include <limits>
#include <set>
#include <sstream>

namespace {

StatusBarTexts Texts(LONG position, float rate, bool playing, LONG& shown, LONG skipped = 0,
                     LONG keyFrame = 0) {
    StatusBarInput in;
    in.loaded = true;
    in.playing = playing;
    in.position = position;
    in.frameRate = rate;
    in.skippedFrames = skipped;
    in.keyFrame = keyFrame;
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
    };
    for (const auto& c : cases) {
        LONG shown = 0;
        EXPECT_EQ(Texts(c.position, c.rate, c.playing, shown).position, c.text);
    }
    EXPECT_EQ(StatusMilliseconds(12947, 0, 23.976f), 539998);
}

TEST(StatusText, KeyMarkAndSkipCountLiveWhilePlayingAndBracketedAfter) {
    LONG shown = 0;
    StatusBarTexts t = Texts(0, 15.0f, false, shown, 0, 1);
    EXPECT_TRUE(t.setKeyMark);
    EXPECT_EQ(t.keyMark, " K");
    EXPECT_EQ(Texts(1, 15.0f, false, shown).keyMark, "");
    t = Texts(40, 15.0f, true, shown, 12);
    EXPECT_EQ(t.skipped, " 12 skipped");
    EXPECT_FALSE(t.setKeyMark); // part 0 keeps its text while playing
    EXPECT_EQ(shown, 12);
    // Stop zeroed the engine's count; the last shown count stays.
    EXPECT_EQ(Texts(41, 15.0f, false, shown).skipped, " [12] skipped");
    // A negative engine count shows as 0.
    EXPECT_EQ(Texts(42, 15.0f, true, shown, -3).skipped, " 0 skipped");
    EXPECT_EQ(shown, 0);
    // Without a movie everything is zero.
    shown = 7;
    StatusBarInput none; // not loaded
    none.position = 99;
    t = ComputeStatusBarTexts(none, shown);
    EXPECT_EQ(shown, 0);
    EXPECT_EQ(t.keyMark, "");
    EXPECT_EQ(t.skipped, " [0] skipped");
    EXPECT_EQ(t.position, " Pos: 00:00.00 [0]");
}

TEST(StatusText, FirstFrameOffsetAndUnusableRates) {
    EXPECT_EQ(StatusMilliseconds(25, 10, 15.0f), 1000);
    for (float rate : {0.0f, -1.0f, std::numeric_limits<float>::quiet_NaN()})
        EXPECT_EQ(StatusMilliseconds(5, 0, rate), 0) << rate;
    // A position far beyond what 32 bits of milliseconds hold is capped, not
    // wrapped into a negative time.
    EXPECT_EQ(StatusMilliseconds(2000000000, 0, 0.001f), std::numeric_limits<LONG>::max());
    LONG shown = 0;
    EXPECT_EQ(Texts(2000000000, 0.001f, false, shown).position.rfind(" Pos: 35791:", 0), 0u);
}

TEST(ShellPaths, TitleIsTheLastComponent) {
    EXPECT_EQ(TitleFromPath("D:\\clips\\demo.avi"), "demo.avi");
    EXPECT_EQ(TitleFromPath("/home/user/movies/demo.avi"), "demo.avi");
    EXPECT_EQ(TitleFromPath("D:demo.avi"), "demo.avi");
    EXPECT_EQ(TitleFromPath("demo.avi"), "demo.avi");
    // A trailing separator ends the scan: the candidate before it stays.
    EXPECT_EQ(TitleFromPath("/clips/dir/"), "dir/");
    // The first character is never a separator for this purpose.
    EXPECT_EQ(TitleFromPath("/demo.avi"), "/demo.avi");
    EXPECT_EQ(TitleFromPath("\"D:\\a b\\c.avi\""), "c.avi\"");
    EXPECT_EQ(TitleFromPath(std::string(5000, 'x')), std::string(5000, 'x'));
    EXPECT_EQ(TitleFromPath(""), "");
}

TEST(ShellPaths, BitmapExtensionInAnyCaseOfTheFileNameOnly) {
    EXPECT_TRUE(IsBitmapPath("back.bmp"));
    EXPECT_TRUE(IsBitmapPath("/x/BACK.BMP"));
    EXPECT_TRUE(IsBitmapPath("C:\\x\\back.Bmp"));
    EXPECT_FALSE(IsBitmapPath("movie.avi"));
    EXPECT_FALSE(IsBitmapPath("/pictures.bmp/movie"));
    EXPECT_FALSE(IsBitmapPath("back.bmp.avi"));
    EXPECT_FALSE(IsBitmapPath("bmp"));
    EXPECT_EQ(PathExtension("/a.b/c"), "");
    EXPECT_EQ(PathExtension("/a/c.tar.gz"), ".gz");
}

// The filters as a file dialog takes them: the patterns from the last
// parentheses of each, matched case-sensitively as GTK's dialog does, and the
// text before them shown (the dialog hides the filter details).
TEST(ShellPaths, StringTableFiltersBecomeDialogFiltersOfAnyCase) {
    const struct {
        std::string resource;
        std::vector<std::string> shown;
        std::set<std::string> offered;
        std::set<std::string> notOffered;
    } cases[] = {
        {LoadResourceString(IDS_AVIFILTER),
         {"AVI File (*.avi)"},
         {"clip.avi", "CLIP.AVI", "Clip.Avi"},
         {"clip.bmp"}},
        {LoadResourceString(IDS_BMPFILTER), {"BMP File (*.bmp)"}, {"back.bmp", "BACK.BMP"}, {"back.avi"}},
        {"Movies#*.avi#All#*#", {"Movies (*.avi)", "All (*)"}, {"MOVIE.AVI", "notes.txt"}, {}},
        {"", {}, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.resource);
        std::vector<std::string> shown;
        std::set<std::string> offered;
        std::stringstream filters(DialogFilterFromResource(c.resource));
        for (std::string filter; std::getline(filters, filter, ';');) {
            if (filter.empty())
                continue; // the second ';' of ";;"
            const size_t open = filter.rfind('(');
            ASSERT_TRUE(open != std::string::npos && filter.ends_with(")")) << filter;
            shown.push_back(filter.substr(0, filter.find_last_not_of(' ', open - 1) + 1));
            std::istringstream patterns(filter.substr(open + 1, filter.size() - open - 2));
            for (std::string pattern; patterns >> pattern;)
                for (const auto& files : {c.offered, c.notOffered})
                    for (const std::string& file : files)
                        if (fnmatch(pattern.c_str(), file.c_str(), 0) == 0)
                            offered.insert(file);
        }
        EXPECT_EQ(shown, c.shown);
        EXPECT_EQ(offered, c.offered);
    }
    EXPECT_EQ(LoadResourceString(99), nullptr);
}

TEST(CommandLine, OneFileAndTheOptions) {
    CommandLine c = ParseCommandLine({"/m/My Movie.avi"});
    EXPECT_EQ(c.action, CommandLine::Action::Run);
    EXPECT_EQ(c.file, "/m/My Movie.avi");
    EXPECT_EQ(ParseCommandLine({}).file, "");
    EXPECT_EQ(ParseCommandLine({"--help", "x"}).action, CommandLine::Action::Help);
    EXPECT_EQ(ParseCommandLine({"-h"}).action, CommandLine::Action::Help);
    EXPECT_EQ(ParseCommandLine({"--version"}).action, CommandLine::Action::Version);
    c = ParseCommandLine({"--audio=null", "a.avi"});
    EXPECT_EQ(c.audio, "null");
    EXPECT_EQ(c.file, "a.avi");
    EXPECT_EQ(ParseCommandLine({"--", "-odd.avi"}).file, "-odd.avi");
    EXPECT_EQ(ParseCommandLine({"--audio=alsa"}).action, CommandLine::Action::Error);
    EXPECT_EQ(ParseCommandLine({"--bogus"}).action, CommandLine::Action::Error);
    EXPECT_EQ(ParseCommandLine({"a.avi", "b.avi"}).action, CommandLine::Action::Error);
    c = ParseCommandLine({"--play=2000", "--quit-after=5000", "a.avi"});
    EXPECT_TRUE(c.play);
    EXPECT_EQ(c.playForMs, 2000);
    EXPECT_EQ(c.quitAfterMs, 5000);
    EXPECT_TRUE(ParseCommandLine({"--play"}).play);
    EXPECT_EQ(ParseCommandLine({"--play"}).playForMs, 0);
    for (const char* bad : {"--play=", "--play=-5", "--play=2s", "--quit-after=0", "--quit-after=999999999"})
        EXPECT_EQ(ParseCommandLine({bad}).action, CommandLine::Action::Error) << bad;
    EXPECT_NE(UsageText("cadmo").find("--audio=OUTPUT"), std::string::npos);
    EXPECT_EQ(VersionText().rfind("cadmo ", 0), 0u);
}

TEST(AcceleratorKeys, EveryEntryHasDistinctKeys) {
    const auto table = LoadAcceleratorTable();
    ASSERT_EQ(table.size(), 14u);
    std::set<QString> seen;
    for (const ACCEL& a : table) {
        EXPECT_TRUE(a.fVirt & FNOINVERT);
        const QList<QKeySequence> keys = KeySequencesFor(a);
        ASSERT_FALSE(keys.isEmpty()) << a.cmd;
        for (const QKeySequence& k : keys)
            EXPECT_TRUE(seen.insert(k.toString()).second) << "duplicate " << k.toString().toStdString();
    }
    // Which key runs which command is followed in the window's own tests,
    // which press the keys.
}
