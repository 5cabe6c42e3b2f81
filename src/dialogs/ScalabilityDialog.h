// "Scalability Control": the Tavro codec's decoding time budget in
// milliseconds per frame, on a trackbar whose positions 0..100 are
// milliseconds one for one and whose last sixteen widen to 500. Dragging
// the thumb changes only the number shown; the codec hears of it when the
// thumb is released, or at once for any other move.
#pragma once

#include "dialogs/CodecDialog.h"

class QLabel;
class Trackbar;

class ScalabilityDialog : public CodecDialog {
    Q_OBJECT
public:
    ScalabilityDialog(QWidget* owner, Handlers h);

    // The milliseconds at trackbar position `position` (0..116).
    static LONG MillisecondsAt(INT position);
    // The position whose milliseconds are nearest `ms`, the lower one on a
    // tie; values that no position has fall between their neighbours.
    static INT PositionOf(LONG ms);

    Trackbar* Slider() const { return slider; }

protected:
    void OnOk() override;
    void OnCancel() override;
    void OnReset() override;

private:
    void OnScroll(int code);
    void ShowValue();

    Trackbar* slider = nullptr;
    QLabel* value = nullptr;
};
