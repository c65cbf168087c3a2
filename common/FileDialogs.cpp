#include "FileDialogs.h"

#include "Messages.h"
#include "ProtectedFiles.h"

#include <QApplication>
#include <QFileSystemModel>
#include <QMimeDatabase>
#include <QSortFilterProxyModel>
#include <QStyle>
#include <QTemporaryDir>

namespace kavio {
namespace {

// Leaves out of the dialog's lists the files that only SQLite may open.
class ProtectedFilesFilter : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (!files)
            return true;
        return !ProtectedFiles::contains(files->filePath(files->index(row, 0, parent)));
    }
};

// An empty folder of the program's own. Qt's dialog starts listing its first folder as it is
// made, before it can be given another icon provider: it is made on this folder, where there is
// nothing to look at, and only then sent where it should start.
QString emptyFolder() {
    static const QTemporaryDir folder;
    return folder.isValid() ? folder.path() : QStringLiteral("/");
}

// Where the next dialog starts: where the last one was accepted.
QString& startFolder() {
    static QString folder = QDir::homePath();
    return folder;
}

} // namespace

// A folder's own icon would be read from a file inside it: this provider never asks for one.
SafeIconProvider::SafeIconProvider() = default;

QIcon SafeIconProvider::icon(IconType type) const {
    QStyle* style = QApplication::style();
    switch (type) {
    case Folder:
    case Desktop:
    case Trashcan:
    case Network:
        return style->standardIcon(QStyle::SP_DirIcon);
    case Drive:
        return style->standardIcon(QStyle::SP_DriveHDIcon);
    case Computer:
        return style->standardIcon(QStyle::SP_ComputerIcon);
    case File:
        break;
    }
    return style->standardIcon(QStyle::SP_FileIcon);
}

QIcon SafeIconProvider::icon(const QFileInfo& info) const {
    QStyle* style = QApplication::style();
    if (info.isSymLink())
        return style->standardIcon(info.isDir() ? QStyle::SP_DirLinkIcon : QStyle::SP_FileLinkIcon);
    return icon(info.isDir() ? Folder : File);
}

QString SafeIconProvider::type(const QFileInfo& info) const {
    if (info.isDir())
        return QApplication::translate("kavio::SafeIconProvider", "Folder");
    // By the name's extension only: a look at the content would open the file.
    const QMimeType mime =
        QMimeDatabase().mimeTypeForFile(info.fileName(), QMimeDatabase::MatchExtension);
    if (mime.isDefault())
        return QApplication::translate("kavio::SafeIconProvider", "File");
    return mime.comment().isEmpty() ? mime.name() : mime.comment();
}

SafeFileDialog::SafeFileDialog(QWidget* parent, const QString& caption)
    : QFileDialog(parent, caption, emptyFolder()) {
    setOption(QFileDialog::DontUseNativeDialog);
    static SafeIconProvider provider; // outlives every dialog, as the model wants
    setIconProvider(&provider);
    setProxyModel(new ProtectedFilesFilter(this));
    setDirectory(startFolder());
}

SafeFileDialog* SafeFileDialog::forSaving(QWidget* parent, const QString& caption,
                                          const QString& filter, const QString& defaultSuffix) {
    auto* dialog = new SafeFileDialog(parent, caption);
    dialog->setNameFilter(filter);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setDefaultSuffix(defaultSuffix);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    return dialog;
}

// A typed name can still reach the database: it is refused, and the dialog stays open.
void SafeFileDialog::accept() {
    for (const QString& chosen : selectedFiles()) {
        if (ProtectedFiles::contains(chosen)) {
            Messages::show(MessageKind::Error, windowTitle(),
                           tr("%1 is the database or one of its journals: choose another file.")
                               .arg(QDir::toNativeSeparators(chosen)),
                           QMessageBox::Ok, this);
            return;
        }
    }
    startFolder() = directory().absolutePath();
    QFileDialog::accept();
}

} // namespace kavio
