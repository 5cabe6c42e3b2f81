#include "dialogs/InfoSheet.h"

#include "dialogs/MovieInfo.h"
#include "res/Resource.h"
#include "res/Strings.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

QWidget* MakeShortcutsPage() {
    auto* page = new QWidget;
    auto* grid = new QGridLayout(page);
    grid->setHorizontalSpacing(24);
    int row = 0;
    for (const ShortcutText& s : InfoShortcutTexts()) {
        grid->addWidget(new QLabel(QString::fromLatin1(s.key)), row, 0);
        grid->addWidget(new QLabel(QString::fromLatin1(s.action)), row, 1);
        ++row;
    }
    grid->setRowStretch(row, 1);
    grid->setColumnStretch(1, 1);
    return page;
}

} // namespace

InfoSheet::InfoSheet(const MovieInfo& movieInfoRef, QWidget* owner) : QDialog(owner), info(movieInfoRef) {
    setWindowTitle(QStringLiteral("Info"));

    auto* general = new QWidget;
    auto* grid = new QGridLayout(general);
    grid->setHorizontalSpacing(12);
    // Label rows: the video format spans three value lines (size, frame
    // count, frame rate and codec), as on the sheet's template.
    const char* labels[] = {"File name:", "Media length:", "Audio format:", "Video format:", "Data rate:"};
    const int labelRows[] = {0, 1, 2, 3, 7};
    for (int i = 0; i < 5; ++i)
        grid->addWidget(new QLabel(QString::fromLatin1(labels[i])), labelRows[i], 0, Qt::AlignTop);
    for (int i = 0; i < 8; ++i) {
        values[static_cast<size_t>(i)] = new QLabel;
        values[static_cast<size_t>(i)]->setObjectName(QString::number(IDC_INFOFILENAME + i));
        values[static_cast<size_t>(i)]->setTextFormat(Qt::PlainText);
        values[static_cast<size_t>(i)]->setMinimumWidth(200);
        grid->addWidget(values[static_cast<size_t>(i)], i, 1);
    }
    grid->setRowStretch(8, 1);
    grid->setColumnStretch(1, 1);

    pages = new QTabWidget;
    pages->addTab(general, QStringLiteral("General"));
    pages->addTab(MakeShortcutsPage(), QStringLiteral("Shortcuts"));
    connect(pages, &QTabWidget::currentChanged, this, [this](int index) {
        if (index == 0)
            GeneralPageActivated();
    });

    // A property sheet without an Apply button: OK and Cancel both just close.
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pages);
    layout->addWidget(buttons);
    GeneralPageActivated();
}

void InfoSheet::GeneralPageActivated() {
    const std::string* texts[] = {&info.fileName,   &info.mediaLength, &info.audioFormat, &info.videoSize,
                                  &info.frameCount, &info.frameRate,   &info.codecText,   &info.dataRate};
    for (size_t i = 0; i < values.size(); ++i)
        values[i]->setText(QString::fromStdString(*texts[i]));
}

QString InfoSheet::ValueText(int index) const {
    if (index < 0 || index >= static_cast<int>(values.size()))
        return {};
    return values[static_cast<size_t>(index)]->text();
}

void ShowInfoSheet(QWidget* owner, const MovieInfo& info) {
    InfoSheet sheet(info, owner);
    sheet.exec();
}
