// The main window's own wiring, driven the way a user drives it: menus and
// their graying and check marks, keys and menu items reaching their commands,
// the status bar's parts and texts, files from the command line, the Open
// dialog and a drop, palette import, dragging, and the dialogs it opens,
// the Tavro control dialogs among them. What the commands do to the movie is
// the player's, tested with it.
#include "QtTestApp.h"

#include "app/MainWindow.h"
#include "app/MenuTree.h"
#include "app/PaletteData.h"
#include "app/SeekBar.h"
#include "app/StatusBar.h"
#include "app/VideoWidget.h"
#include "dialogs/AccessKeyDialog.h"
#include "dialogs/CodecDialogState.h"
#include "dialogs/ColorDialog.h"
#include "dialogs/MovieInfo.h"
#include "dialogs/ScalabilityDialog.h"
#include "dialogs/Trackbar.h"
#include "engine/Player.h"
#include "res/Menus.h"
#include "res/Resource.h"
#include "support/Process.h"
#include "support/TempDir.h"
#include "support/TestAvi.h"
#include "video/VideoDecoder.h"

#include <QClipboard>
#include <QDropEvent>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QProgressDialog>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <utility>

using cadmo::test::Settle;

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        cadmo::test::TestApplication();
        dir = std::make_unique<cadmo::test::TempDir>();
        Write("movie.avi", {.width = 64, .height = 48, .frames = 200, .keyEvery = 15});
        Write("other clip.avi", {.width = 64, .height = 48, .frames = 20, .audio = false});
        Write("sound only.avi", {.frames = 20, .video = false});
        std::ofstream(dir->File("notes.avi")) << "this is not a movie";
    }
    static void TearDownTestSuite() { dir.reset(); }
    // A movie written into the suite's folder.
    static void Write(const std::string& name, const cadmo::test::TestAviSpec& spec) {
        ASSERT_EQ(cadmo::test::WriteTestAvi(dir->File(name), spec), 0) << name;
    }

    void SetUp() override {
        movies = dir->Path() + "/";
        ShellHooks hooks;
        hooks.messageBox = [this](const QString& text, const QString&, UINT) {
            messages << text;
            return static_cast<INT>(IDOK);
        };
        hooks.openFileDialog = [this](const QString& filter, const QString& folder) {
            dialogFilters << filter;
            dialogFolders << folder;
            return nextDialogAnswer;
        };
        hooks.modalDialog = [this](UINT command) { modalDialogs.push_back(command); };
        // An index rebuild shows its progress at once, so that the small
        // index-less movie below (scanned in milliseconds) brings it up.
        hooks.indexProgressDelayMs = 0;
        window = std::make_unique<MainWindow>(hooks);
        window->show();
        QApplication::setActiveWindow(window.get());
        Settle();
    }

    // A message box no test asked for fails it.
    void TearDown() override {
        EXPECT_TRUE(messages.empty()) << qPrintable(messages.join(' '));
        window->close();
        window.reset();
        Settle();
        QApplication::clipboard()->clear();
    }

    // Opens `name` from `movies`, as the command line opens a file.
    void Open(const std::string& name) {
        window->OpenMovieFile(QString::fromStdString(movies + name), nullptr);
        Settle();
    }

    UINT State(UINT command) const { return window->AttachedMenu()->GetMenuState(command); }
    bool Checked(UINT command) const { return State(command) & MF_CHECKED; }
    // The menu state the tests follow, in the menu's own words: the items of
    // interest that can be chosen, then every checked depth, size and palette.
    QString Menu() const {
        const MenuTree* menu = window->AttachedMenu();
        QStringList shown;
        for (UINT command : {UINT{IDM_CLOSE}, IDM_ALTLINE})
            if (!(State(command) & MF_GRAYED))
                shown << menu->Item(command)->text();
        for (int item : {0, 2, 3})
            if (menu->IsSubMenuEnabled({2, item}))
                shown << menu->SubMenu({2, item})->title();
        for (UINT command : {IDM_RGB8, IDM_RGB16, IDM_RGB24, IDM_RGB32, IDM_NATIVE, IDM_PIXELDOUBLE,
                             IDM_PALDEFAULT, IDM_PALCLIPBOARD, IDM_PALFILE})
            if (Checked(command))
                shown << menu->Item(command)->text();
        return shown.join('|').remove('&');
    }
    LONG Position() const { return theMovie->position; }
    QString StatusText(int part) {
        window->UpdateStatusBar();
        return window->Status()->Text(part);
    }
    // The window without a movie: the default title, the File menu alone with
    // Close grayed, a 320-pixel status bar and nothing above it.
    void ExpectEmptyWindow() {
        EXPECT_EQ(window->windowTitle(), "Tavro Player");
        EXPECT_EQ(window->AttachedMenu(), window->NoMovieMenu());
        EXPECT_EQ(Menu(), "");
        EXPECT_EQ(window->centralWidget()->width(), 320);
        EXPECT_EQ(window->Video()->height(), 0);
        EXPECT_EQ(StatusText(2), " Pos: 00:00.00 [0]");
        // A notice in the bar's single text hides the parts until it goes.
        if (window->Status()->SimpleText().isEmpty())
            ExpectThePositionShown();
    }
    // However narrow the window, the position part is there and reaches the
    // bar's right end, after the key-frame mark.
    void ExpectThePositionShown() {
        const StatusBar* bar = window->Status();
        const QRect key = bar->PartRect(0);
        const QRect position = bar->PartRect(2);
        EXPECT_FALSE(key.isEmpty());
        EXPECT_FALSE(position.isEmpty()) << "in a bar " << bar->width() << " pixels wide";
        EXPECT_EQ(position.x() + position.width(), bar->width());
        EXPECT_GE(position.x(), key.x() + key.width());
    }
    // Keys as a sequence names them, such as "Ctrl+Shift+Right".
    void Key(const char* keys) {
        QTest::keySequence(window.get(), QKeySequence(keys));
        Settle();
    }
    void Choose(UINT command) {
        window->AttachedMenu()->Item(command)->trigger();
        Settle();
    }

    // Opens an index-less movie and calls `act` once when its progress dialog
    // is up: the dialog runs the event loop while the scan goes on, so a timer
    // gets through. False when the dialog never showed. The movie has enough
    // data that the AVI library reports its index rebuild (it stays quiet
    // below 32 MB): 40 uncompressed 640 x 480 frames.
    bool OpenIndexless(const std::function<void(QProgressDialog*)>& act) {
        Write("no index.avi",
              {.width = 640, .height = 480, .frames = 40, .audio = false, .options = {.writeIdx1 = false}});
        bool shown = false;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] {
            if (auto* dialog = window->findChild<QProgressDialog*>();
                dialog && dialog->isVisible() && !shown) {
                shown = true;
                act(dialog);
            }
        });
        timer.start(0);
        window->OpenMovieFile(QString::fromStdString(dir->File("no index.avi")), nullptr);
        timer.stop();
        return shown;
    }

    static inline std::unique_ptr<cadmo::test::TempDir> dir;
    std::string movies; // where Open finds its names
    std::unique_ptr<MainWindow> window;
    QStringList messages;
    QStringList dialogFilters;
    QStringList dialogFolders;
    QString nextDialogAnswer;
    std::vector<UINT> modalDialogs;
};

// The Tavro control dialogs driven as a user drives them, against the real
// Tavro codec library and the demo movies: keys typed into the fields, the
// sliders moved with the keyboard and dragged with the mouse, and the
// picture looked at after each change.
class CodecDialogsTest : public MainWindowTest {
protected:
    void SetUp() override {
        ResetCodecDialogState();
        MainWindowTest::SetUp();
        // The build makes them, with the codec library, before this test.
        movies = cadmo::test::BinDir() + "demo/";
    }
    // The picture as the window shows it now, drawn afresh.
    QImage Picture() {
        Settle();
        window->Video()->repaint();
        return window->Video()->SurfaceImage();
    }

    // How colourful a picture is: the mean spread between its largest and
    // smallest channel. A grey picture has none.
    static double Colourfulness(const QImage& image) {
        double sum = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QRgb c = image.pixel(x, y);
                sum += std::max({qRed(c), qGreen(c), qBlue(c)}) - std::min({qRed(c), qGreen(c), qBlue(c)});
            }
        return image.isNull() ? 0 : sum / (image.width() * image.height());
    }

    // A mouse event on `slider` with the left button held or released.
    static void Mouse(Trackbar* slider, QEvent::Type type, QPoint at) {
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, at, slider->mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
        QApplication::sendEvent(slider, &event);
    }

    // The middle of a horizontal `slider`'s handle.
    static QPoint Handle(Trackbar* slider) {
        QStyleOptionSlider option;
        option.initFrom(slider);
        option.minimum = slider->minimum();
        option.maximum = slider->maximum();
        option.sliderPosition = slider->sliderPosition();
        return slider->style()
            ->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider)
            .center();
    }

    // A key pressed in `widget`'s window, which has the focus then, as it
    // has on a desktop when the dialog opens: the main window's shortcuts
    // must not take the key.
    static void KeyIn(QWidget* widget, Qt::Key key) {
        QApplication::setActiveWindow(widget->window());
        QTest::keyClick(widget, key);
    }
};

LONG CodecScalability() {
    LONG ms = -99;
    GetScalability(&ms, FALSE);
    return ms;
}

// The codec's brightness, saturation and contrast.
std::tuple<LONG, LONG, LONG> CodecColors() {
    LONG brightness = -999, saturation = -999, contrast = -999;
    GetColorControls(&brightness, &saturation, &contrast, FALSE);
    return {brightness, saturation, contrast};
}

} // namespace

TEST_F(MainWindowTest, OpeningSwapsTheMenusKeysReachTheirCommandsAndWithoutAMovieTheyAreHarmless) {
    ExpectEmptyWindow();
    ASSERT_EQ(window->menuBar()->actions().size(), 1);
    Open("movie.avi");
    EXPECT_EQ(window->windowTitle(), "movie.avi");
    EXPECT_EQ(window->menuBar()->actions().size(), 3);
    // No Tavro items, and no palettes but at 8 bits. The display's depth, but
    // "RGB 32" is grayed in the menu, so the test platform's 32 bits become 24.
    EXPECT_EQ(Menu(), "Close|Bits Per Pixel|RGB 24|Native|Default");
    EXPECT_EQ(window->Video()->size(), QSize(64, 48));
    EXPECT_EQ(window->centralWidget()->width(), 64);
    EXPECT_EQ(StatusText(0), " K");
    ExpectThePositionShown();
    EXPECT_EQ(movieInfo.frameCount, "200 Frames");
    EXPECT_FALSE(window->HitTestVideo(5, 5)) << "only a Tavro picture drags";

    // A tenth of 200 frames at the single-precision 0.01 is 19 frames.
    const std::pair<const char*, LONG> steps[] = {
        {"Right", 1},           {"Left", 0},  {"Ctrl+Right", 15}, {"Ctrl+Left", 0}, {"Ctrl+Shift+Right", 19},
        {"Ctrl+Shift+Left", 0}, {"End", 199}, {"Home", 0}};
    for (const auto& [keys, position] : steps) {
        Key(keys);
        EXPECT_EQ(Position(), position) << keys;
        if (position == 1) {
            EXPECT_EQ(window->Status()->Text(2), " Pos: 00:00.07 [1]");
        }
    }
    // Space plays: the skip count is live and the time in whole seconds.
    // Space again pauses; Stop zeroes the engine's count and the bar keeps
    // the last one shown.
    Key("Space");
    EXPECT_EQ(playerPlaying.load(), 1);
    theMovie->skippedFrames = 12;
    EXPECT_EQ(StatusText(1), " 12 skipped");
    EXPECT_FALSE(StatusText(2).contains('.')) << "whole seconds while playing";
    Key("Space");
    EXPECT_EQ(playerPaused.load(), 1);
    window->OnCommand(IDM_STOP);
    EXPECT_EQ(StatusText(1), " [12] skipped");
    EXPECT_TRUE(StatusText(2).contains('.'));
    // The keys and the item of the two dialogs.
    Key("Tab");
    Key("Ctrl+I");
    Key("Alt+/");
    Key("Alt+?");
    Choose(IDM_ABOUT);
    EXPECT_EQ(modalDialogs, (std::vector<UINT>{IDM_INFO, IDM_INFO, IDM_ABOUT, IDM_ABOUT, IDM_ABOUT}));

    // Once it is closed, the movie commands find none and do nothing.
    Choose(IDM_CLOSE);
    for (UINT command :
         std::initializer_list<UINT>{IDM_PLAY, IDM_STOP, IDM_PAUSE, IDM_PLAYPAUSE, IDM_REWIND, IDM_LASTFRAME,
                                     IDM_STEPBACK, IDM_FORWARDTENTH, IDM_BACKSECOND, IDM_REDRAW, IDM_RGB8,
                                     IDM_NATIVE, IDM_PIXELDOUBLE, IDM_PALCLIPBOARD, IDM_SEEKBAR, IDM_CLOSE})
        EXPECT_TRUE(window->OnCommand(command)) << command;
    Key("Space");
    EXPECT_EQ(playerPlaying.load(), 0);
    EXPECT_EQ(window->SeekBarDialog(), nullptr);
    EXPECT_FALSE(window->OnCommand(12345));
}

TEST_F(MainWindowTest, OpenDialogDropAndTheBadInputs) {
    // The Open dialog starts in the current folder with the string-table
    // filter, and gives the title of the chosen file.
    nextDialogAnswer = QString::fromStdString(dir->File("other clip.avi"));
    Choose(IDM_OPEN);
    EXPECT_EQ(dialogFilters, QStringList{"AVI File (*.avi) (*.[aA][vV][iI])"});
    EXPECT_EQ(window->windowTitle(), "other clip.avi");
    // Cancelling changes nothing; the next dialog starts in the last folder.
    nextDialogAnswer.clear();
    window->OnCommand(IDM_OPEN);
    EXPECT_EQ(dialogFolders, (QStringList{QDir::currentPath(), QString::fromStdString(dir->Path())}));
    EXPECT_EQ(window->windowTitle(), "other clip.avi");

    // Names that cannot be read leave the open movie alone, in silence.
    Key("Right");
    for (const std::string& bad :
         {std::string("missing.avi"), std::string(), std::string(5000, 'a') + ".avi"}) {
        Open(bad);
        EXPECT_EQ(window->windowTitle(), "other clip.avi");
        EXPECT_EQ(Position(), 1);
        EXPECT_TRUE(messages.empty());
    }

    // Readable files that are no movie: the message, and the movie that was
    // open is closed first. (That the half-open file cannot play is the
    // player test's.)
    for (const auto& [name, text] :
         {std::pair{"notes.avi", "Error: Cannot open AVI file"},
          std::pair{"sound only.avi", "Error: Cannot read Video or Audio stream"}}) {
        Open("other clip.avi");
        messages.clear();
        Open(name);
        EXPECT_EQ(messages, QStringList{text}) << name;
        ExpectEmptyWindow();
    }

    // A drop of several files opens the first only.
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(dir->File("movie.avi"))),
                  QUrl::fromLocalFile(QString::fromStdString(dir->File("other clip.avi")))});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &drop);
    Settle();
    EXPECT_EQ(window->windowTitle(), "movie.avi");
    // A dropped ".bmp" finds no movie (the drop closed it) and changes nothing.
    window->DropFiles({QString::fromStdString(dir->File("back.BMP"))});
    Settle();
    ExpectEmptyWindow();
    EXPECT_EQ(messages.size(), 1);
    messages.clear();
}

TEST_F(MainWindowTest, DisplayOptionsAndPaletteImport) {
    Open("movie.avi");
    // "RGB 32" is never enabled; asking for it lands on 24. Palettes need 8
    // bits. The picture is decoded at the depth the menu shows.
    for (const auto& [command, menu, bits] :
         {std::tuple{IDM_RGB8, "Close|Bits Per Pixel|Palette|RGB 8|Native|Default", 8},
          std::tuple{IDM_RGB16, "Close|Bits Per Pixel|RGB 16|Native|Default", 16},
          std::tuple{IDM_RGB32, "Close|Bits Per Pixel|RGB 24|Native|Default", 24}}) {
        window->OnCommand(command);
        EXPECT_EQ(Menu(), menu) << command;
        BITMAPINFOHEADER out{};
        theMovie->decoder->GetOutputFormat(&out);
        EXPECT_EQ(out.biBitCount, bits) << command;
    }
    // A menu selection runs its command once: Qt's own toggle of a checkable
    // item must not undo the window's check mark.
    for (bool on : {true, false}) {
        Choose(IDM_LOOP);
        EXPECT_EQ(State(IDM_LOOP) & MF_CHECKED, on ? MF_CHECKED : 0u);
        EXPECT_EQ(loopPlayback.load(), on ? 1 : 0);
    }
    // Ctrl+2 doubles the picture and the window follows; Ctrl+1 goes back.
    Key("Ctrl+2");
    EXPECT_EQ(Menu(), "Close|Bits Per Pixel|RGB 24|2X - Pixel doubling|Default");
    EXPECT_EQ(window->Video()->size(), QSize(128, 96));

    // Our own palette type on the clipboard, chosen from the menu: a file of
    // no colours gives none to take, so Default stays checked (not the item
    // Qt checked on its own); a full one is taken, and saved for the File
    // item below.
    window->OnCommand(IDM_RGB8);
    for (const size_t colours : {0, 256}) {
        const std::vector<BYTE> riff = MakeRiffPalette(std::vector<PALETTEENTRY>(colours, {1, 2, 3, 0}));
        const QByteArray bytes(reinterpret_cast<const char*>(riff.data()),
                               static_cast<qsizetype>(riff.size()));
        auto* mime = new QMimeData;
        mime->setData(paletteMimeType, bytes);
        QApplication::clipboard()->setMimeData(mime);
        Choose(IDM_PALCLIPBOARD);
        EXPECT_EQ(Menu(), QString("Close|Bits Per Pixel|Palette|RGB 8|2X - Pixel doubling|") +
                              (colours ? "Clipboard" : "Default"));
        std::ofstream(dir->File("grey.pal"), std::ios::binary).write(bytes.data(), bytes.size());
    }
    // A palette file.
    nextDialogAnswer = QString::fromStdString(dir->File("grey.pal"));
    window->OnCommand(IDM_PALFILE);
    EXPECT_EQ(Menu(), "Close|Bits Per Pixel|Palette|RGB 8|2X - Pixel doubling|File");
    // An indexed picture on the clipboard gives its colour table.
    QImage indexed(4, 4, QImage::Format_Indexed8);
    indexed.setColorTable(QList<QRgb>(256, qRgb(1, 2, 3)));
    indexed.fill(0);
    QApplication::clipboard()->setImage(indexed);
    window->OnCommand(IDM_PALCLIPBOARD);
    EXPECT_EQ(Menu(), "Close|Bits Per Pixel|Palette|RGB 8|2X - Pixel doubling|Clipboard");

    // Close restores the empty window; the options survive and reach the
    // next movie, the palette back at Default.
    Choose(IDM_CLOSE);
    ExpectEmptyWindow();
    EXPECT_EQ(movieInfo.fileName, "");
    Open("other clip.avi");
    EXPECT_EQ(Menu(), "Close|Bits Per Pixel|Palette|RGB 8|2X - Pixel doubling|Default");
}

// On a movie of more than 65536 frames, which the slider must still cover.
TEST_F(MainWindowTest, SeekBarOpensAtTheRightClickSeeksAndPlays) {
    Write("long.avi", {.width = 16, .height = 16, .rate = 1000, .frames = 70000, .audio = false});
    Open("long.avi");
    QTest::mouseClick(window->Video(), Qt::RightButton, Qt::NoModifier, QPoint(5, 5));
    Settle();
    SeekBar* bar = window->SeekBarDialog();
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->pos(), QCursor::pos());
    EXPECT_EQ(bar->Trackbar()->maximum(), 69999);
    bar->Trackbar()->setValue(69000);
    Settle();
    EXPECT_EQ(Position(), 69000);
    EXPECT_EQ(window->Status()->Text(2), " Pos: 01:09.00 [69000]");
    // The play button closes the bar and plays from there.
    QTest::mouseClick(bar->PlayButton(), Qt::LeftButton);
    Settle();
    EXPECT_EQ(window->SeekBarDialog(), nullptr);
    EXPECT_EQ(playerPlaying.load(), 1);

    // Opening it again stops play; the main window getting the focus back
    // closes it.
    window->OnCommand(IDM_SEEKBAR);
    Settle();
    EXPECT_EQ(playerPlaying.load(), 0);
    ASSERT_NE(window->SeekBarDialog(), nullptr);
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(window.get(), &activate);
    Settle();
    EXPECT_EQ(window->SeekBarDialog(), nullptr);
}

TEST_F(MainWindowTest, IndexRebuildShowsProgressAndCancelLeavesNoMovieWithoutABox) {
    Open("movie.avi");
    int percentAtCancel = -1;
    ASSERT_TRUE(OpenIndexless([&](QProgressDialog* dialog) {
        percentAtCancel = dialog->value();
        dialog->findChild<QPushButton*>()->click();
    })) << "the progress dialog never showed";
    Settle();
    EXPECT_LT(percentAtCancel, 100);
    EXPECT_EQ(window->findChild<QProgressDialog*>(), nullptr);
    ExpectEmptyWindow();
    EXPECT_TRUE(theMovie && theMovie->aviFile == nullptr);
    EXPECT_TRUE(window->Status()->SimpleText().contains("Open cancelled: no index.avi"))
        << qPrintable(window->Status()->SimpleText());
    // The status timer keeps the notice.
    window->UpdateStatusBar();
    EXPECT_FALSE(window->Status()->SimpleText().isEmpty());

    // Left alone, the same scan runs to its end and the movie opens; the
    // dialog and the notice go with the open.
    EXPECT_TRUE(OpenIndexless([](QProgressDialog*) {}));
    Settle();
    EXPECT_EQ(window->findChild<QProgressDialog*>(), nullptr);
    EXPECT_EQ(window->AttachedMenu(), window->MovieMenu());
    EXPECT_TRUE(window->Status()->SimpleText().isEmpty());
}

// The window's own Exit, as a --quit-after timer gives it, while the progress
// dialog runs the event loop under the open: the open is cancelled, then the
// window closes.
TEST_F(MainWindowTest, ClosingTheWindowDuringAnIndexRebuildCancelsItThenCloses) {
    ASSERT_TRUE(OpenIndexless([&](QProgressDialog*) { window->OnCommand(IDM_EXIT); }))
        << "the progress dialog never showed";
    EXPECT_TRUE(theMovie && theMovie->aviFile == nullptr) << "the open was not cancelled";
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window->isVisible(); }))
        << "the window did not close after the open";
    EXPECT_EQ(theMovie, nullptr);
}

TEST_F(CodecDialogsTest, TheKeyedMovieShowsItsPictureOnceTheKeyIsSet) {
    Open("qx47keyed.avi");
    EXPECT_LT(Colourfulness(Picture()), 1.0) << "grey without its key";

    // The right key shows the picture (the end-to-end test types it from the
    // keyboard, Enter pressing Set). Letters store 0 and send nothing: the
    // picture stays. A key beyond the signed range is stored negative and not
    // shown again.
    QImage unlocked;
    for (const auto& [typed, stored, shownNext] :
         {std::tuple{"4711", 4711, "4711"}, std::tuple{" 12x", 0, "0"}, std::tuple{"99999999999", 0, "0"},
          std::tuple{"4294967295", -1, ""}}) {
        window->OnCommand(IDM_ACCESSKEY);
        window->AccessKeyDialogHandle()->KeyField()->setText(QString::fromLatin1(typed));
        window->AccessKeyDialogHandle()->Control<QPushButton>(IDOK)->click();
        EXPECT_EQ(storedAccessKey, stored) << typed;
        if (unlocked.isNull())
            unlocked = Picture();
        window->OnCommand(IDM_ACCESSKEY);
        EXPECT_EQ(window->AccessKeyDialogHandle()->KeyField()->text(), shownNext) << typed;
        KeyIn(window->AccessKeyDialogHandle(), Qt::Key_Escape);
        EXPECT_EQ(window->AccessKeyDialogHandle(), nullptr);
        if (stored == 0) {
            EXPECT_TRUE(Picture() == unlocked) << "nothing was sent for \"" << typed << '"';
        }
    }
    EXPECT_GT(Colourfulness(unlocked), 10.0) << "the picture, not grey";
    EXPECT_LT(Colourfulness(Picture()), 1.0) << "a wrong key was sent: grey again";
}

// And Close ends every codec dialog.
TEST_F(CodecDialogsTest, ColorControlsChangeThePictureWhileDraggingAndCancelRestoresIt) {
    // Opened with no movie, the dialog still works as a dialog, and once a
    // movie opens it acts on that movie's decoder.
    window->OnCommand(IDM_COLORCONTROLS);
    ColorDialog* dialog = window->ColorDialogHandle();
    ASSERT_NE(dialog, nullptr);
    Open("qx47demo.avi");
    ASSERT_EQ(window->ColorDialogHandle(), dialog);
    const QImage original = Picture();
    ASSERT_GT(Colourfulness(original), 10.0);

    // Saturation dragged to its left end: grey while the button is still down.
    Trackbar* saturation = dialog->Saturation();
    const QPoint grab = Handle(saturation);
    Mouse(saturation, QEvent::MouseButtonPress, grab);
    Mouse(saturation, QEvent::MouseMove, QPoint(grab.x() - 20, grab.y()));
    Mouse(saturation, QEvent::MouseMove, QPoint(-200, grab.y()));
    EXPECT_TRUE(saturation->isSliderDown());
    EXPECT_EQ(CodecColors(), std::tuple(0, -255, 0));
    EXPECT_EQ(dialog->Control<QLabel>(IDC_SATURATIONVALUE)->text(), "-255");
    EXPECT_LT(Colourfulness(Picture()), 1.0);
    Mouse(saturation, QEvent::MouseButtonRelease, QPoint(-200, grab.y()));

    // Brightness and contrast from the keyboard.
    dialog->Brightness()->setFocus();
    KeyIn(dialog->Brightness(), Qt::Key_End);
    KeyIn(dialog->Contrast(), Qt::Key_PageUp);
    EXPECT_EQ(CodecColors(), std::tuple(255, -255, 16));
    EXPECT_EQ(dialog->Control<QLabel>(IDC_CONTRASTVALUE)->text(), "16");

    // Reset brings the codec's defaults into the dialog, which stays open.
    dialog->Control<QPushButton>(IDC_RESET)->click();
    ASSERT_EQ(window->ColorDialogHandle(), dialog);
    EXPECT_EQ(dialog->Saturation()->value(), 0);
    EXPECT_EQ(CodecColors(), std::tuple(0, 0, 0));

    // Escape is Cancel: the values the codec had at opening come back.
    KeyIn(dialog, Qt::Key_Escape);
    EXPECT_EQ(window->ColorDialogHandle(), nullptr);
    EXPECT_EQ(CodecColors(), std::tuple(0, 0, 0));
    EXPECT_TRUE(Picture() == original) << "the picture as before";

    // Close ends every dialog, one with a change left standing. The next
    // movie starts with the codec's own colours and is not touched until the
    // user acts.
    window->OnCommand(IDM_COLORCONTROLS);
    KeyIn(window->ColorDialogHandle()->Saturation(), Qt::Key_Home);
    window->OnCommand(IDM_SCALABILITY);
    window->OnCommand(IDM_ACCESSKEY);
    ASSERT_NE(window->ScalabilityDialogHandle(), nullptr);
    ASSERT_NE(window->AccessKeyDialogHandle(), nullptr);
    window->OnCommand(IDM_CLOSE);
    EXPECT_EQ(window->ScalabilityDialogHandle(), nullptr);
    EXPECT_EQ(window->ColorDialogHandle(), nullptr);
    EXPECT_EQ(window->AccessKeyDialogHandle(), nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(window->findChildren<CodecDialog*>().size(), 0u) << "the closed dialogs are gone";
    Open("qx47demo.avi");
    EXPECT_EQ(CodecColors(), std::tuple(0, 0, 0));
    EXPECT_GT(Colourfulness(Picture()), 10.0);
}

TEST_F(CodecDialogsTest, ScalabilityTellsTheCodecOnlyWhenTheThumbIsReleased) {
    Open("qx47demo.avi");
    const LONG codecStart = CodecScalability();
    window->OnCommand(IDM_SCALABILITY);
    ScalabilityDialog* dialog = window->ScalabilityDialogHandle();
    ASSERT_NE(dialog, nullptr);
    Trackbar* slider = dialog->Slider();
    QLabel* value = dialog->Control<QLabel>(IDC_SCALEVALUE);

    // Dragging changes only the number until the thumb is let go.
    slider->setValue(0);
    KeyIn(slider, Qt::Key_Home);
    ASSERT_EQ(CodecScalability(), 0);
    const QPoint grab = Handle(slider);
    Mouse(slider, QEvent::MouseButtonPress, grab);
    Mouse(slider, QEvent::MouseMove, QPoint(grab.x() + 30, grab.y()));
    Mouse(slider, QEvent::MouseMove, QPoint(grab.x() + 60, grab.y()));
    const QString dragged = value->text();
    EXPECT_NE(dragged, "0");
    EXPECT_EQ(CodecScalability(), 0) << "not told while dragging";
    Mouse(slider, QEvent::MouseButtonRelease, QPoint(grab.x() + 60, grab.y()));
    EXPECT_EQ(CodecScalability(), dragged.toInt());

    // Cancel gives the codec its own value back.
    dialog->Control<QPushButton>(IDCANCEL)->click();
    EXPECT_EQ(window->ScalabilityDialogHandle(), nullptr);
    EXPECT_EQ(CodecScalability(), codecStart);
}

// The demo sprite: its own items enabled, and a ".bmp" name from the Open
// dialog becomes its background, which locks depth and size. Then a press
// inside the area the last frame covered takes the picture along with the
// mouse, and a move that would put it past the background's edge is refused;
// a press beside it drags nothing.
TEST_F(CodecDialogsTest, ATavroPictureTakesABackgroundAndIsDraggedOverItUpToItsEdge) {
    Open("qx47sprite.avi");
    const QString unlockedMenu = "Close|2X - Alternate Line|Bits Per Pixel|Tavro R4|RGB 24|Native|Default";
    EXPECT_EQ(Menu(), unlockedMenu);
    // Background Image with the dialog cancelled changes nothing.
    window->OnCommand(IDM_BACKGROUND);
    EXPECT_EQ(dialogFilters.back(), "BMP File (*.bmp) (*.[bB][mM][pP])");
    EXPECT_EQ(Menu(), unlockedMenu);
    nextDialogAnswer = QString::fromStdString(movies + "background.bmp");
    Choose(IDM_OPEN);
    EXPECT_EQ(window->windowTitle(), "qx47sprite.avi");
    Key("Ctrl+2");
    EXPECT_EQ(Menu(), "Close|2X - Alternate Line|Tavro R4|RGB 24|Native|Default");
    ASSERT_EQ(theMovie->decoder->viewRect.width, 800);

    // A rectangle as its edges, moved by (dx, dy).
    const auto edges = [](const RECT& r, LONG dx = 0, LONG dy = 0) {
        return std::array<LONG, 4>{r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
    };
    RECT covered{}, placed{}, now{};
    ASSERT_EQ(theMovie->decoder->GetUpdatedRect(&covered), 0);
    ASSERT_LT(covered.left, covered.right) << "a frame has been drawn";
    theMovie->decoder->GetDecodeRect(&placed);
    const auto drag = [&](QPoint from, const std::vector<QPoint>& moves) {
        QTest::mousePress(window->Video(), Qt::LeftButton, Qt::NoModifier, from);
        for (QPoint to : moves)
            QTest::mouseMove(window->Video(), to);
        QTest::mouseRelease(window->Video(), Qt::LeftButton, Qt::NoModifier, moves.back());
        Settle();
        theMovie->decoder->GetDecodeRect(&now);
    };
    drag(QPoint(covered.left - 2, covered.top - 2), {QPoint(covered.left + 40, covered.top + 30)});
    EXPECT_EQ(edges(now), edges(placed)) << "pressed beside the picture";
    const QPoint inside((covered.left + covered.right) / 2, (covered.top + covered.bottom) / 2);
    const QImage shown = window->Video()->SurfaceImage();
    drag(inside, {inside + QPoint(32, -20), inside + QPoint(32 + 800, -20)});
    EXPECT_EQ(edges(now), edges(placed, 32, -20)) << "moved with the mouse, then refused past the edge";
    const QRect ball(inside - QPoint(8, 8), QSize(16, 16)); // the middle of the sprite
    EXPECT_TRUE(window->Video()->SurfaceImage().copy(ball.translated(32, -20)) == shown.copy(ball))
        << "the picture is shown at its new place";
    // The next movie unlocks depth and size.
    Open("qx47sprite.avi");
    EXPECT_EQ(Menu(), unlockedMenu);
}
