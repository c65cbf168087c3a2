#include "CommandProcessor.h"
#include "FileDialogs.h"
#include "HistoryWindow.h"
#include "LogWithCore.h"
#include "Messages.h"
#include "SqliteTool.h"
#include "TempDatabase.h"

#include <QAbstractProxyModel>
#include <QCoreApplication>
#include <QDirIterator>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

using namespace kavio;
using test::TempDatabase;

// The program's file dialogs on the database's own folder: SQLite keeps its locks and no write
// is lost.
class TestFileDialogs : public QObject {
    Q_OBJECT

    // The POSIX locks this process holds, as the kernel lists them.
    static int heldLocks() {
        QFile locks(QStringLiteral("/proc/locks"));
        if (!locks.open(QIODevice::ReadOnly))
            return -1;
        const QString pid = QString::number(QCoreApplication::applicationPid());
        int count = 0;
        for (const QByteArray& line : locks.readAll().split('\n')) {
            const QStringList fields =
                QString::fromLatin1(line).split(QLatin1Char(' '), Qt::SkipEmptyParts);
            if (fields.size() > 4 && fields[1] == QLatin1String("POSIX") && fields[4] == pid)
                ++count;
        }
        return count;
    }

    // Sends the dialog into `folder` as a user does, typing it and pressing Enter, and waits
    // until every entry of the folder has been looked at (its type known).
    static bool browse(SafeFileDialog* dialog, const QString& folder, const QStringList& names) {
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        auto* files = dialog->findChild<QFileSystemModel*>();
        if (!name || !files)
            return false;
        name->setText(folder);
        QTest::keyClick(name, Qt::Key_Return);
        return QTest::qWaitFor(
            [&] {
                for (const QString& entry : names) {
                    if (files->type(files->index(folder + QLatin1Char('/') + entry)).isEmpty())
                        return false;
                }
                return dialog->directory().absolutePath() == folder;
            },
            20000);
    }

private slots:
    void dialogsOnTheDatabaseFolderKeepItsLocks() {
        RecordingMessageSink messages;
        TempDatabase db;
        TempDatabase::addUnit(QStringLiteral("first"));
        const QString folder = QFileInfo(db.path).absolutePath();
        QFile neighbour(folder + QStringLiteral("/notes.txt"));
        QVERIFY(neighbour.open(QIODevice::WriteOnly));
        neighbour.close();
        const int locks = heldLocks();
        QVERIFY2(locks > 0, "SQLite holds no lock to lose: the check would prove nothing");

        THistoryFrm history;
        LogWithCore log;
        const QList<std::function<QWidget*()>> openers = {
            [&] {
                history.ExportButton->click();
                return static_cast<QWidget*>(&history);
            },
            [&] {
                log.SaveButton->click();
                return static_cast<QWidget*>(&log);
            },
        };
        int round = 0;
        for (const auto& open : openers) {
            QWidget* owner = open();
            auto* dialog = owner->findChild<SafeFileDialog*>();
            QVERIFY(dialog);
            QVERIFY(dialog->isVisible());
            const QStringList entries = {
                QStringLiteral("KavioCC.db"), QStringLiteral("KavioCC.db-wal"),
                QStringLiteral("KavioCC.db-shm"), QStringLiteral("notes.txt")};
            QVERIFY(browse(dialog, folder, entries));
            QCOMPARE(heldLocks(), locks);

            // Only the neighbour is listed; the database typed by name is refused.
            QAbstractItemModel* listed = dialog->proxyModel();
            QVERIFY(listed);
            auto* view = dialog->findChild<QListView*>(QStringLiteral("listView"));
            QVERIFY(view);
            const QModelIndex root = view->rootIndex();
            QCOMPARE(root.model(), listed);
            QStringList shown;
            for (int row = 0; row < listed->rowCount(root); ++row)
                shown << listed->index(row, 0, root).data().toString();
            QCOMPARE(shown, QStringList{QStringLiteral("notes.txt")});
            dialog->selectFile(db.path);
            dialog->accept();
            QVERIFY(dialog->isVisible());
            QCOMPARE(messages.shown.size(), round + 1);
            QVERIFY(messages.shown.last().text.contains(QStringLiteral("KavioCC.db")));
            dialog->reject();
            ++round;

            // Another program's write and ours, each seen by a third reader.
            bool ok = false;
            test::runSqliteTool(
                db.path,
                QStringLiteral(R"(INSERT INTO "Master" ("Name") VALUES ('theirs%1');)").arg(round),
                &ok);
            QVERIFY(ok);
            TempDatabase::addUnit(QStringLiteral("ours%1").arg(round));
            QCOMPARE(heldLocks(), locks);
            const QString names = test::runSqliteTool(
                db.path, QStringLiteral(R"(SELECT group_concat("Name", ',') FROM "Master";)"), &ok);
            QVERIFY(ok);
            QVERIFY2(names.contains(QStringLiteral("theirs%1").arg(round)) &&
                         names.contains(QStringLiteral("ours%1").arg(round)),
                     qPrintable(names));
        }
    }

    // File dialogs are made in one place only, so that none can forget what keeps them safe.
    void noFileDialogMadeElsewhere() {
        const QRegularExpression maker(QStringLiteral(
            R"(\bQFileDialog\s*(::\s*get\w+|\()|new\s+QFileDialog\b|\bQFileSystemModel\b|)"
            R"(\bQFileIconProvider\s*\(|mimeTypeForFile\s*\([^)]*\)(?!.*MatchExtension))"));
        const QString root = QStringLiteral(KAVIO_SOURCE_DIR);
        QStringList found;
        int scanned = 0;
        for (const char* folder : {"app", "command", "common", "editors", "lcd", "scheduler",
                                   "service", "store", "tools"}) {
            QDirIterator files(root + QLatin1Char('/') + QLatin1String(folder), {"*.cpp", "*.h"},
                               QDir::Files, QDirIterator::Subdirectories);
            while (files.hasNext()) {
                const QString path = files.next();
                if (path.contains(QStringLiteral("/common/FileDialogs.")))
                    continue;
                QFile file(path);
                QVERIFY(file.open(QIODevice::ReadOnly));
                ++scanned;
                const QString text = QString::fromUtf8(file.readAll());
                if (maker.match(text).hasMatch())
                    found << path.mid(root.size() + 1);
            }
        }
        QVERIFY(scanned > 100);
        QVERIFY2(found.isEmpty(), qPrintable(found.join(QLatin1Char(' '))));
        // The pattern itself finds what it is meant to find.
        QVERIFY(maker.match(QStringLiteral("auto* d = new QFileDialog(this);")).hasMatch());
        QVERIFY(maker.match(QStringLiteral("QFileDialog::getSaveFileName(this)")).hasMatch());
    }
};

QTEST_MAIN(TestFileDialogs)
#include "test_file_dialogs.moc"
