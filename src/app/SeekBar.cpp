#include "app/SeekBar.h"

#include "res/Bitmaps.h"
#include "res/Resource.h"

#include <QAbstractButton>
#include <QImage>
#include <QKeyEvent>
#include <QPainter>
#include <QSlider>

#include <algorithm>
#include <utility>

namespace {

// The owner-drawn play button: the bitmap stretched over the whole button in
// every state.
class PlayButtonFace : public QAbstractButton {
public:
    explicit PlayButtonFace(QWidget* parent) : QAbstractButton(parent), face(PlayButtonPixmap()) {
        setFocusPolicy(Qt::TabFocus);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.drawPixmap(rect(), face);
    }

private:
    QPixmap face;
};

// Sizes in pixels of the seek bar's template: 134 x 13 dialog units, a 13 x
// 13 button and a 120-unit trackbar beside it.
constexpr int buttonWidth = 20;
constexpr int barHeight = 21;
constexpr int trackbarLeft = 21;
constexpr int trackbarWidth = 180;

} // namespace

QPixmap PlayButtonPixmap() {
    BitmapResource bitmap;
    if (!LoadBitmapResource(IDB_PLAYBUTTON, bitmap))
        return {};
    const int width = bitmap.header.biWidth;
    const int height = bitmap.header.biHeight;
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const RGBQUAD c = bitmap.colors[BitmapPixelIndex(bitmap, x, y)];
            image.setPixel(x, y, qRgb(c.rgbRed, c.rgbGreen, c.rgbBlue));
        }
    }
    return QPixmap::fromImage(image);
}

SeekBar::SeekBar(QWidget* owner, LONG firstFrame, LONG lastFrame, LONG position, Handlers h)
    : QWidget(owner, Qt::Tool | Qt::FramelessWindowHint), handlers(std::move(h)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QString::number(IDD_SEEKBAR));

    playButton = new PlayButtonFace(this);
    playButton->setObjectName(QString::number(IDC_PLAYBUTTON));
    playButton->setGeometry(0, 0, buttonWidth, barHeight);

    trackbar = new QSlider(Qt::Horizontal, this);
    trackbar->setObjectName(QString::number(IDC_SEEKTRACKBAR));
    trackbar->setTickPosition(QSlider::NoTicks);
    trackbar->setGeometry(trackbarLeft, 0, trackbarWidth, barHeight);
    // The whole frame range, however long the movie: the slider's range is a
    // 32-bit int, so a movie of more than 65536 frames is covered to its end.
    trackbar->setRange(firstFrame, lastFrame > firstFrame ? lastFrame : firstFrame);
    trackbar->setSingleStep(1);
    trackbar->setPageStep(std::max<LONG>(1, (lastFrame - firstFrame) / 10));
    trackbar->setValue(position);
    setFixedSize(trackbarLeft + trackbarWidth, barHeight);

    // Every user move of the thumb (dragging, arrow keys, page clicks) seeks;
    // setting the value above did not, as nothing was connected yet.
    connect(trackbar, &QSlider::valueChanged, this, [this](int value) {
        if (handlers.seek)
            handlers.seek(value);
    });
    connect(playButton, &QAbstractButton::clicked, this, [this] { Close(true); });
}

void SeekBar::Cancel() {
    Close(false);
}

void SeekBar::Close(bool play) {
    if (closing)
        return;
    closing = true;
    if (handlers.closed)
        handlers.closed(play);
    close();
}

void SeekBar::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        Cancel();
        return;
    }
    QWidget::keyPressEvent(event);
}
