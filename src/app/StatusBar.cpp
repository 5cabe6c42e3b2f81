#include "app/StatusBar.h"

#include <QApplication>
#include <QLabel>

StatusBar::StatusBar(QWidget* parent) : QWidget(parent) {
    for (auto& label : labels) {
        label = new QLabel(this);
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setTextFormat(Qt::PlainText);
        label->setIndent(0);
        label->setMargin(0);
    }
    simple = new QLabel(this);
    simple->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    simple->setTextFormat(Qt::PlainText);
    simple->hide();
    // The bar has the ordinary window colour, not the grey of the video area
    // it sits in.
    QPalette own = QApplication::palette(this);
    // Set each role explicitly: a palette with nothing marked as set would
    // still inherit the grey.
    for (QPalette::ColorRole role : {QPalette::Window, QPalette::WindowText, QPalette::Light, QPalette::Dark,
                                     QPalette::Mid, QPalette::Shadow, QPalette::Midlight})
        own.setBrush(role, own.brush(role));
    setPalette(own);
    setAutoFillBackground(true);
    const int height = fontMetrics().height() + 6;
    setFixedHeight(height);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

void StatusBar::SetParts(const std::array<int, partCount>& rightEdges) {
    edges = rightEdges;
    PlaceParts();
}

void StatusBar::SetText(int part, const QString& text) {
    if (part >= 0 && part < partCount)
        labels[static_cast<size_t>(part)]->setText(text);
}

QString StatusBar::Text(int part) const {
    if (part < 0 || part >= partCount)
        return {};
    return labels[static_cast<size_t>(part)]->text();
}

void StatusBar::SetSimpleText(const QString& text) {
    simple->setText(text);
    PlaceParts();
}

QString StatusBar::SimpleText() const {
    return simple->text();
}

QRect StatusBar::PartRect(int part) const {
    if (part < 0 || part >= partCount || labels[static_cast<size_t>(part)]->isHidden())
        return {};
    return labels[static_cast<size_t>(part)]->geometry();
}

void StatusBar::resizeEvent(QResizeEvent*) {
    PlaceParts();
    if (resized)
        resized();
}

void StatusBar::PlaceParts() {
    // Each part starts where the previous one ends; an edge left of its start
    // makes the part empty, as with the control. Only -1 means "to the right
    // end": in a narrow window the middle part's edge is computed negative,
    // and that part must vanish rather than swallow the position part.
    const bool simpleMode = !simple->text().isEmpty();
    simple->setGeometry(0, 2, width(), height() - 2);
    simple->setVisible(simpleMode);
    int left = 0;
    for (size_t i = 0; i < labels.size(); ++i) {
        int right = edges[i] == -1 ? width() : edges[i];
        if (right > width())
            right = width();
        const int w = right > left ? right - left : 0;
        labels[i]->setGeometry(left, 2, w, height() - 2);
        labels[i]->setVisible(w > 0 && !simpleMode);
        left = right > left ? right : left;
    }
}
