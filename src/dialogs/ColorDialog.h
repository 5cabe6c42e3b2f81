// "Color Controls": brightness, saturation and contrast of the Tavro codec's
// output, each on a trackbar from -255 to 255. Every move, dragging included,
// is sent to the codec at once, so the picture follows the thumb; Cancel
// gives the codec back the values it had when the dialog opened.
#pragma once

#include "dialogs/CodecDialog.h"

class QLabel;
class Trackbar;

class ColorDialog : public CodecDialog {
    Q_OBJECT
public:
    ColorDialog(QWidget* owner, Handlers h);

    Trackbar* Brightness() const { return sliders[0]; }
    Trackbar* Saturation() const { return sliders[1]; }
    Trackbar* Contrast() const { return sliders[2]; }

protected:
    void OnOk() override;
    void OnCancel() override;
    void OnReset() override;

private:
    void OnScroll(int which, int code);
    void ShowCurrent();

    Trackbar* sliders[3] = {};
    QLabel* labels[3] = {};
};
