#include "app/MainWindow.h"

#include "app/AcceleratorKeys.h"
#include "app/IndexProgress.h"
#include "app/MenuTree.h"
#include "app/PaletteData.h"

#include "app/ShellPaths.h"
#include "app/StatusBar.h"
#include "app/StatusText.h"
#include "app/VideoWidget.h"
#include "dialogs/AboutBox.h"
#include "dialogs/InfoSheet.h"
#include "dialogs/MovieInfo.h"
#include "engine/Player.h"
#include "image/FileChooser.h"
#include "image/PaletteFile.h"
#include "res/Accelerators.h"
#include "res/Menus.h"
#include "res/Resource.h"
#include "res/Strings.h"
#include "video/VideoDecoder.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QCursor>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QScreen>
#include <QShortcut>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>

namespace {

constexpr const char* mainWindowTitle = "Tavro Player";
constexpr LONG noMovieClientWidth = 320;
// The palette record: a LOGPALETTE with room for 257 entries, as the record
// read from a palette file.
constexpr size_t paletteRecordBytes = kPaletteRecordBytes;

bool MovieLoaded() {
    return theMovie && theMovie->aviFile != nullptr;
}

// The depth of the display the window is on: what a window DC reports.
int DisplayBitsPixel(const QWidget* widget) {
    const QScreen* screen = widget->screen() ? widget->screen() : QGuiApplication::primaryScreen();
    const int depth = screen ? screen->depth() : 32;
    switch (depth) {
    case 8:
    case 16:
    case 24:
    case 32:
        return depth;
    default:
        return 32;
    }
}

QMessageBox::Icon IconOf(UINT type) {
    switch (type & 0xF0) {
    case MB_ICONHAND:
        return QMessageBox::Critical;
    case MB_ICONEXCLAMATION:
        return QMessageBox::Warning;
    case MB_ICONASTERISK:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

// Paths reach the engine in the file system's own encoding.
std::string NativePath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

} // namespace

MainWindow::MainWindow(ShellHooks shellHooks) : hooks(std::move(shellHooks)) {
    setWindowTitle(QString::fromLatin1(mainWindowTitle));
    setAcceptDrops(true);
    lastFolder = QDir::currentPath();

    CreatePlayer(this);

    auto* client = new QWidget(this);
    client->setAutoFillBackground(true);
    QPalette grey = client->palette();
    grey.setColor(QPalette::Window, QColor(windowBackgroundGrey, windowBackgroundGrey, windowBackgroundGrey));
    client->setPalette(grey);
    auto* layout = new QVBoxLayout(client);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    videoWidget = new VideoWidget(client, Handle(), DisplayBitsPixel(this), [](HDC dc) { PaintMovie(dc); });
    layout->addWidget(videoWidget, 0, Qt::AlignLeft | Qt::AlignTop);
    statusBar = new StatusBar(client);
    statusBar->setObjectName(QString::number(IDC_STATUSBAR));
    layout->addWidget(statusBar);
    setCentralWidget(client);
    statusBar->SetResizedHandler([this] { LayoutStatusBar(); });

    const auto onCommand = [this](UINT command) { OnCommand(command); };
    movieMenu = new MenuTree(IDR_MOVIEMENU, this, onCommand);
    noMovieMenu = new MenuTree(IDR_NOMOVIEMENU, this, onCommand);
    Attach(noMovieMenu);

    for (const ACCEL& accel : LoadAcceleratorTable()) {
        for (const QKeySequence& keys : KeySequencesFor(accel)) {
            auto* shortcut = new QShortcut(keys, this);
            shortcut->setContext(Qt::WindowShortcut);
            const UINT command = accel.cmd;
            connect(shortcut, &QShortcut::activated, this, [this, command] { OnCommand(command); });
            accelerators.push_back(shortcut);
        }
    }

    EnableDepthItems();
    SetBitsPerPixel(0);

    statusTimer = new QTimer(this);
    statusTimer->setInterval(STATUS_TIMER_PERIOD_MS);
    connect(statusTimer, &QTimer::timeout, this, [this] { UpdateStatusBar(); });
    statusTimer->start();

    SizeWindowToVideo();
    UpdateStatusBar();
    dragging = false;
}

MainWindow::~MainWindow() {
    Destroy();
}

HWND MainWindow::Handle() const {
    return reinterpret_cast<HWND>(const_cast<MainWindow*>(this));
}

// ---- OwnerWindow --------------------------------------------------------------

void MainWindow::PostCommand(WORD id) {
    QMetaObject::invokeMethod(
        this, [this, id] { OnCommand(id); }, Qt::QueuedConnection);
}

void MainWindow::SendCommand(WORD id) {
    OnCommand(id);
}

void MainWindow::PostFitWindow() {
    QMetaObject::invokeMethod(
        this, [this] { SizeWindowToVideo(); }, Qt::QueuedConnection);
}

INT MainWindow::ShowMessageBox(const char* text, const char* title, UINT type) {
    const QString t = QString::fromUtf8(text ? text : "");
    const QString caption = QString::fromUtf8(title ? title : "");
    if (hooks.messageBox)
        return hooks.messageBox(t, caption, type);
    QMessageBox box(IconOf(type), caption, t, QMessageBox::Ok,
                    QApplication::activeWindow() ? QApplication::activeWindow() : this);
    box.exec();
    return IDOK;
}

HDC MainWindow::GetDC() {
    return ::GetDC(Handle());
}

void MainWindow::ReleaseDC(HDC dc) {
    ::ReleaseDC(Handle(), dc);
}

void MainWindow::FatalError(INT status) {
    if (status == FATAL_NOT_ENOUGH_MEMORY) {
        if (QThread::currentThread() == thread())
            ShowMessageBox("Error: Not enough memory", "Error", MB_OK | MB_ICONHAND);
        else
            // A box cannot be shown from another thread, and the window
            // thread may be waiting for this one; say it where we can.
            std::fputs("Error: Not enough memory\n", stderr);
    }
    // No destructors: other threads may still be using what they would free.
    std::fflush(nullptr);
    std::_Exit(status);
}

// ---- The command table ------------------------------------------------------------

bool MainWindow::OnCommand(UINT command) {
    switch (command) {
    case IDM_EXIT:
        close();
        return true;
    case IDM_ABOUT:
        if (hooks.modalDialog)
            hooks.modalDialog(command);
        else
            ShowAboutBox(this);
        return true;
    case IDM_OPEN:
        OpenCommand();
        return true;
    case IDM_CLOSE:
        CloseCommand();
        return true;
    case IDM_PLAY:
        StartPlayback(this);
        return true;
    case IDM_STOP:
        StopPlayback(this);
        return true;
    case IDM_PAUSE:
        PausePlayback(this);
        return true;
    case IDM_PLAYPAUSE:
        if (playerPlaying)
            PausePlayback(this);
        else
            StartPlayback(this);
        return true;
    case IDM_REWIND:
        SeekToFrame(this, 0);
        if (!playerPlaying)
            Repaint();
        return true;
    case IDM_LASTFRAME:
        SeekToFrame(this, 1073741824);
        if (!playerPlaying)
            Repaint();
        return true;
    case IDM_STEPBACK:
    case IDM_STEPFORWARD:
        StepPlayback(this, command == IDM_STEPBACK ? -1 : 1);
        UpdateStatusBar();
        Repaint();
        return true;
    case IDM_BACKSECOND:
    case IDM_FORWARDSECOND:
        JumpSeconds(this, command == IDM_BACKSECOND ? -1 : 1);
        UpdateStatusBar();
        Repaint();
        return true;
    case IDM_BACKTENTH:
    case IDM_FORWARDTENTH:
        JumpPercent(this, command == IDM_BACKTENTH ? -10 : 10);
        UpdateStatusBar();
        Repaint();
        return true;
    case IDM_LOOP:
        ToggleLoop();
        return true;
    case IDM_REDRAW:
        RedrawCurrentFrame();
        Repaint();
        return true;
    case IDM_INFO:
        if (hooks.modalDialog)
            hooks.modalDialog(command);
        else
            ShowInfoSheet(this, movieInfo);
        return true;
    case IDM_SEEKBAR:
        SeekBarCommand();
        return true;
    case IDM_RGB8:
    case IDM_RGB16:
    case IDM_RGB24:
    case IDM_RGB32:
        SetBitsPerPixel(static_cast<LONG>(command));
        Repaint();
        return true;
    case IDM_NATIVE:
    case IDM_PIXELDOUBLE:
    case IDM_ALTLINE:
        SetResolution(command, 0, 0);
        Repaint();
        return true;
    case IDM_SCALABILITY:
    case IDM_COLORCONTROLS:
    case IDM_ACCESSKEY:
        CodecDialogCommand(command);
        return true;
    case IDM_BACKGROUND:
        ChooseBackgroundImage(nullptr);
        Repaint();
        return true;
    case IDM_PALDEFAULT:
    case IDM_PALCLIPBOARD:
    case IDM_PALFILE:
        ChoosePalette(command);
        Repaint();
        return true;
    default:
        return false;
    }
}

void MainWindow::OpenCommand() {
    const QString path = RunOpenDialog(IDS_AVIFILTER);
    if (path.isEmpty())
        return;
    const QString title = QFileInfo(path).fileName();
    OpenMovieFile(path, &title);
}

QString MainWindow::RunOpenDialog(UINT filterId) {
    const char* resource = LoadResourceString(filterId);
    const QString filter = QString::fromStdString(DialogFilterFromResource(resource ? resource : ""));
    QString path;
    if (hooks.openFileDialog) {
        path = hooks.openFileDialog(filter, lastFolder);
    } else {
        QFileDialog dialog(this, QString(), lastFolder, filter);
        // The filter's last parentheses hold its any-case patterns; the user
        // sees the text before them (DialogFilter).
        dialog.setOption(QFileDialog::HideNameFilterDetails);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            path = dialog.selectedFiles().first();
    }
    // The next dialog starts where this one ended.
    if (!path.isEmpty())
        lastFolder = QFileInfo(path).absolutePath();
    return path;
}

void MainWindow::CloseCommand() {
    CloseMovie(this);
    // With the decoder gone, each dialog's Cancel restores nothing; it just
    // closes.
    for (CodecDialog* dialog :
         {static_cast<CodecDialog*>(scalabilityDialog.data()), static_cast<CodecDialog*>(colorDialog.data()),
          static_cast<CodecDialog*>(accessKeyDialog.data())})
        if (dialog)
            dialog->Cancel();
    setWindowTitle(QString::fromLatin1(mainWindowTitle));
    movieInfo = MovieInfo{};
    Attach(noMovieMenu);
    UpdateMenus();
    videoWidget->SetShowSurface(false);
}

void MainWindow::SeekBarCommand() {
    StopPlayback(this);
    if (seekBarDialog) {
        seekBarDialog->Cancel();
        return;
    }
    // Without a movie the bar closes as soon as it is asked to open.
    if (!MovieLoaded())
        return;
    SeekBar::Handlers handlers;
    handlers.seek = [this](LONG frame) {
        SeekToFrame(this, frame);
        UpdateStatusBar();
        Repaint();
    };
    handlers.closed = [this](bool play) {
        seekBarDialog = nullptr;
        if (play)
            PostCommand(IDM_PLAY);
    };
    auto* bar = new SeekBar(this, theMovie->firstFrame, theMovie->lastFrame, theMovie->position, handlers);
    seekBarDialog = bar;
    bar->move(QCursor::pos());
    bar->show();
    bar->raise();
    bar->activateWindow();
}

void MainWindow::CodecDialogCommand(UINT command) {
    CodecDialog::Handlers handlers;
    handlers.repaint = [this] { Repaint(); };
    CodecDialog* dialog = nullptr;
    if (command == IDM_SCALABILITY && !scalabilityDialog) {
        handlers.closed = [this] { scalabilityDialog = nullptr; };
        dialog = scalabilityDialog = new ScalabilityDialog(this, handlers);
    } else if (command == IDM_COLORCONTROLS && !colorDialog) {
        handlers.closed = [this] { colorDialog = nullptr; };
        dialog = colorDialog = new ColorDialog(this, handlers);
    } else if (command == IDM_ACCESSKEY && !accessKeyDialog) {
        handlers.closed = [this] { accessKeyDialog = nullptr; };
        dialog = accessKeyDialog = new AccessKeyDialog(this, handlers);
    }
    if (!dialog)
        return;
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
    if (command == IDM_ACCESSKEY)
        Repaint();
}

void MainWindow::Repaint() {
    videoWidget->update();
}

void MainWindow::Attach(MenuTree* menu) {
    if (attachedMenu == menu)
        return;
    if (attachedMenu)
        attachedMenu->DetachFrom(menuBar());
    attachedMenu = menu;
    attachedMenu->AttachTo(menuBar());
}

// ---- Opening a file ----------------------------------------------------------------

void MainWindow::OpenMovieFile(const QString& path, const QString* title) {
    if (IsBitmapPath(path.toStdString())) {
        ChooseBackgroundImage(&path);
        PostCommand(IDM_REDRAW);
        return;
    }
    // A folder cannot be read as a file; like any unreadable name it is
    // passed over in silence and the open movie stays.
    if (QFileInfo(path).isDir())
        return;
    // A long index rebuild shows its progress; Cancel stops the open and
    // leaves no movie, which the status bar says rather than a box.
    statusBar->SetSimpleText({});
    IndexProgress progress(this, QFileInfo(path).fileName(), hooks.indexProgressDelayMs);
    const bool opened = OpenMovie(this, NativePath(path).c_str()) != 0;
    if (progress.Cancelled())
        statusBar->SetSimpleText(tr(" Open cancelled: %1").arg(QFileInfo(path).fileName()));
    if (!opened)
        return;

    const QString shownTitle = title ? *title : QString::fromStdString(TitleFromPath(path.toStdString()));
    setWindowTitle(shownTitle);
    BuildMovieInfo(windowTitle().toStdString(), theMovie.get(), fileSizeKB, movieInfo);

    Attach(movieMenu);
    EnableDepthItems();
    SetBitsPerPixel(-1);
    ChoosePalette(IDM_PALDEFAULT);
    UpdateMenus();
    videoWidget->SetShowSurface(true);
    PostCommand(IDM_REDRAW);
}

void MainWindow::DropFiles(const QStringList& paths) {
    if (paths.isEmpty())
        return;
    const QString first = paths.first();
    SendCommand(IDM_CLOSE);
    OpenMovieFile(first, nullptr);
}

// ---- Menu operations ---------------------------------------------------------------

void MainWindow::UpdateMenus() {
    MenuTree* menu = attachedMenu;
    menu->EnableMenuItem(IDM_CLOSE, MovieLoaded());
    if (menu->SubMenu({2}) == nullptr)
        return;
    const bool tavro = theMovie && theMovie->decoder && theMovie->decoder->IsTavro();
    menu->EnableMenuItem(IDM_ALTLINE, tavro);
    menu->EnableSubMenu({2, 2}, tavro);
    menu->EnableSubMenu({2, 0}, true);
    menu->EnableSubMenu({2, 1}, true);
    menu->EnableSubMenu({2, 3}, (menu->GetMenuState(IDM_RGB8) & MF_CHECKED) != 0);
}

void MainWindow::ToggleLoop() {
    loopPlayback = loopPlayback ? 0 : 1;
    if (attachedMenu->SubMenu({1}) != nullptr)
        attachedMenu->CheckMenuItem(IDM_LOOP, loopPlayback != 0);
}

void MainWindow::RedrawCurrentFrame() {
    if (MovieLoaded() && !playerPlaying)
        theMovie->decodedFrame = -1;
}

void MainWindow::SetBitsPerPixel(LONG command) {
    MenuTree* menu = attachedMenu;
    if (displayDepthItem == 0) {
        HDC dc = GetDC();
        const int bits = dc ? GetDeviceCaps(dc, BITSPIXEL) : 0;
        if (dc)
            ReleaseDC(dc);
        displayDepthItem = bits == 16   ? IDM_RGB16
                           : bits == 24 ? IDM_RGB24
                           : bits == 32 ? IDM_RGB32
                                        : IDM_RGB8;
    }
    LONG item = command == 0 ? static_cast<LONG>(displayDepthItem) : command;
    if (item < 0)
        item = static_cast<LONG>(chosenDepthItem);
    else
        chosenDepthItem = static_cast<UINT>(item);
    if (item != IDM_RGB8 && item != IDM_RGB16 && item != IDM_RGB24 && item != IDM_RGB32)
        item = static_cast<LONG>(displayDepthItem);

    // A grayed depth falls back: 32 to 24 to 16, and 16 or 8 to 24 untested.
    while (menu->GetMenuState(static_cast<UINT>(item)) & MF_GRAYED) {
        if (item == IDM_RGB32) {
            item = IDM_RGB24;
        } else if (item == IDM_RGB24) {
            item = IDM_RGB16;
        } else {
            item = IDM_RGB24;
            break;
        }
    }
    for (UINT depthItem : {IDM_RGB8, IDM_RGB16, IDM_RGB24, IDM_RGB32})
        menu->CheckMenuItem(depthItem, depthItem == static_cast<UINT>(item));
    if (!MovieLoaded())
        return;

    INT bits = item == IDM_RGB8 ? 8 : item == IDM_RGB16 ? 16 : item == IDM_RGB24 ? 24 : 32;
    float zoom = 1.0f;
    INT mode = 0;
    if (menu->GetMenuState(IDM_PIXELDOUBLE) & MF_CHECKED) {
        zoom = 2.0f;
        mode = 1;
    } else if (menu->GetMenuState(IDM_ALTLINE) & MF_CHECKED) {
        zoom = 2.0f;
        mode = 2;
    }

    const bool restart = playerPlaying != 0;
    if (restart)
        StopPlayback(this);
    if (theMovie->SetDisplayFormat(zoom, bits, mode, 0, 0) != 0) {
        menu->CheckMenuItem(static_cast<UINT>(item), false);
        menu->CheckMenuItem(IDM_RGB8, true);
        theMovie->SetDisplayFormat(zoom, 8, 1, 0, 0);
        bits = 8;
    }
    menu->EnableSubMenu({2, 3}, bits == 8);
    if (restart)
        StartPlayback(this);
}

void MainWindow::EnableDepthItems() {
    if (!MovieLoaded() || !theMovie->decoder)
        return;
    BITMAPINFOHEADER header{};
    theMovie->decoder->GetOutputFormat(&header);
    const struct {
        WORD bits;
        UINT item;
    } depths[] = {{8, IDM_RGB8}, {16, IDM_RGB16}, {24, IDM_RGB24}};
    for (const auto& d : depths) {
        header.biBitCount = d.bits;
        attachedMenu->EnableMenuItem(d.item, theMovie->decoder->QueryDecode(&header, 0, 0, 0, 0) == 0);
    }
    // "RGB 32" can only be grayed here, never enabled.
    header.biBitCount = 32;
    if (theMovie->decoder->QueryDecode(&header, 0, 0, 0, 0) != 0)
        attachedMenu->EnableMenuItem(IDM_RGB32, false);
}

void MainWindow::SetResolution(UINT command, LONG width, LONG height) {
    MenuTree* menu = attachedMenu;
    // The accelerators reach here past the menu, so the graying is checked
    // here: no change while a background image is set.
    if (!MovieLoaded() || !menu->IsSubMenuEnabled({2, 1}))
        return;
    for (UINT item : {IDM_NATIVE, IDM_PIXELDOUBLE, IDM_ALTLINE})
        menu->CheckMenuItem(item, false);
    float zoom = 0.0f;
    INT mode = 0;
    switch (command) {
    case IDM_NATIVE:
        zoom = 1.0f;
        break;
    case IDM_PIXELDOUBLE:
        zoom = 2.0f;
        mode = 1;
        break;
    case IDM_ALTLINE:
        zoom = 2.0f;
        mode = 2;
        break;
    default:
        break;
    }
    if (command != 0)
        menu->CheckMenuItem(command, true);
    const bool restart = playerPlaying != 0;
    if (restart)
        PausePlayback(this);
    theMovie->SetDisplayFormat(zoom, 0, mode, width, height);
    if (command != 0)
        PostFitWindow();
    if (restart)
        StartPlayback(this);
}

void MainWindow::ChoosePalette(UINT command) {
    if (!MovieLoaded())
        return;
    std::unique_ptr<DWORD[]> storage;
    LOGPALETTE* record = nullptr;
    bool failed = false;
    if (command != IDM_PALDEFAULT) {
        storage.reset(new (std::nothrow) DWORD[paletteRecordBytes / sizeof(DWORD)]());
        if (!storage) {
            ShowMessageBox("Memory Error", "CADMO Error", MB_OK | MB_ICONEXCLAMATION);
            return;
        }
        record = reinterpret_cast<LOGPALETTE*>(storage.get());
        if (command == IDM_PALCLIPBOARD)
            failed = !ReadClipboardPalette(record);
        else if (command == IDM_PALFILE)
            failed = !ChoosePaletteFile(record);
        else
            failed = true;
    }
    if (!failed) {
        const bool restart = playerPlaying != 0;
        if (restart)
            StopPlayback(this);
        if (theMovie->SetDisplayPalette(record) == 0) {
            for (UINT item : {IDM_PALDEFAULT, IDM_PALCLIPBOARD, IDM_PALFILE})
                attachedMenu->CheckMenuItem(item, item == command);
            RealizeMoviePalette(this, nullptr);
        }
        if (restart)
            StartPlayback(this);
    }
    PostFitWindow();
}

bool MainWindow::ReadClipboardPalette(LOGPALETTE* record) {
    const QMimeData* mime = QApplication::clipboard()->mimeData();
    if (mime == nullptr)
        return false;
    std::vector<PALETTEENTRY> entries;
    if (mime->hasFormat(QString::fromLatin1(paletteMimeType))) {
        // The bytes are read into the record, which has room for any palette
        // file, and its entries are then taken like any clipboard palette's.
        const QByteArray bytes = mime->data(QString::fromLatin1(paletteMimeType));
        if (ReadPaletteBytes(reinterpret_cast<const BYTE*>(bytes.constData()),
                             static_cast<size_t>(bytes.size()), record) != 0)
            return false;
        const PALETTEENTRY* read = record->palPalEntry;
        entries.assign(read, read + record->palNumEntries);
    } else if (mime->hasImage()) {
        const QImage image = qvariant_cast<QImage>(mime->imageData());
        if (image.format() != QImage::Format_Indexed8 && image.format() != QImage::Format_Mono &&
            image.format() != QImage::Format_MonoLSB)
            return false;
        for (QRgb c : image.colorTable())
            entries.push_back(PALETTEENTRY{static_cast<BYTE>(qRed(c)), static_cast<BYTE>(qGreen(c)),
                                           static_cast<BYTE>(qBlue(c)), 0});
    } else {
        return false;
    }
    // A palette of no colours (a palette file may hold none) has nothing to
    // give: the choice fails as for a clipboard without a palette, instead of
    // turning entries 10 to 245 black.
    if (entries.empty())
        return false;
    FillClipboardPaletteRecord(entries, record);
    return true;
}

bool MainWindow::ChoosePaletteFile(LOGPALETTE* record) {
    // The palette reader asks for its file through the shell's Open dialog.
    class Chooser : public FileChooser {
    public:
        explicit Chooser(MainWindow& w) : window(w) {}
        bool ChooseFileToOpen(const OpenFileRequest& request, std::string& path) override {
            const QString filter =
                QString::fromStdString(DialogFilter(request.filterName ? request.filterName : "",
                                                    request.filterPattern ? request.filterPattern : ""));
            QString chosen;
            if (window.hooks.openFileDialog) {
                chosen = window.hooks.openFileDialog(filter, window.lastFolder);
            } else {
                chosen = QFileDialog::getOpenFileName(
                    &window, QString::fromLatin1(request.title ? request.title : ""), window.lastFolder,
                    filter, nullptr, QFileDialog::HideNameFilterDetails);
            }
            if (chosen.isEmpty())
                return false;
            window.lastFolder = QFileInfo(chosen).absolutePath();
            path = NativePath(chosen);
            return true;
        }

    private:
        MainWindow& window;
    } chooser(*this);
    return ::ReadPaletteFile(chooser, record) == 0;
}

void MainWindow::ChooseBackgroundImage(const QString* path) {
    if (!MovieLoaded())
        return;
    QString chosen = path ? *path : RunOpenDialog(IDS_BMPFILTER);
    if (chosen.isEmpty())
        return;
    const bool restart = playerPlaying != 0;
    if (restart)
        StopPlayback(this);
    SetBitsPerPixel(0);
    SetResolution(IDM_NATIVE, 0, 0);
    if (theMovie->SetBackgroundImage(NativePath(chosen).c_str()) == 0) {
        // While a background is set, neither depth nor size can change.
        attachedMenu->EnableSubMenu({2, 0}, false);
        attachedMenu->EnableSubMenu({2, 1}, false);
    }
    if (restart)
        StartPlayback(this);
    PostFitWindow();
}

// ---- Window size and status bar ----------------------------------------------------

void MainWindow::SizeWindowToVideo() {
    RECT view{0, 0, noMovieClientWidth, 0};
    if (theMovie && theMovie->decoder)
        theMovie->decoder->GetViewRect(&view);
    const int width = std::max<LONG>(0, view.right - view.left);
    const int height = std::max<LONG>(0, view.bottom - view.top);
    videoWidget->SetVideoSize(width, height);
    const int clientHeight = height + statusBar->height();
    centralWidget()->setFixedSize(width, clientHeight);
    int menuHeight = menuBar()->heightForWidth(width);
    if (menuHeight <= 0)
        menuHeight = menuBar()->sizeHint().height();
    setFixedSize(width, menuHeight + clientHeight);
    LayoutStatusBar();
}

void MainWindow::LayoutStatusBar() {
    const QFontMetrics metrics = statusBar->fontMetrics();
    const int right = statusBar->width();
    const int position = metrics.horizontalAdvance(QString::fromLatin1(statusPositionTemplate));
    const int key = metrics.horizontalAdvance(QString::fromLatin1(statusKeyTemplate));
    statusBar->SetParts({key, right - position - statusPositionMargin, right});
}

void MainWindow::UpdateStatusBar() {
    StatusBarInput input;
    input.loaded = MovieLoaded();
    input.playing = playerPlaying != 0;
    if (input.loaded) {
        input.position = theMovie->position;
        input.firstFrame = theMovie->firstFrame;
        input.frameRate = theMovie->frameRate;
        input.skippedFrames = theMovie->skippedFrames;
        if (!input.playing)
            input.keyFrame = theMovie->IsKeyFrame(-1);
    }
    const StatusBarTexts texts = ComputeStatusBarTexts(input, shownSkipped);
    if (texts.setKeyMark)
        statusBar->SetText(0, QString::fromStdString(texts.keyMark));
    statusBar->SetText(1, QString::fromStdString(texts.skipped));
    statusBar->SetText(2, QString::fromStdString(texts.position));
}

// ---- Dragging the picture ----------------------------------------------------------

bool MainWindow::HitTestVideo(int x, int y) {
    if (!MovieLoaded() || !theMovie->decoder)
        return false;
    RECT r{};
    if (theMovie->decoder->GetUpdatedRect(&r) != 0)
        return false;
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

void MainWindow::DragVideo(int dx, int dy) {
    if (!MovieLoaded() || !theMovie->decoder)
        return;
    RECT d{};
    theMovie->decoder->GetDecodeRect(&d);
    if (theMovie->decoder->QueryDecode(nullptr, d.left + dx, d.top + dy, 0, 0) != 0)
        return;
    d.left += dx;
    d.right += dx;
    d.top += dy;
    d.bottom += dy;
    theMovie->decoder->SetDecodeRect(d);
}

// ---- Events ------------------------------------------------------------------------

QPoint MainWindow::ClientPoint(const QPoint& windowPoint) const {
    return videoWidget->mapFrom(this, windowPoint);
}

void MainWindow::mousePressEvent(QMouseEvent* event) {
    const QPoint p = ClientPoint(event->position().toPoint());
    if (event->button() == Qt::RightButton) {
        PostCommand(IDM_SEEKBAR);
        return;
    }
    if (event->button() == Qt::LeftButton) {
        dragLastX = p.x();
        dragLastY = p.y();
        if (!dragging && HitTestVideo(p.x(), p.y()))
            dragging = true;
        return;
    }
    QMainWindow::mousePressEvent(event);
}

void MainWindow::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging)
        return;
    const QPoint p = ClientPoint(event->position().toPoint());
    DragVideo(p.x() - dragLastX, p.y() - dragLastY);
    dragLastX = p.x();
    dragLastY = p.y();
    Repaint();
}

void MainWindow::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && dragging)
        dragging = false;
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    // Only the first dropped name counts; one that is not a local file is
    // not a name the player can open.
    if (urls.isEmpty() || !urls.first().isLocalFile())
        return;
    event->acceptProposedAction();
    DropFiles({urls.first().toLocalFile()});
}

bool MainWindow::event(QEvent* event) {
    switch (event->type()) {
    case QEvent::WindowActivate:
        // The window getting the focus back closes the seek bar, and a
        // window becoming active is asked to realise its palette.
        if (seekBarDialog)
            seekBarDialog->Cancel();
        RealizeMoviePalette(this, nullptr);
        break;
    default:
        break;
    }
    return QMainWindow::event(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    Destroy();
    event->accept();
}

void MainWindow::Destroy() {
    if (destroyed)
        return;
    destroyed = true;
    if (seekBarDialog)
        seekBarDialog->Cancel();
    CloseMovie(this);
    DestroyPlayer(this);
    statusTimer->stop();
}
