// "Access Key Control": a masked field for the number a keyed Tavro movie
// needs before it shows its picture. Only Set sends it, and only when the
// text is an unsigned decimal number; the number is remembered for the next
// opening either way (0 for a text that is not one).
#pragma once

#include "dialogs/CodecDialog.h"

class QLineEdit;

class AccessKeyDialog : public CodecDialog {
    Q_OBJECT
public:
    AccessKeyDialog(QWidget* owner, Handlers h);

    // The field read as GetDlgItemInt reads an unsigned number: digits with
    // optional blanks around them, at most 4294967295. False, with 0, for
    // anything else.
    static bool ReadUnsigned(const QString& text, DWORD* value);

    QLineEdit* KeyField() const { return field; }

protected:
    void OnOk() override;
    void OnCancel() override;

private:
    QLineEdit* field = nullptr;
};
