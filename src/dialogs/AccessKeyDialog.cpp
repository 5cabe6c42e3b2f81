#include "dialogs/AccessKeyDialog.h"

#include "dialogs/CodecDialogState.h"
#include "engine/Player.h"
#include "res/Resource.h"

#include <QLineEdit>

bool AccessKeyDialog::ReadUnsigned(const QString& text, DWORD* value) {
    *value = 0;
    const QString digits = text.trimmed();
    if (digits.isEmpty())
        return false;
    unsigned long long n = 0;
    for (QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
        n = n * 10 + static_cast<unsigned>(c.unicode() - '0');
        if (n > 0xFFFFFFFFull)
            return false;
    }
    *value = static_cast<DWORD>(n);
    return true;
}

AccessKeyDialog::AccessKeyDialog(QWidget* owner, Handlers h)
    : CodecDialog(owner, IDD_ACCESSKEY, std::move(h)) {
    field = Control<QLineEdit>(IDC_ACCESSKEYEDIT);
    // A key above the largest signed number is stored negative, and so is
    // not shown again.
    if (storedAccessKey >= 0)
        field->setText(QString::number(static_cast<DWORD>(storedAccessKey)));
}

void AccessKeyDialog::OnOk() {
    DWORD key = 0;
    const bool valid = ReadUnsigned(field->text(), &key);
    storedAccessKey = static_cast<LONG>(key);
    if (valid)
        SetAccessKey(static_cast<LONG>(key));
    RepaintStep();
}

void AccessKeyDialog::OnCancel() {
    RepaintStep();
}
