// The Info sheet: a modal two-page sheet titled "Info". "General" shows the
// eight texts of movieInfo, copied each time the page becomes current;
// "Shortcuts" lists the keyboard shortcuts.
#pragma once

#include <QDialog>

#include <array>

class QLabel;
class QTabWidget;
struct MovieInfo;

class InfoSheet : public QDialog {
    Q_OBJECT
public:
    InfoSheet(const MovieInfo& info, QWidget* owner);

    // The value texts of the General page, file name first, data rate last
    // (controls 1048 to 1055).
    QString ValueText(int index) const;
    QTabWidget* Pages() const { return pages; }

private:
    void GeneralPageActivated();

    const MovieInfo& info;
    QTabWidget* pages = nullptr;
    std::array<QLabel*, 8> values{};
};

// Shows the sheet modally over `owner` and returns when the user closes it.
void ShowInfoSheet(QWidget* owner, const MovieInfo& info);
