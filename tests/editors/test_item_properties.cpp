#include "EditorsTestSupport.h"
#include "ItemProperties.h"
#include "Messages.h"
#include "TempDatabase.h"
#include "UEditIPAddr.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace kavio;
using test::TempDatabase;

namespace {

void fill(TItemPropFRM& dialog, const QString& name, const QStringList& octets, const QString& port,
          const QString& password) {
    dialog.KavioName->setText(name);
    for (int i = 0; i < 4; ++i)
        dialog.IPAddress->OctetEdits[i]->setText(octets[i]);
    dialog.Port->setText(port);
    dialog.PasswordEdit->setText(password);
}

} // namespace

class TestItemProperties : public QObject {
    Q_OBJECT

private slots:
    void layout() {
        TempDatabase db;
        TItemPropFRM dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Properties"));
        QCOMPARE(dialog.size(), QSize(201, 152));
        QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
        QCOMPARE(dialog.IPAddress->geometry(), QRect(74, 42, 100, 21));
        QCOMPARE(dialog.font().pixelSize(), 11);
        const QStringList labels = {"Name:", "IP Address:", "Port:", "Password:"};
        const QList<QLabel*> widgets = {dialog.Label1, dialog.Label2, dialog.Label3, dialog.Label4};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(widgets[i]->text(), labels[i]);
            QCOMPARE(widgets[i]->textFormat(), Qt::PlainText);
        }
        // Every control inside the dialog, none over another.
        const QList<QWidget*> controls = {
            dialog.Label1,    dialog.Label2, dialog.Label3,       dialog.Label4,  dialog.KavioName,
            dialog.IPAddress, dialog.Port,   dialog.PasswordEdit, dialog.Button1, dialog.Button2};
        for (const QWidget* control : controls) {
            QVERIFY(dialog.rect().contains(control->geometry()));
            for (const QWidget* other : controls)
                QVERIFY(control == other || !control->geometry().intersects(other->geometry()));
        }
        QCOMPARE(dialog.Button1->text(), QStringLiteral("Ok"));
        QCOMPARE(dialog.Button2->text(), QStringLiteral("Cancel"));
        QCOMPARE(dialog.KavioName->maxLength(), 32);
        QCOMPARE(dialog.Port->maxLength(), 5);
        QCOMPARE(dialog.PasswordEdit->maxLength(), 10);
        dialog.PasswordEdit->setText(QStringLiteral("abc"));
        QCOMPARE(dialog.PasswordEdit->displayText(), QStringLiteral("***"));

        dialog.show();
        QApplication::setActiveWindow(&dialog);
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        dialog.KavioName->setFocus();
        const QList<QWidget*> order = {dialog.IPAddress->OctetEdits[0],
                                       dialog.Port,
                                       dialog.PasswordEdit,
                                       dialog.Button1,
                                       dialog.Button2,
                                       dialog.KavioName};
        for (QWidget* next : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
    }

    void checks_data() {
        QTest::addColumn<bool>("isNew");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("octets");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("message");
        const QStringList full = {"10", "0", "0", "1"};
        const QStringList empty = {"", "", "", ""};
        QTest::newRow("all empty") << true << "" << empty << ""
                                   << ""
                                   << "You MUST enter a name";
        QTest::newRow("one field empty, port too")
            << true << "A" << QStringList{"1", "2", "3", ""} << ""
            << ""
            << "Invalid IP Address";
        QTest::newRow("field 0 empty") << true << "A" << QStringList{"", "2", "3", "4"} << "80"
                                       << "pw"
                                       << "Invalid IP Address";
        QTest::newRow("port empty") << true << "A" << full << ""
                                    << ""
                                    << "You MUST enter a Port";
        QTest::newRow("port 0") << true << "A" << full << "0"
                                << ""
                                << "Invalid Port Number";
        QTest::newRow("port 65536") << true << "A" << full << "65536"
                                    << ""
                                    << "Invalid Port Number";
        QTest::newRow("port 99999") << true << "A" << full << "99999"
                                    << "pw"
                                    << "Invalid Port Number";
        QTest::newRow("pasted port") << true << "A" << full << "8a"
                                     << "pw"
                                     << "Invalid Port Number";
        QTest::newRow("pasted sign") << true << "A" << full << "+80"
                                     << "pw"
                                     << "Invalid Port Number";
        QTest::newRow("no password") << true << "A" << full << "65535"
                                     << ""
                                     << "You Forgot to enter the Kavio's Password";
        // A control character is refused before the next field is looked at, and before the
        // name test; a blank and the characters beyond it are none.
        QTest::newRow("ESC and CR in the password")
            << true << "Lab" << full << "80"
            << "x\x1b"
               "f\r"
            << "The Password may not contain control characters";
        QTest::newRow("DEL in the password") << true << "A" << full << "80"
                                             << "p\x7f"
                                             << "The Password may not contain control characters";
        QTest::newRow("unit separator in the name")
            << true << "A\x1f" << empty << ""
            << ""
            << "The Name may not contain control characters";
        QTest::newRow("line feed in an edited name")
            << false << "A\nB" << full << "80"
            << "pw"
            << "The Name may not contain control characters";
        QTest::newRow("tilde and beyond") << true << "~\u00e9" << full << "80"
                                          << "~\u00a0"
                                          << "";
        QTest::newRow("name of a group") << true << "Rack" << full << "80"
                                         << "pw"
                                         << "Name already in use \"Rack\"";
        QTest::newRow("name of a unit") << true << "Lab" << full << "80"
                                        << "pw"
                                        << "Name already in use \"Lab\"";
        QTest::newRow("other letter case") << true << "lab" << full << "80"
                                           << "pw"
                                           << "";
        QTest::newRow("trailing blank") << true << "Lab " << full << "80"
                                        << "pw"
                                        << "";
        QTest::newRow("blanks only") << true << "  " << full << "1"
                                     << "pw"
                                     << "";
        QTest::newRow("largest port") << true << "A" << full << "65535"
                                      << "pw"
                                      << "";
        QTest::newRow("edit takes another name") << false << "Rack" << full << "80"
                                                 << "pw"
                                                 << "";
        QTest::newRow("edit keeps the checks") << false << "Rack" << full << "80"
                                               << ""
                                               << "You Forgot to enter the Kavio's Password";
    }

    // The checks run in order, and only the first fault is told; a fault writes nothing.
    void checks() {
        QFETCH(bool, isNew);
        QFETCH(QString, name);
        QFETCH(QStringList, octets);
        QFETCH(QString, port);
        QFETCH(QString, password);
        QFETCH(QString, message);
        TempDatabase db;
        const quint16 lab = TempDatabase::addUnit(QStringLiteral("Lab"));
        TempDatabase::addGroup(QStringLiteral("Rack"));
        const QStringList before = test::masterRecord(lab);

        TItemPropFRM dialog;
        RecordingMessageSink messages;
        if (isNew)
            dialog.ClearFields();
        else
            QVERIFY(dialog.LoadItem(lab));
        QCOMPARE(dialog.IsNew, isNew);
        fill(dialog, name, octets, port, password);
        dialog.Button1Click();

        if (message.isEmpty()) {
            QVERIFY(messages.shown.isEmpty());
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
            QCOMPARE(test::recordCount("Master.DB"), isNew ? 3 : 2);
            const quint16 saved = isNew ? 3 : lab;
            const QStringList record = test::masterRecord(saved);
            QCOMPARE(record.mid(0, 4), (QStringList{name, octets.join(u'.'),
                                                    QString::number(port.toInt()), password}));
            QCOMPARE(record.mid(4, 3), (QStringList{"0", "0", "0"}));
        } else {
            QCOMPARE(messages.shown.size(), 1);
            QCOMPARE(messages.shown[0].kind, MessageKind::Error);
            QCOMPARE(messages.shown[0].text, message);
            QCOMPARE(messages.shown[0].buttons, QMessageBox::Ok);
            QCOMPARE(messages.beeps, QList<Beep>{Beep::Exclamation});
            QVERIFY(dialog.result() != QDialog::Accepted);
            QCOMPARE(test::recordCount("Master.DB"), 2);
            QCOMPARE(test::masterRecord(lab), before);
            QCOMPARE(dialog.KavioName->text(), name);
            QCOMPARE(dialog.Port->text(), port);
        }
    }

    // Names, addresses and passwords go in and come back exactly; an unchanged OK rewrites the
    // same record and adds none.
    void saveAndEdit() {
        TempDatabase db;
        RecordingMessageSink messages;
        TItemPropFRM dialog;
        const QString name = test::awkwardName();
        QCOMPARE(name.size(), 32);
        const QString password = QStringLiteral("p'\"<i>;--\u00e9");
        dialog.ClearFields();
        QCOMPARE(dialog.Port->text(), QStringLiteral("80"));
        dialog.KavioName->setText(name);
        dialog.IPAddress->setText(QStringLiteral("10.0.0.254"));
        dialog.PasswordEdit->setText(password);
        dialog.Button1Click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        const quint16 unit = 1;
        const QStringList stored = test::masterRecord(unit);
        QCOMPARE(stored.mid(0, 4), (QStringList{name, "10.0.0.254", "80", password}));

        dialog.ClearFields();
        QVERIFY(dialog.KavioName->text().isEmpty());
        QVERIFY(dialog.IPAddress->Text().isEmpty());
        QVERIFY(dialog.PasswordEdit->text().isEmpty());
        QVERIFY(dialog.LoadItem(unit));
        QVERIFY(!dialog.IsNew);
        QCOMPARE(dialog.KavioName->text(), name);
        QCOMPARE(dialog.IPAddress->Text(), QStringLiteral("10.0.0.254"));
        QCOMPARE(dialog.Port->text(), QStringLiteral("80"));
        QCOMPARE(dialog.PasswordEdit->text(), password);
        dialog.setResult(QDialog::Rejected);
        dialog.Button1Click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(test::recordCount("Master.DB"), 1);
        QCOMPARE(test::masterRecord(unit), stored);

        QVERIFY(dialog.LoadItem(unit));
        dialog.Port->setText(QStringLiteral("4001"));
        dialog.Button1Click();
        QCOMPARE(test::masterRecord(unit)[2], QStringLiteral("4001"));
        QCOMPARE(test::recordCount("Master.DB"), 1);
        QVERIFY(messages.shown.isEmpty());
    }

    void loadFaults() {
        TempDatabase db;
        RecordingMessageSink messages;
        TItemPropFRM dialog;
        QVERIFY(!dialog.LoadItem(7));
        QCOMPARE(messages.shown.size(), 1);
        QCOMPARE(messages.shown[0].text, QStringLiteral("Could not locate the Kavio"));
        QCOMPARE(messages.beeps, QList<Beep>{Beep::Exclamation});

        // A hand-edited record: a name and password beyond the limits stay whole, a bad address
        // is reported and left out, a missing password must be given.
        const QString longName = QString(40, u'N');
        const quint16 unit =
            TempDatabase::addUnit(longName, QStringLiteral("1.2.3"), 80, QStringLiteral(""));
        messages.shown.clear();
        QVERIFY(dialog.LoadItem(unit));
        QCOMPARE(messages.shown.size(), 1);
        QVERIFY(messages.shown[0].text.contains(
            QStringLiteral("Bad IP address string given to component")));
        QCOMPARE(dialog.KavioName->text(), longName);
        QVERIFY(dialog.IPAddress->Text().isEmpty());
        QVERIFY(dialog.PasswordEdit->text().isEmpty());
        dialog.Button1Click();
        QCOMPARE(messages.shown.last().text, QStringLiteral("Invalid IP Address"));
        dialog.IPAddress->setText(QStringLiteral("1.2.3.4"));
        dialog.Button1Click();
        QCOMPARE(messages.shown.last().text,
                 QStringLiteral("You Forgot to enter the Kavio's Password"));
        dialog.PasswordEdit->setText(QString(12, u'p'));
        QCOMPARE(dialog.PasswordEdit->text().size(), 10);
        dialog.Button1Click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(test::masterRecord(unit).mid(0, 2), (QStringList{longName, "1.2.3.4"}));

        // A unit deleted while its dialog is open is not written back or created anew.
        QVERIFY(dialog.LoadItem(unit));
        TTable master(QStringLiteral("Master.DB"));
        master.open();
        QVERIFY(master.findKey(unit));
        master.deleteRecord();
        master.close();
        messages.shown.clear();
        dialog.setResult(QDialog::Rejected);
        dialog.Button1Click();
        QCOMPARE(messages.shown.size(), 1);
        QCOMPARE(messages.shown[0].text, QStringLiteral("Could not locate the Kavio"));
        QCOMPARE(test::recordCount("Master.DB"), 0);
        QVERIFY(dialog.result() != QDialog::Accepted);
        dialog.ClearFields();
        QCOMPARE(dialog.KavioName->maxLength(), 32);
        QCOMPARE(dialog.PasswordEdit->maxLength(), 10);
    }

    void portKeys() {
        TempDatabase db;
        RecordingMessageSink messages;
        TItemPropFRM dialog;
        dialog.show();
        QApplication::setActiveWindow(&dialog);
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        dialog.Port->clear();
        dialog.Port->setFocus();
        QTest::keyClicks(dialog.Port, QStringLiteral("8a0 -"));
        QCOMPARE(dialog.Port->text(), QStringLiteral("80"));
        QCOMPARE(messages.beeps, QList<Beep>(3, Beep::Default));
        QApplication::clipboard()->setText(QStringLiteral("99"));
        QTest::keyClick(dialog.Port, Qt::Key_V, Qt::ControlModifier);
        QTest::keyClick(dialog.Port, Qt::Key_Insert, Qt::ShiftModifier);
        QCOMPARE(dialog.Port->text(), QStringLiteral("80"));
        QCOMPARE(messages.beeps.size(), 5);
        QTest::keyClick(dialog.Port, Qt::Key_Backspace);
        // A letter key that types nothing (no text, no Control) is left to the field, silently.
        QTest::sendKeyEvent(QTest::Click, dialog.Port, Qt::Key_A, QString(), Qt::NoModifier);
        QTest::keyClick(dialog.Port, Qt::Key_Home);
        QTest::keyClick(dialog.Port, Qt::Key_Delete);
        QTest::keyClick(dialog.Port, Qt::Key_5, Qt::KeypadModifier);
        QCOMPARE(dialog.Port->text(), QStringLiteral("5"));
        QCOMPARE(messages.beeps.size(), 5);
        QVERIFY(messages.shown.isEmpty());
    }

    // Typing and pasting are ways in too: a control character that reaches the name or the
    // password is refused at OK, and nothing is written.
    void controlCharactersTypedOrPasted() {
        TempDatabase db;
        RecordingMessageSink messages;
        TItemPropFRM dialog;
        dialog.ClearFields();
        fill(dialog, QStringLiteral("A"), {"1", "2", "3", "4"}, QStringLiteral("80"),
             QStringLiteral("pw"));
        dialog.show();
        QApplication::setActiveWindow(&dialog);
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        for (const QString& text :
             {QStringLiteral("\x1b"), QStringLiteral("\r"), QStringLiteral("\x7f")})
            QTest::sendKeyEvent(QTest::Click, dialog.KavioName, Qt::Key_unknown, text,
                                Qt::NoModifier);
        QCOMPARE(dialog.KavioName->text(), QStringLiteral("A"));

        const QString command = QStringLiteral("x\x1b"
                                               "f\r");
        QApplication::clipboard()->setText(command);
        dialog.PasswordEdit->clear();
        dialog.PasswordEdit->setFocus();
        QTest::keyClick(dialog.PasswordEdit, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(dialog.PasswordEdit->text(), command);
        dialog.Button1Click();
        QCOMPARE(messages.shown.size(), 1);
        QCOMPARE(messages.shown[0].text,
                 QStringLiteral("The Password may not contain control characters"));
        QCOMPARE(messages.beeps, QList<Beep>{Beep::Exclamation});
        QCOMPARE(dialog.PasswordEdit->text(), command);
        QVERIFY(dialog.isVisible());
        QCOMPARE(test::recordCount("Master.DB"), 0);
    }

    // exec() ends with Accepted only after a save: Enter is OK, Escape cancels and writes
    // nothing, and every opening starts at the name.
    void modal() {
        TempDatabase db;
        RecordingMessageSink messages;
        TItemPropFRM dialog;
        dialog.ClearFields();
        bool stayedOpen = false;
        QTimer::singleShot(0, &dialog, [&] {
            fill(dialog, QStringLiteral("A"), {"1", "2", "3", "4"}, QString(),
                 QStringLiteral("pw"));
            QTest::keyClick(dialog.Port, Qt::Key_Return); // OK, refused: no port
            stayedOpen = dialog.isVisible();
            dialog.Port->setText(QStringLiteral("80"));
            // In the port field too, whose own key handling takes every other character.
            dialog.Port->setFocus();
            QTest::keyClick(dialog.Port, Qt::Key_Escape);
        });
        QCOMPARE(dialog.exec(), int(QDialog::Rejected));
        QVERIFY(stayedOpen);
        QVERIFY(!messages.beeps.contains(Beep::Default)); // no key was refused
        QCOMPARE(test::recordCount("Master.DB"), 0);
        QCOMPARE(messages.shown.size(), 1);
        QCOMPARE(messages.shown[0].text, QStringLiteral("You MUST enter a Port"));

        QWidget* focused = nullptr;
        QTimer::singleShot(0, &dialog, [&] {
            focused = dialog.focusWidget();
            QTest::keyClick(dialog.IPAddress->OctetEdits[3], Qt::Key_Enter);
        });
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        QCOMPARE(focused, dialog.KavioName);
        QCOMPARE(test::recordCount("Master.DB"), 1);
    }
};

QTEST_MAIN(TestItemProperties)
#include "test_item_properties.moc"
