#include "CommandEntry.h"

#include <QTest>

using namespace kavio;

class TestCommandEntry : public QObject {
    Q_OBJECT

private slots:
    void letters() {
        const QByteArray expected = "nfrpcq";
        for (quint8 task = 0; task < 6; ++task)
            QCOMPARE(CommandLetterOf(task), expected[task]);
        QCOMPARE(CommandLetterOf(6), char(0));
        QCOMPARE(CommandLetterOf(255), char(0));
    }

    void defaultEntryNamesNoUnit() {
        // Key 0 is never a unit's, so an entry left at its defaults is dropped, never served.
        QCOMPARE(TCommandEntry{}, (TCommandEntry{0, 0}));
    }

    void frame() {
        QCOMPARE(CommandFrame("secret", 'n'), QByteArray("\x1bsecret\x1bn\r"));
        // An empty password still gives the four bytes ESC ESC letter CR.
        QCOMPARE(CommandFrame(QByteArray(), 'q'), QByteArray("\x1b\x1bq\r"));
        QCOMPARE(CommandFrame(QByteArray(), 'q').size(), 4);
        // The password goes out exactly as stored: blanks and non-ASCII bytes included.
        QCOMPARE(CommandFrame(QStringLiteral(" pässwort ").toUtf8(), 'f'),
                 QByteArray("\x1b p\xc3\xa4sswort \x1b"
                            "f\r"));
    }
};

QTEST_GUILESS_MAIN(TestCommandEntry)
#include "test_command_entry.moc"
