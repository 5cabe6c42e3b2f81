#include "dialogs/ColorDialog.h"

#include "dialogs/CodecDialogState.h"
#include "dialogs/Trackbar.h"
#include "engine/Player.h"
#include "res/Resource.h"

#include <QLabel>

namespace {

LONG* CurrentValue(int which) {
    LONG* values[] = {&currentColors.brightness, &currentColors.saturation, &currentColors.contrast};
    return values[which];
}

void SendCurrent(BOOL reset) {
    SetColorControls(currentColors.brightness, currentColors.saturation, currentColors.contrast, reset);
}

} // namespace

ColorDialog::ColorDialog(QWidget* owner, Handlers h) : CodecDialog(owner, IDD_COLORCONTROLS, std::move(h)) {
    GetColorControls(&savedColors.brightness, &savedColors.saturation, &savedColors.contrast, FALSE);
    currentColors = savedColors;
    const INT sliderIds[] = {IDC_BRIGHTNESS, IDC_SATURATION, IDC_CONTRAST};
    const INT labelIds[] = {IDC_BRIGHTNESSVALUE, IDC_SATURATIONVALUE, IDC_CONTRASTVALUE};
    for (int i = 0; i < 3; ++i) {
        sliders[i] = Control<Trackbar>(sliderIds[i]);
        labels[i] = Control<QLabel>(labelIds[i]);
        sliders[i]->setRange(-255, 255);
        sliders[i]->setPageStep(16);
        sliders[i]->SetTickFrequency(16);
        connect(sliders[i], &Trackbar::Scrolled, this, [this, i](int code) { OnScroll(i, code); });
    }
    ShowCurrent();
}

void ColorDialog::ShowCurrent() {
    for (int i = 0; i < 3; ++i) {
        sliders[i]->setValue(*CurrentValue(i));
        ShowNumber(labels[i], *CurrentValue(i));
    }
}

void ColorDialog::OnScroll(int which, int code) {
    if (code > TB_ENDTRACK || code == TB_THUMBPOSITION)
        return;
    *CurrentValue(which) = sliders[which]->Position();
    ShowNumber(labels[which], *CurrentValue(which));
    SendCurrent(FALSE);
    RepaintStep();
}

void ColorDialog::OnOk() {
    SendCurrent(FALSE);
    RepaintStep();
}

void ColorDialog::OnCancel() {
    SetColorControls(savedColors.brightness, savedColors.saturation, savedColors.contrast, FALSE);
    RepaintStep();
}

void ColorDialog::OnReset() {
    SendCurrent(TRUE);
    GetColorControls(&currentColors.brightness, &currentColors.saturation, &currentColors.contrast, TRUE);
    ShowCurrent();
    RepaintStep();
}
