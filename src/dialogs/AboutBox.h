// The About box: product, company, description, version, copyright and
// trademark texts from the program's version information, and the system the
// program runs on.
#pragma once

#include <QDialog>
#include <QFont>

#include <string>

class QLabel;

class AboutBox : public QDialog {
    Q_OBJECT
public:
    // `systemLine` is the "Running on:" text.
    AboutBox(QWidget* owner, const std::string& systemLine);

    // The text of control 400..406 (406 is the "Running on:" label).
    QString ControlText(int id) const;

private:
    QLabel* AddControl(int id, const char* templateText);

    QFont largeFont;
    QFont smallFont;
};

// Shows the About box modally over `owner`.
void ShowAboutBox(QWidget* owner);
