// Dialog units: the layout measure of our dialog templates. A horizontal unit
// is a quarter of the dialog font's average character width and a vertical
// unit an eighth of its height, so a template laid out in units keeps its
// proportions, and its texts keep fitting, with whatever font the desktop
// gives the dialog.
#pragma once

#include <QFont>
#include <QRect>

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);

    int X(int units) const;
    int Y(int units) const;
    // A template rectangle (x, y, width, height in units) in pixels.
    QRect Rect(int x, int y, int width, int height) const;

private:
    int baseX = 6;
    int baseY = 13;
};
