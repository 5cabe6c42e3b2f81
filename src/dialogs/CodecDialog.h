// The common frame of the three Tavro control dialogs: a modeless dialog
// built from its template beside the main window, with OK (or Set), Cancel
// and, where the template has it, Reset. Enter presses the default button;
// Escape and the close box are Cancel. Each dialog changes the codec through
// the player's control operations, so with no Tavro decoder it changes
// nothing and still works as a dialog.
//
// Threads: the window thread only.
#pragma once

#include "platform/win32/Types.h"

#include <QDialog>

#include <functional>

class QLabel;

class CodecDialog : public QDialog {
    Q_OBJECT
public:
    struct Handlers {
        // Invalidate the main window's picture without erasing it.
        std::function<void()> repaint;
        // The dialog has closed (it deletes itself afterwards): the owner
        // clears its handle.
        std::function<void()> closed;
    };

    // WM_COMMAND IDCANCEL from the owner: the Cancel path, which closes.
    void Cancel();

    // The control with template id `id`.
    template <typename T> T* Control(INT id) const {
        return findChild<T*>(QString::number(id), Qt::FindDirectChildrenOnly);
    }

protected:
    CodecDialog(QWidget* owner, UINT templateId, Handlers handlers);

    // OK or Set, before the dialog closes.
    virtual void OnOk() = 0;
    // Cancel, before the dialog closes.
    virtual void OnCancel() = 0;
    // Reset; the dialog stays open.
    virtual void OnReset() {}

    // After a change sent to the codec: a still picture is drawn again at
    // once; a playing one shows the change with its next frame.
    void RepaintStep();
    // Shows a signed number in a label.
    static void ShowNumber(QLabel* label, LONG value);

    void reject() override;

private:
    void Finish();

    Handlers handlers;
    bool finished = false;
};
