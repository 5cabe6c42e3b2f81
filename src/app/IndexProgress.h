// The progress of an AVI index rebuild while a file opens: a dialog with a
// bar and Cancel over the main window. A damaged or index-less file of
// hundreds of megabytes is scanned chunk by chunk before it can play, which
// takes seconds; the AVI library reports the scan through its index-progress
// callback, and this object answers it.
//
// One object covers one open: it installs the callback when made and removes
// it when destroyed. The dialog is made only when the library reports (most
// files have an index and never do) and is shown only once the scan looks
// like taking longer than `showAfterMs`.
//
// Threads: the callback runs on the thread that opens the file, which must be
// the GUI thread; it lets the event loop run while the dialog is up, so the
// dialog is application modal: nothing else in the program can be used until
// the scan ends. What still gets through is a close of the owner window (a
// timer, the session ending); closing ends the player, which must not happen
// under the open in progress, so the close cancels the scan instead and is
// made again once the open has returned.
#pragma once

#include "platform/win32/Types.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class QProgressDialog;
class QWidget;

class IndexProgress : public QObject {
public:
    IndexProgress(QWidget* owner, const QString& fileName, int showAfterMs);
    ~IndexProgress() override;
    IndexProgress(const IndexProgress&) = delete;
    IndexProgress& operator=(const IndexProgress&) = delete;

    // True when the user pressed Cancel (or closed the window) and the open
    // was stopped.
    bool Cancelled() const { return cancelled; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    static BOOL Report(void* context, LONG percent);
    BOOL Update(LONG percent);

    QPointer<QWidget> owner;
    QString fileName;
    int showAfterMs;
    std::unique_ptr<QProgressDialog> dialog;
    bool cancelled = false;
    bool closeAfter = false;
};
