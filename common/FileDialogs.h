#pragma once

#include <QFileDialog>
#include <QFileIconProvider>

namespace kavio {

// Every file dialog of the program comes from here, and none of them opens a file to look at
// it. Qt's own dialog works out a file's icon and type by reading its first bytes, and that
// open-and-close of the database drops the locks SQLite holds on it (POSIX locks belong to the
// process and go with any descriptor of the file being closed): other programs then take the
// file for unused, delete its write-ahead log, and writes are lost. So these dialogs:
// - are Qt's widget dialog, never the desktop's (whose code this program does not control);
// - name icons and types from the file name alone (SafeIconProvider);
// - neither list nor accept the database and its journals (ProtectedFiles).
// A test searches the sources for file dialogs made anywhere else.
class SafeFileDialog : public QFileDialog {
    Q_OBJECT

public:
    // A dialog that asks where to save, offering `filter` ("CSV files (*.csv);;All files (*)")
    // and adding `defaultSuffix` to a name without one. It deletes itself when closed; connect
    // to fileSelected() and show it with open(), which waits for nothing.
    static SafeFileDialog* forSaving(QWidget* parent, const QString& caption, const QString& filter,
                                     const QString& defaultSuffix);

    explicit SafeFileDialog(QWidget* parent = nullptr, const QString& caption = QString());

    void accept() override;
};

// Icons and type names from the file name alone: a folder, a file, a link; the type from the
// name's extension. Never opens, reads or watches a file.
class SafeIconProvider : public QFileIconProvider {
public:
    SafeIconProvider();
    QIcon icon(IconType type) const override;
    QIcon icon(const QFileInfo& info) const override;
    QString type(const QFileInfo& info) const override;
};

} // namespace kavio
