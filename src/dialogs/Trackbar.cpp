#include "dialogs/Trackbar.h"

#include <QKeyEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>

#include <utility>

Trackbar::Trackbar(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    setFocusPolicy(Qt::StrongFocus);
    setTickPosition(QSlider::TicksBelow);
    setTickInterval(0);
    connect(this, &QAbstractSlider::actionTriggered, this, &Trackbar::OnAction);
}

void Trackbar::SetTics(std::vector<int> positions) {
    tics = std::move(positions);
    setTickInterval(0);
    update();
}

void Trackbar::SetTickFrequency(int frequency) {
    tics.clear();
    setTickInterval(frequency);
    update();
}

void Trackbar::OnAction(int action) {
    // The position has moved by the time an action is reported, but the
    // value follows only after it; readers use Position().
    switch (action) {
    case SliderSingleStepAdd:
        emit Scrolled(TB_LINEDOWN);
        break;
    case SliderSingleStepSub:
        emit Scrolled(TB_LINEUP);
        break;
    case SliderPageStepAdd:
        emit Scrolled(TB_PAGEDOWN);
        break;
    case SliderPageStepSub:
        emit Scrolled(TB_PAGEUP);
        break;
    case SliderToMinimum:
        emit Scrolled(TB_TOP);
        break;
    case SliderToMaximum:
        emit Scrolled(TB_BOTTOM);
        break;
    case SliderMove:
        // The thumb under the mouse; a wheel step moves it too, as a line.
        emit Scrolled(isSliderDown() ? TB_THUMBTRACK : TB_LINEDOWN);
        break;
    default:
        break;
    }
}

void Trackbar::keyReleaseEvent(QKeyEvent* event) {
    QSlider::keyReleaseEvent(event);
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
        if (!event->isAutoRepeat())
            emit Scrolled(TB_ENDTRACK);
        break;
    default:
        break;
    }
}

void Trackbar::mouseReleaseEvent(QMouseEvent* event) {
    QSlider::mouseReleaseEvent(event);
    emit Scrolled(TB_ENDTRACK);
}

void Trackbar::wheelEvent(QWheelEvent* event) {
    QSlider::wheelEvent(event);
    emit Scrolled(TB_ENDTRACK);
}

void Trackbar::paintEvent(QPaintEvent* event) {
    if (tics.empty()) {
        QSlider::paintEvent(event);
        return;
    }
    // The style draws groove and thumb; the ticks at chosen positions are
    // ours, since the style knows only evenly spaced ones.
    QPainter painter(this);
    QStyleOptionSlider option;
    initStyleOption(&option);
    option.subControls = QStyle::SC_SliderGroove | QStyle::SC_SliderHandle;
    option.tickPosition = QSlider::NoTicks;
    style()->drawComplexControl(QStyle::CC_Slider, &option, &painter, this);
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    const int span = width() - handle.width();
    painter.setPen(palette().color(QPalette::WindowText));
    for (int tic : tics) {
        const int x = handle.width() / 2 +
                      QStyle::sliderPositionFromValue(minimum(), maximum(), tic, span, option.upsideDown);
        painter.drawLine(x, height() - 4, x, height() - 1);
    }
}
