#include "dialogs/AboutBox.h"

#include "dialogs/CenterWindow.h"
#include "dialogs/SystemVersion.h"
#include "res/Resource.h"
#include "res/VersionInfo.h"

#include <QApplication>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

#include <string_view>

namespace {

constexpr std::string_view stringBlock = "\\StringFileInfo\\040904E4\\";

QFrame* Rule() {
    auto* rule = new QFrame;
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Plain);
    rule->setLineWidth(1);
    return rule;
}

} // namespace

QLabel* AboutBox::AddControl(int id, const char* templateText) {
    auto* label = new QLabel(QString::fromLatin1(templateText), this);
    label->setObjectName(QString::number(id));
    label->setTextFormat(Qt::PlainText);
    return label;
}

AboutBox::AboutBox(QWidget* owner, const std::string& systemLine) : QDialog(owner) {
    setWindowTitle(QStringLiteral("About"));
    largeFont.setStyleHint(QFont::SansSerif);
    largeFont.setPixelSize(14);
    smallFont.setStyleHint(QFont::SansSerif);
    smallFont.setPixelSize(11);

    // The template text of each version control names the value shown in it.
    QLabel* company = AddControl(IDC_ABOUTCOMPANY, "CompanyName");
    QLabel* description = AddControl(IDC_ABOUTDESCRIPTION, "FileDescription");
    QLabel* version = AddControl(IDC_ABOUTVERSION, "ProductVersion");
    QLabel* copyright = AddControl(IDC_ABOUTCOPYRIGHT, "LegalCopyright");
    QLabel* osVersion = AddControl(IDC_ABOUTOSVERSION, "OSVERSION");
    QLabel* trademarks = AddControl(IDC_ABOUTTRADEMARKS, "LegalTrademarks");
    QLabel* runningOn = AddControl(IDC_ABOUTRUNNINGON, "Running on:");
    version->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    trademarks->setWordWrap(true);

    std::string_view value;
    DWORD lastError = 0;
    if (VerQueryValue(std::string(stringBlock) + "ProductName", value, lastError))
        setWindowTitle(QStringLiteral("About ") +
                       QString::fromUtf8(value.data(), static_cast<int>(value.size())));
    else
        setWindowTitle(QStringLiteral("About "));

    for (QLabel* control : {company, description, version, copyright, osVersion, trademarks}) {
        const std::string name = control->text().toStdString();
        if (VerQueryValue(std::string(stringBlock) + name, value, lastError) && !value.empty())
            control->setText(QString::fromUtf8(value.data(), static_cast<int>(value.size())));
        else
            control->setText(QStringLiteral("Error %1").arg(lastError));
        control->setFont(control == trademarks ? smallFont : largeFont);
    }
    runningOn->setFont(largeFont);
    osVersion->setText(QString::fromStdString(systemLine));

    auto* icon = new QLabel(this);
    icon->setPixmap(QApplication::windowIcon().isNull()
                        ? style()->standardIcon(QStyle::SP_MediaPlay).pixmap(32, 32)
                        : QApplication::windowIcon().pixmap(32, 32));
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QString::number(IDOK));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* grid = new QGridLayout(this);
    grid->addWidget(icon, 0, 0, 3, 1, Qt::AlignTop);
    grid->addWidget(company, 0, 1, 1, 2);
    grid->addWidget(ok, 0, 3, Qt::AlignTop);
    grid->addWidget(description, 1, 1);
    grid->addWidget(version, 1, 2);
    grid->addWidget(copyright, 2, 1, 1, 3);
    grid->addWidget(Rule(), 3, 0, 1, 4);
    auto* osRow = new QHBoxLayout;
    osRow->addWidget(runningOn);
    osRow->addWidget(osVersion, 1);
    grid->addLayout(osRow, 4, 0, 1, 4);
    grid->addWidget(Rule(), 5, 0, 1, 4);
    grid->addWidget(trademarks, 6, 0, 1, 4);
    grid->setColumnStretch(1, 1);

    adjustSize();
    CenterWindow(this, owner);
}

QString AboutBox::ControlText(int id) const {
    const auto* label = findChild<QLabel*>(QString::number(id));
    return label ? label->text() : QString();
}

void ShowAboutBox(QWidget* owner) {
    AboutBox box(owner, RunningSystemLine());
    box.exec();
}
