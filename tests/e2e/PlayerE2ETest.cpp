// The real program on a real X server: cadmo opens the demo movie, plays it
// for two seconds and stops; screenshots of the screen show the moving
// picture, then a still one.
#include "support/Process.h"
#include "support/TempDir.h"
#include "support/XServer.h"

#include <QColor>
#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

using cadmo::test::ChildProcess;
using cadmo::test::RunCommand;
using cadmo::test::ShellQuote;
using cadmo::test::StartXvfb;

namespace {

using Clock = std::chrono::steady_clock;

// The geometry of the top-level window titled `title`, from xwininfo.
std::optional<QRect> FindWindow(const std::string& display, const std::string& title) {
    const auto r = RunCommand("xwininfo -display " + display + " -name " + ShellQuote(title), true);
    if (r.exitCode != 0)
        return std::nullopt;
    auto number = [&](const char* label) {
        std::smatch m;
        const std::regex re(std::string(label) + R"(:\s+(-?\d+))");
        return std::regex_search(r.out, m, re) ? std::stoi(m[1]) : -1;
    };
    const QRect w(number("Absolute upper-left X"), number("Absolute upper-left Y"), number("Width"),
                  number("Height"));
    return w.isEmpty() ? std::nullopt : std::optional(w);
}

QImage Screenshot(const std::string& display, const std::string& path) {
    const auto r = RunCommand("import -display " + display + " -window root " + ShellQuote(path), true);
    EXPECT_EQ(r.exitCode, 0) << r.out;
    return QImage(QString::fromStdString(path)).convertToFormat(QImage::Format_RGB32);
}

// The mean of `f(x, y)` over the pixels of `area`.
double Mean(const QRect& area, const std::function<double(int, int)>& f) {
    double sum = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            sum += f(x, y);
    return area.isEmpty() ? 0 : sum / (area.width() * area.height());
}

// How colourful `area` is: the mean spread between the largest and smallest
// channel of its pixels; a grey picture has none.
double Colourfulness(const QImage& image, const QRect& area) {
    return Mean(area, [&](int x, int y) {
        const QColor c(image.pixel(x, y));
        return std::max({c.red(), c.green(), c.blue()}) - std::min({c.red(), c.green(), c.blue()});
    });
}

// Waits until a window titled `title` exists (or, with `gone`, no longer
// does); true when it came to pass within `seconds`.
bool WaitForWindow(const std::string& display, const std::string& title, bool gone = false,
                   int seconds = 30) {
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < deadline) {
        if (FindWindow(display, title).has_value() != gone)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// Keys typed on the X server's keyboard, one after another, as xdotool names
// them; a pause after each lets menus open.
void Keys(const std::string& display, std::initializer_list<const char*> keys) {
    for (const char* key : keys) {
        EXPECT_EQ(RunCommand("xdotool key --delay 0 " + std::string(key), false).exitCode, 0) << key;
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
    }
}

// The player on a private X server, with the X tools the tests use.
struct Session {
    std::unique_ptr<ChildProcess> xserver;
    std::string display;
    cadmo::test::TempDir dir;
    std::unique_ptr<ChildProcess> player;

    // Starts the server, then cadmo on it with `options` and the demo movie
    // `title`, and waits for its window, which the movie names.
    void Start(const std::string& title, std::vector<std::string> options) {
        for (const char* tool : {"Xvfb", "import", "xwininfo", "xdotool"})
            ASSERT_TRUE(cadmo::test::HaveProgram(tool))
                << tool << " is needed (scripts/common.sh installs it)";
        ASSERT_FALSE(cadmo::test::BinDir().empty()) << "CADMO_BIN_DIR names the programs (CTest sets it)";
        for (int attempt = 0; attempt < 3 && display.empty(); ++attempt)
            display = StartXvfb(xserver);
        ASSERT_FALSE(display.empty()) << "Xvfb did not start";
        options.insert(options.begin(), {cadmo::test::BinDir() + "cadmo", "--audio=null"});
        options.push_back(cadmo::test::BinDir() + "demo/" + title);
        player = std::make_unique<ChildProcess>(
            options, std::map<std::string, std::string>{
                         {"DISPLAY", display}, {"QT_QPA_PLATFORM", "xcb"}, {"XDG_RUNTIME_DIR", dir.Path()}});
        setenv("DISPLAY", display.c_str(), 1); // for xdotool
        // Generous: the machine may be busy with other builds and tests.
        ASSERT_TRUE(WaitForWindow(display, title, false, 60))
            << "no window titled " << title << (player->Running() ? "" : " (the player ended)") << "\n"
            << RunCommand("xwininfo -display " + display + " -root -tree", true).out;
    }
};

} // namespace

TEST(PlayerE2E, PlaysTheDemoForTwoSecondsThenStops) {
    // The Tavro demo, so that the codec library is loaded by the program too.
    const std::string title = "qx47demo.avi";
    Session s;
    ASSERT_NO_FATAL_FAILURE(s.Start(title, {"--play=2000", "--quit-after=10000"}));
    // The title is set when the movie has opened; play starts then, and the
    // stop comes two seconds later. The shots leave room for a busy machine.
    const auto shown = Clock::now();
    std::this_thread::sleep_until(shown + std::chrono::milliseconds(1000));
    const QImage playing = Screenshot(s.display, s.dir.File("playing.png"));
    std::this_thread::sleep_until(shown + std::chrono::milliseconds(6000));
    const QImage stopped = Screenshot(s.display, s.dir.File("stopped.png"));
    // The title comes before the window is fitted to the picture, so the
    // size is read only now.
    const std::optional<QRect> window = FindWindow(s.display, title);
    ASSERT_TRUE(window);
    std::this_thread::sleep_until(shown + std::chrono::milliseconds(7000));
    const QImage still = Screenshot(s.display, s.dir.File("still.png"));
    EXPECT_EQ(s.player->Wait(30000), std::optional<int>(0)) << "the player ends by itself with status 0";

    ASSERT_TRUE(stopped.rect().contains(*window)) << "a screenshot of the whole screen";

    // The window: menu bar, picture, status bar. The picture is the band
    // above the bottom 40 rows (the status bar is shorter than that) and
    // below the top 30 (the menu bar). The status bar's parts are the main
    // window test's.
    const QRect picture = window->adjusted(0, 30, 0, -40);
    ASSERT_GT(picture.height(), 50);
    EXPECT_GT(Colourfulness(stopped, picture), 10.0) << "the picture is drawn, not the grey background";

    // It moved while playing and stands still once stopped.
    const auto differ = [&](const QImage& a, const QImage& b) {
        return Mean(picture, [&](int x, int y) { return a.pixel(x, y) != b.pixel(x, y); });
    };
    EXPECT_GT(differ(playing, stopped), 0) << "the picture changed while playing";
    EXPECT_EQ(differ(stopped, still), 0) << "stopped after two seconds";
}

TEST(PlayerE2E, TheAccessKeyIsTypedFromTheKeyboardAndThePictureAppears) {
    Session s;
    ASSERT_NO_FATAL_FAILURE(s.Start("qx47keyed.avi", {"--quit-after=60000"}));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500)); // fitted and painted
    const auto window = FindWindow(s.display, "qx47keyed.avi");
    ASSERT_TRUE(window);
    const QRect picture = window->adjusted(4, 30, -4, -40);
    // There is no window manager: the keyboard goes where it is put.
    ASSERT_EQ(RunCommand("xdotool search --name qx47keyed.avi windowfocus --sync").exitCode, 0);
    EXPECT_LT(Colourfulness(Screenshot(s.display, s.dir.File("locked.png")), picture), 1.0)
        << "grey without the key";

    // Options > Tavro R4 > Access Key..., the third item.
    Keys(s.display, {"alt+o", "t", "Down", "Down", "Return"});
    ASSERT_TRUE(WaitForWindow(s.display, "Access Key Control")) << "the Access Key dialog did not open";
    EXPECT_EQ(RunCommand("xdotool type --delay 50 4711").exitCode, 0);
    Keys(s.display, {"Return"});
    EXPECT_TRUE(WaitForWindow(s.display, "Access Key Control", true)) << "Enter pressed Set and closed it";
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_GT(Colourfulness(Screenshot(s.display, s.dir.File("unlocked.png")), picture), 10.0)
        << "the picture";

    // The keyboard is back in the main window: Color Controls, the second
    // item. (Escape closing it is the window test's.)
    Keys(s.display, {"alt+o", "t", "Down", "Return"});
    EXPECT_TRUE(WaitForWindow(s.display, "Color Controls")) << "the Color Controls dialog did not open";
    s.player->Stop(SIGTERM);
}

// Scripts and tests rely on --quit-after to end the program whatever it
// shows: here the error box about a file that is no movie.
TEST(PlayerE2E, QuitAfterEndsTheProgramAlsoWhileAMessageBoxIsOpen) {
    const std::string bin = cadmo::test::BinDir();
    ASSERT_FALSE(bin.empty()) << "CADMO_BIN_DIR names the programs (CTest sets it)";
    cadmo::test::TempDir dir;
    const std::string junk = dir.File("junk.avi");
    ASSERT_EQ(RunCommand("echo 'not a movie' > " + ShellQuote(junk)).exitCode, 0);
    ChildProcess player({bin + "cadmo", "--audio=null", "--quit-after=500", junk},
                        {{"QT_QPA_PLATFORM", "offscreen"}, {"XDG_RUNTIME_DIR", dir.Path()}});
    // Generous: the machine may be busy with other builds and tests.
    EXPECT_EQ(player.Wait(30000), std::optional<int>(0)) << "the player ends by itself with status 0";
}
