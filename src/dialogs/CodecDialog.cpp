#include "dialogs/CodecDialog.h"

#include "dialogs/DialogUnits.h"
#include "dialogs/Trackbar.h"
#include "engine/Player.h"
#include "res/DialogTemplates.h"
#include "res/Resource.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <utility>

namespace {

QWidget* MakeControl(const DialogControl& c, QWidget* parent) {
    const QString text = QString::fromLatin1(c.text);
    switch (c.kind) {
    case ControlKind::DefaultButton:
    case ControlKind::Button: {
        auto* button = new QPushButton(text, parent);
        button->setDefault(c.kind == ControlKind::DefaultButton);
        return button;
    }
    case ControlKind::Trackbar:
        return new Trackbar(parent);
    case ControlKind::GroupBox:
        return new QGroupBox(text, parent);
    case ControlKind::Static:
    case ControlKind::CentredStatic: {
        auto* label = new QLabel(text, parent);
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(c.kind == ControlKind::CentredStatic ? Qt::AlignHCenter | Qt::AlignTop
                                                                 : Qt::AlignLeft | Qt::AlignTop);
        return label;
    }
    case ControlKind::PasswordEdit: {
        auto* edit = new QLineEdit(text, parent);
        edit->setEchoMode(QLineEdit::Password);
        return edit;
    }
    }
    return nullptr;
}

} // namespace

CodecDialog::CodecDialog(QWidget* owner, UINT templateId, Handlers h)
    : QDialog(owner), handlers(std::move(h)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setObjectName(QString::number(templateId));
    const DialogTemplate* t = LoadDialogTemplate(templateId);
    if (!t)
        return;
    setWindowTitle(QString::fromLatin1(t->caption));
    const DialogUnits units(font());
    for (const DialogControl& c : t->controls) {
        QWidget* control = MakeControl(c, this);
        if (!control)
            continue;
        control->setObjectName(QString::number(c.id));
        // Labels are sized to their text at least, so that no desktop font
        // clips them; everything else keeps the template's rectangle.
        QRect r = units.Rect(c.x, c.y, c.width, c.height);
        if (qobject_cast<QLabel*>(control) && control->sizeHint().width() > r.width()) {
            const int grow = control->sizeHint().width() - r.width();
            r.setWidth(control->sizeHint().width());
            if (c.kind == ControlKind::CentredStatic)
                r.translate(-grow / 2, 0);
        }
        if (qobject_cast<QLabel*>(control) && control->sizeHint().height() > r.height())
            r.setHeight(control->sizeHint().height());
        control->setGeometry(r);
        // A group box only frames its neighbours: it must not lie over them
        // and take their clicks.
        if (qobject_cast<QGroupBox*>(control))
            control->lower();
        if (auto* button = qobject_cast<QPushButton*>(control)) {
            const INT id = c.id;
            connect(button, &QPushButton::clicked, this, [this, id] {
                if (finished)
                    return;
                if (id == static_cast<INT>(IDOK)) {
                    OnOk();
                    Finish();
                } else if (id == static_cast<INT>(IDCANCEL)) {
                    Cancel();
                } else if (id == static_cast<INT>(IDC_RESET)) {
                    OnReset();
                }
            });
        }
    }
    setFixedSize(units.X(t->width), units.Y(t->height));

    // Tab goes through what the user came to change, then the buttons; the
    // first of those has the focus when the dialog opens.
    QList<QWidget*> order;
    for (QWidget* w : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        if (qobject_cast<Trackbar*>(w) || qobject_cast<QLineEdit*>(w))
            order.push_back(w);
    for (QWidget* w : findChildren<QPushButton*>(QString(), Qt::FindDirectChildrenOnly))
        order.push_back(w);
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
    if (!order.isEmpty())
        order.front()->setFocus();
}

void CodecDialog::Cancel() {
    if (finished)
        return;
    OnCancel();
    Finish();
}

void CodecDialog::reject() {
    Cancel();
}

void CodecDialog::RepaintStep() {
    if (!playerPlaying && handlers.repaint)
        handlers.repaint();
}

void CodecDialog::ShowNumber(QLabel* label, LONG value) {
    if (label)
        label->setText(QString::number(value));
}

void CodecDialog::Finish() {
    finished = true;
    if (handlers.closed)
        handlers.closed();
    // The keyboard goes back to the main window, as when any owned window
    // closes; without a window manager nobody else would give it back.
    const bool hadFocus = isActiveWindow();
    hide();
    if (hadFocus && parentWidget())
        parentWidget()->activateWindow();
    deleteLater();
}
