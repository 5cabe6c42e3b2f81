// A horizontal trackbar that reports its scrolling the way the common
// control does: one Scrolled(code) per step with the TB_ code of what moved
// it, the position already updated, and a TB_ENDTRACK when the mouse button
// or the key is released. Tick marks go at the positions given to SetTics,
// or every TickFrequency positions.
#pragma once

#include "platform/win32/Types.h"

#include <QSlider>

#include <vector>

// Trackbar notification codes (the low word of WM_HSCROLL's wParam).
constexpr INT TB_LINEUP = 0;
constexpr INT TB_LINEDOWN = 1;
constexpr INT TB_PAGEUP = 2;
constexpr INT TB_PAGEDOWN = 3;
constexpr INT TB_THUMBPOSITION = 4;
constexpr INT TB_THUMBTRACK = 5;
constexpr INT TB_TOP = 6;
constexpr INT TB_BOTTOM = 7;
constexpr INT TB_ENDTRACK = 8;

class Trackbar : public QSlider {
    Q_OBJECT
public:
    explicit Trackbar(QWidget* parent);

    // TBM_GETPOS: the thumb's position, also in the middle of a drag.
    LONG Position() const { return sliderPosition(); }
    // TBM_SETTIC for each position, replacing any tick frequency.
    void SetTics(std::vector<int> positions);
    // TBM_SETTICFREQ.
    void SetTickFrequency(int frequency);

signals:
    void Scrolled(int code);

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void OnAction(int action);

    std::vector<int> tics;
};
