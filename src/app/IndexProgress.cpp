#include "app/IndexProgress.h"

#include "platform/avi/AviFile.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QProgressDialog>

IndexProgress::IndexProgress(QWidget* owner_, const QString& fileName_, int showAfterMs_)
    : owner(owner_), fileName(fileName_), showAfterMs(showAfterMs_) {
    AVIFileSetIndexProgress(&IndexProgress::Report, this);
    if (owner)
        owner->installEventFilter(this);
}

IndexProgress::~IndexProgress() {
    AVIFileSetIndexProgress(nullptr, nullptr);
    if (owner && closeAfter)
        QMetaObject::invokeMethod(owner, &QWidget::close, Qt::QueuedConnection);
}

bool IndexProgress::eventFilter(QObject* watched, QEvent* event) {
    // Only once the scan has reported: before that no event is handled
    // under the open.
    if (watched == owner && event->type() == QEvent::Close && dialog) {
        cancelled = true;
        closeAfter = true;
        event->ignore();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

BOOL IndexProgress::Report(void* context, LONG percent) {
    return static_cast<IndexProgress*>(context)->Update(percent);
}

BOOL IndexProgress::Update(LONG percent) {
    if (!dialog) {
        dialog = std::make_unique<QProgressDialog>(
            QCoreApplication::translate("IndexProgress", "Rebuilding the index of %1...").arg(fileName),
            QCoreApplication::translate("IndexProgress", "Cancel"), 0, 100, owner);
        dialog->setWindowTitle(QCoreApplication::translate("IndexProgress", "Opening %1").arg(fileName));
        dialog->setWindowModality(Qt::ApplicationModal);
        dialog->setMinimumDuration(showAfterMs);
        // The dialog goes away with this object, not when the bar is full:
        // the rest of the open (streams, codec) still follows the scan.
        dialog->setAutoClose(false);
        dialog->setAutoReset(false);
        // The dialog measures how long the scan takes from its first value
        // at the minimum; the library's first report may be past it.
        dialog->setValue(0);
    }
    // A modal progress dialog runs the event loop in setValue once it is
    // shown, which is when a press of Cancel gets through.
    dialog->setValue(static_cast<int>(percent));
    if (dialog->wasCanceled())
        cancelled = true;
    return cancelled ? TRUE : FALSE;
}
