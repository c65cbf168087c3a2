// The simulator's socket-free parts: command framing, the Switch state machine, the decisions
// per behaviour, text escapes and the SQL literal.

#include "CommandFrame.h"
#include "CommandResponder.h"
#include "SqlExport.h"
#include "SwitchMachine.h"
#include "TextEscapes.h"
#include "UnitConfig.h"

#include <QTest>

using namespace kavio::sim;

Q_DECLARE_METATYPE(kavio::sim::CommandFrame::State)

class TestUnitSimLogic : public QObject {
    Q_OBJECT

private slots:
    void frameParsesWholeCommands_data();
    void frameParsesWholeCommands();
    void frameSplitAtEveryPosition();
    void frameLeavesBytesAfterTheCommand();
    void frameRefusesEndlessInput();
    void frameEncoding();
    void switchRemembersItsStateAcrossCycles();
    void responderChecksThePasswordFirst();
    void responderCycleCountsAcrossLetters();
    void escapes_data();
    void escapes();
    void malformedEscapes_data();
    void malformedEscapes();
    void escapeBytesForTheLog();
    void behaviourNamesRoundTrip();
    void sqlLiteralDoublesQuotes();
};

void TestUnitSimLogic::frameParsesWholeCommands_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<CommandFrame::State>("state");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<char>("letter");

    using S = CommandFrame::State;
    QTest::newRow("query") << QByteArray("\x1bsecret\x1bq\r") << S::Complete << QByteArray("secret")
                           << 'q';
    QTest::newRow("empty password")
        << QByteArray("\x1b\x1bn\r") << S::Complete << QByteArray() << 'n';
    QTest::newRow("password with CR and NUL") << QByteArray("\x1b\r\0x\x1b"
                                                            "f\r",
                                                            7)
                                              << S::Complete << QByteArray("\r\0x", 3) << 'f';
    QTest::newRow("no CR yet") << QByteArray("\x1bpw\x1bq") << S::Incomplete << QByteArray("pw")
                               << char(0);
    QTest::newRow("nothing") << QByteArray() << S::Incomplete << QByteArray() << char(0);
    QTest::newRow("no leading ESC")
        << QByteArray("pw\x1bq\r") << S::Invalid << QByteArray() << char(0);
    QTest::newRow("LF after letter")
        << QByteArray("\x1bpw\x1bq\n") << S::Invalid << QByteArray("pw") << 'q';
    QTest::newRow("ESC as letter")
        << QByteArray("\x1bpw\x1b\x1b\r") << S::Invalid << QByteArray("pw") << char(0);
}

void TestUnitSimLogic::frameParsesWholeCommands() {
    QFETCH(QByteArray, bytes);
    QFETCH(CommandFrame::State, state);
    QFETCH(QByteArray, password);
    QFETCH(char, letter);

    CommandFrame frame;
    frame.feed(bytes);
    QCOMPARE(frame.state(), state);
    if (state == CommandFrame::State::Complete) {
        QCOMPARE(frame.password(), password);
        QCOMPARE(frame.letter(), letter);
    }
}

void TestUnitSimLogic::frameSplitAtEveryPosition() {
    const QByteArray bytes("\x1bkey\x1bp\r");
    for (qsizetype cut = 0; cut <= bytes.size(); ++cut) {
        CommandFrame frame;
        QCOMPARE(frame.feed(bytes.left(cut)), cut);
        QCOMPARE(frame.state(), cut == bytes.size() ? CommandFrame::State::Complete
                                                    : CommandFrame::State::Incomplete);
        frame.feed(bytes.mid(cut));
        QCOMPARE(frame.state(), CommandFrame::State::Complete);
        QCOMPARE(frame.password(), QByteArray("key"));
        QCOMPARE(frame.letter(), 'p');
    }
}

void TestUnitSimLogic::frameLeavesBytesAfterTheCommand() {
    CommandFrame frame;
    QCOMPARE(frame.feed("\x1b\x1bq\rmore"), 4);
    QCOMPARE(frame.state(), CommandFrame::State::Complete);
    QCOMPARE(frame.feed("again"), 0);
    QCOMPARE(frame.letter(), 'q');
}

void TestUnitSimLogic::frameRefusesEndlessInput() {
    CommandFrame frame;
    const QByteArray start("\x1b");
    frame.feed(start);
    const QByteArray filler(CommandFrame::MaxFrameBytes - 2, 'a');
    frame.feed(filler);
    QCOMPARE(frame.state(), CommandFrame::State::Incomplete);
    frame.feed("b");
    QCOMPARE(frame.state(), CommandFrame::State::Invalid);
    // Nothing more is taken, so the password cannot grow any further.
    QCOMPARE(frame.feed("\x1bq\r"), 0);
}

void TestUnitSimLogic::frameEncoding() {
    QCOMPARE(CommandFrame::encode("pw", 'c'), QByteArray("\x1bpw\x1b"
                                                         "c\r"));
    QCOMPARE(CommandFrame::encode({}, 'q'), QByteArray("\x1b\x1bq\r"));
    QCOMPARE(CommandFrame::encode({}, 'q').size(), 4);
}

void TestUnitSimLogic::switchRemembersItsStateAcrossCycles() {
    SwitchMachine machine(2);
    QVERIFY(!machine.isOn());
    QCOMPARE(machine.handle('p'), QByteArray("CYCLE"));
    QVERIFY(machine.isCycling());
    QVERIFY(!machine.isOn());
    // A reboot during the pulse settles the pulse (off) and ends on itself.
    QCOMPARE(machine.handle('r'), QByteArray("CYCLE"));
    QVERIFY(!machine.isOn());
    QCOMPARE(machine.handle('q'), QByteArray("CYCLE"));
    QCOMPARE(machine.handle('q'), QByteArray("ON"));
    QVERIFY(machine.isOn());
    QVERIFY(!machine.isCycling());
    QCOMPARE(machine.handle('n'), QByteArray("ON"));
    QCOMPARE(machine.handle('?'), QByteArray());
    QVERIFY(machine.isOn());
}

void TestUnitSimLogic::responderChecksThePasswordFirst() {
    UnitConfig config;
    config.password = QByteArray("pw");
    CommandResponder responder(config);
    QCOMPARE(responder.respond("nope", 'n').outcome, Outcome::WrongPassword);
    // A refused command does not touch the power state.
    QVERIFY(!responder.switchMachine().isOn());
    const Response accepted = responder.respond("pw", 'n');
    QCOMPARE(accepted.outcome, Outcome::Answered);
    QCOMPARE(accepted.reply, QByteArray("ON"));
    QVERIFY(responder.switchMachine().isOn());

    config.behaviour = Behaviour::Slow;
    config.delayMs = 250;
    CommandResponder slow(config);
    const Response late = slow.respond("pw", 'q');
    QCOMPARE(late.outcome, Outcome::Answered);
    QCOMPARE(late.reply, QByteArray("OFF"));
    QCOMPARE(late.delayMs, 250);
}

void TestUnitSimLogic::responderCycleCountsAcrossLetters() {
    UnitConfig config;
    config.behaviour = Behaviour::Cycle;
    config.cycles = 3;
    config.password = QByteArray("pw");
    CommandResponder responder(config);
    QCOMPARE(responder.respond("pw", 'n').reply, QByteArray("CYCLE"));
    // Refused commands are not exchanges the unit answered.
    QCOMPARE(responder.respond("xx", 'q').outcome, Outcome::WrongPassword);
    QCOMPARE(responder.respond("pw", 'f').reply, QByteArray("CYCLE"));
    QCOMPARE(responder.respond("pw", 'q').reply, QByteArray("CYCLE"));
    QCOMPARE(responder.respond("pw", 'q').reply, QByteArray("ON"));
    QCOMPARE(responder.respond("pw", 'c').reply, QByteArray("ON"));
}

void TestUnitSimLogic::escapes_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("plain") << "ON" << QByteArray("ON");
    QTest::newRow("CR LF") << "on\\r\\n" << QByteArray("on\r\n");
    QTest::newRow("tab, ESC, backslash") << "a\\tb\\e\\\\" << QByteArray("a\tb\x1b\\");
    QTest::newRow("NUL") << "\\0x" << QByteArray("\0x", 2);
    QTest::newRow("hex") << "\\x4f\\x4BZ" << QByteArray("OKZ");
    QTest::newRow("UTF-8") << QString::fromUtf8("\xc3\xa9") << QByteArray("\xc3\xa9");
}

void TestUnitSimLogic::escapes() {
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    const auto result = unescapeText(text);
    QVERIFY(result.has_value());
    QCOMPARE(*result, bytes);
}

void TestUnitSimLogic::malformedEscapes_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("trailing backslash") << "on\\";
    QTest::newRow("unknown escape") << "\\q";
    QTest::newRow("short hex") << "\\x4";
    QTest::newRow("bad hex") << "\\xzz";
}

void TestUnitSimLogic::malformedEscapes() {
    QFETCH(QString, text);
    QVERIFY(!unescapeText(text).has_value());
}

void TestUnitSimLogic::escapeBytesForTheLog() {
    QCOMPARE(escapeBytes("on\r\n"), QStringLiteral("on\\r\\n"));
    QCOMPARE(escapeBytes(QByteArray("\x1b\xff\\", 3)), QStringLiteral("\\x1b\\xff\\\\"));
    // What the log shows can be typed back in.
    const QByteArray odd("A\0\x7f\r", 4);
    QCOMPARE(unescapeText(escapeBytes(odd)).value(), odd);
}

void TestUnitSimLogic::behaviourNamesRoundTrip() {
    const QStringList names = behaviourNames();
    QCOMPARE(names.size(), 10);
    for (const QString& name : names) {
        const auto behaviour = behaviourFromName(name);
        QVERIFY2(behaviour.has_value(), qPrintable(name));
        QCOMPARE(behaviourName(*behaviour), name);
    }
    QCOMPARE(behaviourFromName("CLOSE"), Behaviour::CloseAtOnce);
    QVERIFY(!behaviourFromName("closeatonce").has_value());
    QVERIFY(!behaviourFromName("").has_value());
}

void TestUnitSimLogic::sqlLiteralDoublesQuotes() {
    QCOMPARE(sqlLiteral("plain"), QStringLiteral("'plain'"));
    QCOMPARE(sqlLiteral("it's"), QStringLiteral("'it''s'"));
    QCOMPARE(sqlLiteral("''"), QStringLiteral("''''''"));
    QCOMPARE(sqlLiteral(""), QStringLiteral("''"));
}

QTEST_MAIN(TestUnitSimLogic)
#include "test_unitsim_logic.moc"
