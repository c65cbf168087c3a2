// Where the lock and the sockets live, and who may answer there: nobody but this user.
#include "InstanceNames.h"
#include "LocalListener.h"
#include "PrivateFolder.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

using namespace kavio;

namespace {

constexpr uid_t Nobody = 65534;

bool makeFolder(const QString& path, mode_t mode) {
    return QDir().mkpath(path) && ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

} // namespace

class TestPrivateFolder : public QObject {
    Q_OBJECT

    QTemporaryDir scratch;

private slots:
    void initTestCase() { QVERIFY(scratch.isValid()); }

    void onlyAFolderOfThisUserAloneIsPrivate_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("0700") << "0700"
                              << "";
        QTest::newRow("group may enter") << "0710"
                                         << "can be reached by other users";
        QTest::newRow("others may read") << "0704"
                                         << "can be reached by other users (mode 0704";
        QTest::newRow("no search right") << "0600"
                                         << "can be reached by other users";
        QTest::newRow("link to a private folder") << "link"
                                                  << "is a symbolic link";
        QTest::newRow("a file") << "file"
                                << "is not a folder";
        QTest::newRow("missing") << "missing"
                                 << "does not exist";
        QTest::newRow("another user's") << "other"
                                        << "belongs to another user";
    }

    void onlyAFolderOfThisUserAloneIsPrivate() {
        QFETCH(QString, kind);
        QFETCH(QString, refusal);
        const QString path = scratch.filePath(QString::fromLatin1(QTest::currentDataTag()));
        if (kind.startsWith(QLatin1Char('0'))) {
            QVERIFY(makeFolder(path, mode_t(kind.toUInt(nullptr, 8))));
        } else if (kind == QLatin1String("link")) {
            QVERIFY(makeFolder(scratch.filePath(QStringLiteral("target")), 0700));
            QVERIFY(QFile::link(scratch.filePath(QStringLiteral("target")), path));
        } else if (kind == QLatin1String("file")) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
        } else if (kind == QLatin1String("other")) {
            if (::geteuid() != 0)
                QSKIP("only root can give a folder to another user");
            QVERIFY(makeFolder(path, 0700));
            QCOMPARE(::chown(QFile::encodeName(path).constData(), Nobody, Nobody), 0);
        }
        QString why;
        QCOMPARE(PrivateFolder::isPrivate(path, &why), refusal.isEmpty());
        QVERIFY2(why.contains(refusal), qPrintable(why));
    }

    // A runtime folder that is not private is passed over for one of the user's own, made 0700.
    // The lock is then named the same for every name of the file, hard links included.
    void unsafeRuntimeFolderIsPassedOver() {
        const QString shared = scratch.filePath(QStringLiteral("shared"));
        QVERIFY(makeFolder(shared, 0777));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(shared));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(scratch.filePath(QStringLiteral("cache"))));
        const QString folder = PrivateFolder::runtime();
        QVERIFY(!folder.isEmpty());
        QVERIFY(folder != shared);
        QVERIFY(PrivateFolder::isPrivate(folder));
        if (!QFileInfo::exists(QStringLiteral("/run/user/%1").arg(::geteuid())))
            QCOMPARE(folder, scratch.filePath(QStringLiteral("cache/KavioCC/run")));

        const QString db = scratch.filePath(QStringLiteral("KavioCC.db"));
        QFile file(db);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        const QString hardLink = scratch.filePath(QStringLiteral("other-name.db"));
        QCOMPARE(::link(QFile::encodeName(db).constData(), QFile::encodeName(hardLink).constData()),
                 0);
        const InstanceNames names(db);
        QVERIFY(names.error().isEmpty());
        QVERIFY(names.lockPath().startsWith(folder + QLatin1Char('/')));
        QCOMPARE(InstanceNames(hardLink).lockPath(), names.lockPath());
        QFile copy(scratch.filePath(QStringLiteral("copy.db")));
        QVERIFY(file.copy(copy.fileName()));
        QVERIFY(InstanceNames(copy.fileName()).lockPath() != names.lockPath());
        // Files not made yet, in a folder not made yet: each its own name, and the same name
        // however the path is spelt.
        const QString later = scratch.filePath(QStringLiteral("later/a.db"));
        QVERIFY(InstanceNames::keyFor(later) !=
                InstanceNames::keyFor(scratch.filePath(QStringLiteral("later/b.db"))));
        QCOMPARE(InstanceNames::keyFor(scratch.filePath(QStringLiteral("later/../later/./a.db"))),
                 InstanceNames::keyFor(later));
        qunsetenv("XDG_CACHE_HOME");
        qunsetenv("XDG_RUNTIME_DIR");
    }

    // Whoever answers on a socket is trusted only when it runs as this user: a server started by
    // another user (in a folder that user could write) is not, and a knock there reaches no one.
    void onlyThisUsersServerIsTrusted() {
        LocalListener own(scratch.filePath(QStringLiteral("own.socket")));
        QVERIFY(own.listen());
        QLocalSocket toOwn;
        toOwn.connectToServer(own.name());
        QVERIFY(toOwn.waitForConnected(5000));
        QVERIFY(peerIsThisUser(toOwn));

        if (::geteuid() != 0)
            QSKIP("only root can start a server as another user");
        // The other user needs a way in to a folder of its own.
        QVERIFY(makeFolder(scratch.path(), 0711));
        const QString open = scratch.filePath(QStringLiteral("open"));
        QVERIFY(makeFolder(open, 0777));
        const QString name = open + QStringLiteral("/impostor.socket");
        QProcess impostor;
        impostor.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        impostor.start(QStringLiteral("setpriv"),
                       {QStringLiteral("--reuid=%1").arg(Nobody),
                        QStringLiteral("--regid=%1").arg(Nobody), QStringLiteral("--clear-groups"),
                        QStringLiteral("/usr/bin/python3"), QStringLiteral("-c"),
                        QStringLiteral("import socket, sys, os, time\n"
                                       "s = socket.socket(socket.AF_UNIX)\n"
                                       "s.bind(sys.argv[1]); os.chmod(sys.argv[1], 0o777)\n"
                                       "s.listen(5); print('up', flush=True); time.sleep(30)\n"),
                        name});
        QVERIFY(impostor.waitForReadyRead(10000));
        QLocalSocket toImpostor;
        toImpostor.connectToServer(name);
        QVERIFY(toImpostor.waitForConnected(5000));
        QVERIFY(!peerIsThisUser(toImpostor));
        impostor.kill();
        impostor.waitForFinished();
    }
};

QTEST_GUILESS_MAIN(TestPrivateFolder)
#include "test_private_folder.moc"
