// The status bar along the bottom of the main window: three sunken parts whose
// right edges are set with SetParts, as the common status bar control does.
#pragma once

#include "platform/win32/Types.h"

#include <QWidget>

#include <array>
#include <functional>

class QLabel;

class StatusBar : public QWidget {
    Q_OBJECT
public:
    static constexpr int partCount = 3;

    explicit StatusBar(QWidget* parent);

    // Right edges of the parts in pixels from the bar's left side; -1 means
    // "to the right end", any other edge left of a part's start empties it.
    void SetParts(const std::array<int, partCount>& rightEdges);
    const std::array<int, partCount>& Parts() const { return edges; }

    // Called after the bar changed size, to lay the parts out again.
    void SetResizedHandler(std::function<void()> handler) { resized = std::move(handler); }

    void SetText(int part, const QString& text);
    QString Text(int part) const;
    // Where the part is drawn, in the bar's coordinates; empty when hidden.
    QRect PartRect(int part) const;

    // Simple mode, as the control has it: one text across the whole bar
    // instead of the parts, for a notice that must not pop up a box. The
    // parts keep their texts underneath; an empty text shows them again.
    void SetSimpleText(const QString& text);
    QString SimpleText() const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void PlaceParts();

    std::array<QLabel*, partCount> labels{};
    QLabel* simple = nullptr;
    std::array<int, partCount> edges{-1, -1, -1};
    std::function<void()> resized;
};
