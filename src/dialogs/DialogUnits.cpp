#include "dialogs/DialogUnits.h"

#include <QFontMetrics>

DialogUnits::DialogUnits(const QFont& font) {
    // The average width of the 52 Latin letters, rounded, as the dialog
    // manager measures a dialog font; the height is the font's line height.
    const QFontMetrics metrics(font);
    const int letters =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    if (letters > 0)
        baseX = (letters / 26 + 1) / 2;
    if (metrics.height() > 0)
        baseY = metrics.height();
}

int DialogUnits::X(int units) const {
    return (units * baseX + 2) / 4;
}

int DialogUnits::Y(int units) const {
    return (units * baseY + 4) / 8;
}

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
    return QRect(X(x), Y(y), X(width), Y(height));
}
