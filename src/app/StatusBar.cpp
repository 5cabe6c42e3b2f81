#include "app/StatusBar.h"

#include <QLabel>

StatusBar::StatusBar(QWidget* parent) : QWidget(parent) {
    for (auto& label : labels) {
        label = new QLabel(this);
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setTextFormat(Qt::PlainText);
        label->setIndent(0);
        label->setMargin(0);
    }
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

void StatusBar::resizeEvent(QResizeEvent*) {
    PlaceParts();
    if (resized)
        resized();
}

void StatusBar::PlaceParts() {
    // Each part starts where the previous one ends; an edge left of its start
    // makes the part empty, as with the control.
    int left = 0;
    for (size_t i = 0; i < labels.size(); ++i) {
        int right = edges[i] < 0 ? width() : edges[i];
        if (right > width())
            right = width();
        const int w = right > left ? right - left : 0;
        labels[i]->setGeometry(left, 2, w, height() - 2);
        labels[i]->setVisible(w > 0);
        left = right > left ? right : left;
    }
}
