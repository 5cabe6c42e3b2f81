#include "dialogs/ScalabilityDialog.h"

#include "dialogs/CodecDialogState.h"
#include "dialogs/Trackbar.h"
#include "engine/Player.h"
#include "res/Resource.h"

#include <QLabel>

#include <cstdlib>

namespace {

constexpr INT lastPosition = 116;

} // namespace

LONG ScalabilityDialog::MillisecondsAt(INT position) {
    // Each step of the wide end truncated toward zero, as the labels read.
    if (position <= 100)
        return position;
    if (position <= 108)
        return static_cast<LONG>((position - 100) * 12.5 + 100);
    if (position <= 112)
        return (position - 108) * 25 + 200;
    if (position <= 114)
        return (position - 112) * 50 + 300;
    return (position - 114) * 50 + 400;
}

INT ScalabilityDialog::PositionOf(LONG ms) {
    INT best = 0;
    for (INT p = 1; p <= lastPosition; ++p)
        if (std::labs(static_cast<long>(MillisecondsAt(p)) - ms) <
            std::labs(static_cast<long>(MillisecondsAt(best)) - ms))
            best = p;
    return best;
}

ScalabilityDialog::ScalabilityDialog(QWidget* owner, Handlers h)
    : CodecDialog(owner, IDD_SCALABILITY, std::move(h)) {
    GetScalability(&savedScalabilityMs, FALSE);
    slider = Control<Trackbar>(IDC_SCALETRACKBAR);
    value = Control<QLabel>(IDC_SCALEVALUE);
    slider->setRange(0, lastPosition);
    slider->setPageStep(10);
    slider->SetTics({0, 33, 66, 100, 108, 112, 114, 115, 116});
    // The dialog shows what was last chosen in it, not the codec's value.
    slider->setValue(PositionOf(scalabilityMs));
    ShowValue();
    connect(slider, &Trackbar::Scrolled, this, &ScalabilityDialog::OnScroll);
}

void ScalabilityDialog::ShowValue() {
    value->setText(QString::number(static_cast<DWORD>(scalabilityMs)));
}

void ScalabilityDialog::OnScroll(int code) {
    if (code > TB_ENDTRACK || code == TB_THUMBPOSITION)
        return;
    scalabilityMs = MillisecondsAt(slider->Position());
    ShowValue();
    if (code == TB_THUMBTRACK)
        return;
    SetScalability(scalabilityMs, FALSE);
    RepaintStep();
}

void ScalabilityDialog::OnOk() {
    SetScalability(scalabilityMs, FALSE);
    RepaintStep();
}

void ScalabilityDialog::OnCancel() {
    // The codec gets its value back; the dialog keeps showing the last one
    // chosen, at its next opening too.
    SetScalability(savedScalabilityMs, FALSE);
    RepaintStep();
}

void ScalabilityDialog::OnReset() {
    SetScalability(scalabilityMs, TRUE);
    GetScalability(&scalabilityMs, TRUE);
    ShowValue();
    slider->setValue(PositionOf(scalabilityMs));
    RepaintStep();
}
