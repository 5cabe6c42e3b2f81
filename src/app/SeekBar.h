// The seek bar: a captionless pop-up with a play button and a trackbar that
// opens at the mouse pointer. Moving the thumb goes to that frame and shows
// it; the button closes the bar and starts play.
#pragma once

#include "platform/win32/Types.h"

#include <QPixmap>
#include <QWidget>

#include <functional>

class QAbstractButton;
class QSlider;

class SeekBar : public QWidget {
    Q_OBJECT
public:
    struct Handlers {
        // A frame was chosen with the trackbar.
        std::function<void(LONG frame)> seek;
        // The bar closed; `play` is true when the play button closed it.
        std::function<void(bool play)> closed;
    };

    // The trackbar covers `firstFrame`..`lastFrame` (any number of frames)
    // with its thumb at `position`.
    SeekBar(QWidget* owner, LONG firstFrame, LONG lastFrame, LONG position, Handlers handlers);

    // WM_COMMAND IDCANCEL: close without playing.
    void Cancel();

    QSlider* Trackbar() const { return trackbar; }
    QAbstractButton* PlayButton() const { return playButton; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Close(bool play);

    QSlider* trackbar = nullptr;
    QAbstractButton* playButton = nullptr;
    Handlers handlers;
    bool closing = false;
};

// Bitmap 118, the play button's face, as a pixmap of its native 20 x 21 size.
QPixmap PlayButtonPixmap();
