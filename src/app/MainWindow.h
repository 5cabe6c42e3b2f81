// The main window "Tavro Player": the video area over a three-part status bar,
// the two menus (112 without a movie, 113 with one), the accelerator table,
// the one-second status timer, the seek bar, drag and drop, and the command
// table. It is the engine's owner window: commands posted from any thread
// arrive here as queued calls on the window thread; sent commands are direct
// calls.
//
// Threads: everything runs on the GUI thread, except PostCommand and
// PostFitWindow, which any thread may call.
#pragma once

#include "app/DisplayOptions.h"
#include "app/SeekBar.h"
#include "dialogs/AccessKeyDialog.h"
#include "dialogs/ColorDialog.h"
#include "dialogs/ScalabilityDialog.h"
#include "engine/OwnerWindow.h"
#include "platform/win32/Types.h"

#include <QMainWindow>
#include <QPointer>
#include <QString>

#include <functional>
#include <vector>

class MenuTree;
class QShortcut;
class QTimer;
class SeekBar;
class StatusBar;
class VideoWidget;

// Replaceable interactions, so that tests can drive the window without
// blocking in a modal loop. Unset members use the real dialogs.
struct ShellHooks {
    // Instead of a message box; returns the button pressed.
    std::function<INT(const QString& text, const QString& title, UINT type)> messageBox;
    // Instead of the Open dialog: returns the chosen path, or empty when
    // cancelled. `filter` is the dialog filter, `folder` the start folder.
    std::function<QString(const QString& filter, const QString& folder)> openFileDialog;
    // Instead of running a modal dialog (IDM_ABOUT, IDM_INFO).
    std::function<void(UINT command)> modalDialog;
    // Instead of ending the process in FatalError.
    std::function<void(INT status)> exitProcess;
    // How long an index rebuild must look like taking before its progress
    // dialog shows (milliseconds); tests set 0 to see it at once.
    int indexProgressDelayMs = 500;
};

class MainWindow : public QMainWindow, public OwnerWindow {
    Q_OBJECT
public:
    // Creates the player, the status bar, both menus (112 attached), the
    // display's depth and the status timer, and sizes the window without a
    // movie: 320 pixels of client width, as high as the status bar.
    explicit MainWindow(ShellHooks hooks = {});
    ~MainWindow() override;

    HWND Handle() const;

    // --- OwnerWindow ---
    void PostCommand(WORD id) override;
    void SendCommand(WORD id) override;
    void PostFitWindow() override;
    INT ShowMessageBox(const char* text, const char* title, UINT type) override;
    HDC GetDC() override;
    void ReleaseDC(HDC dc) override;
    [[noreturn]] void FatalError(INT status) override;

    // The command table; false for an id it does not know.
    bool OnCommand(UINT command);

    // The one open-a-file sequence (Open dialog, drop, command line). `title`
    // is the file title chosen in the Open dialog, or null.
    void OpenMovieFile(const QString& path, const QString* title);
    // A drop of `paths`: the first one only, after closing any open movie.
    void DropFiles(const QStringList& paths);

    // --- operations of the command set ---
    void SizeWindowToVideo();
    void UpdateMenus();
    void ToggleLoop();
    void RedrawCurrentFrame();
    void SetBitsPerPixel(LONG command);
    void EnableDepthItems();
    void SetResolution(UINT command, LONG width, LONG height);
    void ChoosePalette(UINT command);
    void ChooseBackgroundImage(const QString* path);
    void LayoutStatusBar();
    void UpdateStatusBar();
    bool HitTestVideo(int x, int y);
    void DragVideo(int dx, int dy);

    // --- state, for the shell's own tests ---
    MenuTree* AttachedMenu() const { return attachedMenu; }
    MenuTree* MovieMenu() const { return movieMenu; }
    MenuTree* NoMovieMenu() const { return noMovieMenu; }
    StatusBar* Status() const { return statusBar; }
    VideoWidget* Video() const { return videoWidget; }
    SeekBar* SeekBarDialog() const { return seekBarDialog; }
    ScalabilityDialog* ScalabilityDialogHandle() const { return scalabilityDialog; }
    ColorDialog* ColorDialogHandle() const { return colorDialog; }
    AccessKeyDialog* AccessKeyDialogHandle() const { return accessKeyDialog; }
    const DisplayOptions& Options() const { return options; }
    UINT DisplayDepthItem() const { return options.DisplayDepthItem(); }
    UINT ChosenDepthItem() const { return options.ChosenDepthItem(); }
    LONG ShownSkipped() const { return shownSkipped; }
    const QString& LastFolder() const { return lastFolder; }
    const std::vector<QShortcut*>& Accelerators() const { return accelerators; }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void Attach(MenuTree* menu);
    void Repaint();
    void CloseCommand();
    void SeekBarCommand();
    // Opens the Tavro control dialog of `command` unless it is open already.
    void CodecDialogCommand(UINT command);
    void OpenCommand();
    // Runs the Open dialog with string `filterId`; empty when cancelled.
    QString RunOpenDialog(UINT filterId);
    // The Open dialog with `title` and `filter`, starting in lastFolder;
    // empty when cancelled.
    QString ChooseFileToOpen(const QString& title, const QString& filter);
    // Sets the Options menu's check marks and graying from `options`.
    void ShowDisplayOptions();
    // A change that reshapes the decoder's output is made with playback at
    // rest: a running play is stopped (or only paused, for a change of
    // resolution) for `change` and started again after it.
    enum class PlaybackHold { stop, pause };
    void WhilePlaybackHeld(PlaybackHold hold, const std::function<void()>& change);
    void Destroy();
    QPoint ClientPoint(const QPoint& windowPoint) const;

    ShellHooks hooks;
    MenuTree* movieMenu = nullptr;
    MenuTree* noMovieMenu = nullptr;
    MenuTree* attachedMenu = nullptr;
    StatusBar* statusBar = nullptr;
    VideoWidget* videoWidget = nullptr;
    QTimer* statusTimer = nullptr;
    QPointer<SeekBar> seekBarDialog;
    // The open Tavro control dialogs; null when closed.
    QPointer<ScalabilityDialog> scalabilityDialog;
    QPointer<ColorDialog> colorDialog;
    QPointer<AccessKeyDialog> accessKeyDialog;
    std::vector<QShortcut*> accelerators;
    DisplayOptions options;
    LONG shownSkipped = 0;
    QString lastFolder;
    bool dragging = false;
    int dragLastX = 0;
    int dragLastY = 0;
    bool destroyed = false;
};
