#include "app/PaletteImport.h"

#include "app/PaletteData.h"
#include "app/ShellPaths.h"
#include "image/FileChooser.h"
#include "image/PaletteFile.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QImage>
#include <QMimeData>

#include <utility>
#include <vector>

namespace {

// The palette reader asks for its file through the shell's Open dialog; the
// path reaches it in the file system's own encoding.
class DialogChooser : public FileChooser {
public:
    explicit DialogChooser(const PaletteImport::OpenDialog& dialog) : openDialog(dialog) {}

    bool ChooseFileToOpen(const OpenFileRequest& request, std::string& path) override {
        const QString filter =
            QString::fromStdString(DialogFilter(request.filterName ? request.filterName : "",
                                                request.filterPattern ? request.filterPattern : ""));
        const QString chosen = openDialog(QString::fromLatin1(request.title ? request.title : ""), filter);
        if (chosen.isEmpty())
            return false;
        path = QFile::encodeName(chosen).toStdString();
        return true;
    }

private:
    const PaletteImport::OpenDialog& openDialog;
};

} // namespace

PaletteImport::PaletteImport(OpenDialog dialog) : openDialog(std::move(dialog)) {}

bool PaletteImport::ReadClipboard(LOGPALETTE* record) {
    const QMimeData* mime = QApplication::clipboard()->mimeData();
    if (mime == nullptr)
        return false;
    std::vector<PALETTEENTRY> entries;
    if (mime->hasFormat(QString::fromLatin1(paletteMimeType))) {
        // The bytes are read into the record, which has room for any palette
        // file, and its entries are then taken like any clipboard palette's.
        const QByteArray bytes = mime->data(QString::fromLatin1(paletteMimeType));
        if (ReadPaletteBytes(reinterpret_cast<const BYTE*>(bytes.constData()),
                             static_cast<size_t>(bytes.size()), record) != 0)
            return false;
        const PALETTEENTRY* read = record->palPalEntry;
        entries.assign(read, read + record->palNumEntries);
    } else if (mime->hasImage()) {
        const QImage image = qvariant_cast<QImage>(mime->imageData());
        if (image.format() != QImage::Format_Indexed8 && image.format() != QImage::Format_Mono &&
            image.format() != QImage::Format_MonoLSB)
            return false;
        for (QRgb c : image.colorTable())
            entries.push_back(PALETTEENTRY{static_cast<BYTE>(qRed(c)), static_cast<BYTE>(qGreen(c)),
                                           static_cast<BYTE>(qBlue(c)), 0});
    } else {
        return false;
    }
    // A palette of no colours (a palette file may hold none) has nothing to
    // give: the choice fails as for a clipboard without a palette, instead of
    // turning entries 10 to 245 black.
    if (entries.empty())
        return false;
    FillClipboardPaletteRecord(entries, record);
    return true;
}

bool PaletteImport::ReadFile(LOGPALETTE* record) const {
    DialogChooser chooser(openDialog);
    return ::ReadPaletteFile(chooser, record) == 0;
}
