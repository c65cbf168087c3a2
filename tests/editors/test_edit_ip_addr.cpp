#include "Messages.h"
#include "UEditIPAddr.h"
#include "UIPAddrUtils.h"

#include <QApplication>
#include <QClipboard>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

using namespace kavio;

namespace {

const QString ClampText = QStringLiteral(
    " is not a valid entry. Please specify a value between 0 and 255 for this field.");

// A window with an edit before the address control and one after it, shown and active.
struct Form {
    Form() {
        before = new QLineEdit(&window);
        ip = new CEditIPAddr(&window);
        ip->move(0, 30);
        after = new QLineEdit(&window);
        after->move(0, 60);
        window.resize(200, 100);
        window.show();
        QApplication::setActiveWindow(&window);
        active = QTest::qWaitForWindowActive(&window);
    }

    QLineEdit* field(int i) const { return ip->OctetEdits[i]; }
    // The field that has the focus, or -1.
    int focused() const {
        for (int i = 0; i < 4; ++i) {
            if (field(i)->hasFocus())
                return i;
        }
        return -1;
    }
    void setFields(const QStringList& texts) {
        for (int i = 0; i < 4; ++i)
            field(i)->setText(texts[i]);
    }
    // Types each character into whichever widget has the focus at that moment.
    void type(const QString& keys) {
        for (const QChar key : keys)
            QTest::keyClick(QApplication::focusWidget(), key.toLatin1());
    }
    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(QApplication::focusWidget(), key, modifiers);
    }
    void focus(int i, int caret) {
        field(i)->setFocus();
        field(i)->setCursorPosition(caret);
    }

    QWidget window;
    QLineEdit* before;
    CEditIPAddr* ip;
    QLineEdit* after;
    bool active = false;
};

} // namespace

class TestEditIPAddr : public QObject {
    Q_OBJECT

private slots:
    void layout() {
        CEditIPAddr ip;
        QCOMPARE(ip.size(), QSize(100, 21));
        QCOMPARE(ip.minimumWidth(), 100);
        QCOMPARE(ip.BorderPanel->geometry(), QRect(0, 0, 100, 21));
        QCOMPARE(ip.BorderPanel->frameWidth(), 1);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(ip.OctetEdits[i]->geometry(), QRect(24 * i + 1, 1, 21, 19));
            QCOMPARE(ip.OctetEdits[i]->maxLength(), 3);
            QVERIFY(!ip.OctetEdits[i]->hasFrame());
            QCOMPARE(bool(ip.OctetEdits[i]->focusPolicy() & Qt::TabFocus), i == 0);
        }
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(ip.DotLabels[i]->geometry(), QRect(24 * i + 22, 1, 3, 19));
            QCOMPARE(ip.DotLabels[i]->text(), QStringLiteral("."));
        }
    }

    // Three digits always fit a field: a wide font is narrowed for the fields, a small one kept.
    void fieldFont() {
        QWidget parent;
        QFont font;
        font.setPixelSize(24);
        parent.setFont(font);
        CEditIPAddr ip(&parent);
        for (const QLineEdit* field : ip.OctetEdits)
            QVERIFY(QFontMetrics(field->font()).horizontalAdvance(QStringLiteral("000")) <= 16);
        QVERIFY(QFontInfo(ip.OctetEdits[0]->font()).pixelSize() > 6);
        font.setPixelSize(8);
        ip.setFont(font);
        for (const QLineEdit* field : ip.OctetEdits)
            QCOMPARE(field->font(), ip.font());
    }

    void text() {
        CEditIPAddr ip;
        auto fields = [&] {
            QStringList texts;
            for (const QLineEdit* field : ip.OctetEdits)
                texts << field->text();
            return texts;
        };
        QCOMPARE(ip.Text(), QString());
        ip.setText(QStringLiteral("10.0.0.1"));
        QCOMPARE(fields(), QStringList({"10", "0", "0", "1"}));
        QCOMPARE(ip.OctetEdits[0]->selectedText(), QStringLiteral("10"));
        QCOMPARE(ip.OctetEdits[3]->cursorPosition(), 0);
        QCOMPARE(ip.Text(), QStringLiteral("10.0.0.1"));

        for (const QString bad : {"010.0.0.1", "1.2.3", "256.0.0.1", "1.2.3.4 "}) {
            try {
                ip.setText(bad);
                QFAIL("a bad address was written");
            } catch (const AssertionFailure& failure) {
                QCOMPARE(failure.text(),
                         QStringLiteral("Bad IP address string given to component"));
                QCOMPARE(failure.module(), "UEditIPAddr");
            }
            QCOMPARE(fields(), QStringList({"10", "0", "0", "1"}));
        }

        ip.setText(QString());
        QCOMPARE(fields(), QStringList({"", "", "", ""}));
        QCOMPARE(ip.Text(), QString());

        ip.OctetEdits[0]->setText(QStringLiteral("192"));
        ip.OctetEdits[2]->setText(QStringLiteral("1"));
        QCOMPARE(ip.Text(), QStringLiteral("192.0.1.0"));
        QCOMPARE(fields(), QStringList({"192", "0", "1", "0"}));

        ip.OctetEdits[0]->setText(QStringLiteral("007"));
        QCOMPARE(ip.Text(), QStringLiteral("7.0.1.0"));
        QCOMPARE(ip.OctetEdits[0]->text(), QStringLiteral("7"));
        ip.OctetEdits[0]->setText(QStringLiteral("007"));
        ip.AcceptOctal = true;
        QCOMPARE(ip.Text(), QStringLiteral("007.0.1.0"));
        QCOMPARE(ip.OctetEdits[0]->text(), QStringLiteral("007"));
        QVERIFY_THROWS_EXCEPTION(AssertionFailure, ip.setText(ip.Text()));
    }

    void typing() {
        Form form;
        QVERIFY(form.active);
        RecordingMessageSink messages;
        form.focus(0, 0);
        form.type("192");
        QCOMPARE(form.focused(), 1);
        QCOMPARE(form.field(1)->cursorPosition(), 0);
        form.type("168");
        QCOMPARE(form.focused(), 2);
        form.type(".");
        QCOMPARE(form.focused(), 2); // an empty field stays
        form.type("1.");
        QCOMPARE(form.focused(), 3);
        form.type("20.");
        QCOMPARE(form.focused(), 3); // the last field stays
        QCOMPARE(form.ip->Text(), QStringLiteral("192.168.1.20"));

        // Only digits edit a field; other keys are refused and nothing is inserted.
        form.focus(3, 2);
        form.type("a -");
        QTest::keyClick(form.field(3), Qt::Key_1, Qt::ShiftModifier);
        QTest::keyClick(form.field(3), Qt::Key_1, Qt::ControlModifier);
        QTest::keyClick(form.field(3), Qt::Key_1, Qt::AltModifier);
        QApplication::clipboard()->setText(QStringLiteral("5"));
        QTest::keyClick(form.field(3), Qt::Key_V, Qt::ControlModifier);
        // The key decides, not the text it brings (an input method may send a digit this way).
        QTest::sendKeyEvent(QTest::Click, form.field(3), Qt::Key_unknown, QStringLiteral("7"), {});
        QTest::keyClick(form.field(3), Qt::Key_Backspace, Qt::ControlModifier);
        QCOMPARE(form.field(3)->text(), QStringLiteral("20"));
        QCOMPARE(form.focused(), 3);
        form.press(Qt::Key_Home);
        QCOMPARE(form.field(3)->cursorPosition(), 0);
        form.press(Qt::Key_Delete);
        QCOMPARE(form.field(3)->text(), QStringLiteral("0"));

        // Space moves on like the full stop, selecting the next field; the keypad counts too.
        form.ip->setText(QStringLiteral("1.34.5.6"));
        form.focus(0, 1);
        form.type(" ");
        QCOMPARE(form.focused(), 1);
        QCOMPARE(form.field(1)->selectedText(), QStringLiteral("34"));
        form.press(Qt::Key_9, Qt::KeypadModifier);
        QCOMPARE(form.field(1)->text(), QStringLiteral("9"));
        form.press(Qt::Key_Period, Qt::KeypadModifier);
        QCOMPARE(form.focused(), 2);
        form.focus(2, 1);
        form.press(Qt::Key_Comma, Qt::KeypadModifier);
        QCOMPARE(form.focused(), 3);
        QCOMPARE(form.ip->Text(), QStringLiteral("1.9.5.6"));
        QVERIFY(messages.shown.isEmpty());
    }

    void caretKeys() {
        Form form;
        QVERIFY(form.active);
        form.setFields({"12", "168", "5", "7"});
        form.focus(2, 0);
        form.press(Qt::Key_Backspace);
        QCOMPARE(form.focused(), 1);
        QCOMPARE(form.field(1)->text(), QStringLiteral("16"));
        QCOMPARE(form.field(1)->cursorPosition(), 2);
        QCOMPARE(form.field(2)->text(), QStringLiteral("5"));

        form.focus(0, 0);
        form.press(Qt::Key_Backspace);
        QCOMPARE(form.focused(), 0);
        QCOMPARE(form.field(0)->text(), QStringLiteral("12"));
        form.press(Qt::Key_Left);
        QCOMPARE(form.focused(), 0);

        form.focus(1, 0);
        form.press(Qt::Key_Left);
        QCOMPARE(form.focused(), 0);
        QCOMPARE(form.field(0)->cursorPosition(), 2);
        QVERIFY(!form.field(0)->hasSelectedText());
        form.focus(1, 1);
        form.press(Qt::Key_Left);
        QCOMPARE(form.focused(), 1);
        QCOMPARE(form.field(1)->cursorPosition(), 0);

        form.focus(0, 1);
        form.press(Qt::Key_Right);
        QCOMPARE(form.focused(), 0);
        form.press(Qt::Key_Right);
        QCOMPARE(form.focused(), 1);
        QCOMPARE(form.field(1)->cursorPosition(), 0);
        form.focus(3, 1);
        form.press(Qt::Key_Right);
        form.press(Qt::Key_Right);
        QCOMPARE(form.focused(), 3);
        QCOMPARE(form.field(3)->cursorPosition(), 1);

        // Backspace at the start of a field after an empty one only moves back.
        form.setFields({"12", "", "5", "7"});
        form.focus(2, 0);
        form.press(Qt::Key_Backspace);
        QCOMPARE(form.focused(), 1);
        QCOMPARE(form.field(0)->text(), QStringLiteral("12"));
    }

    void clamp() {
        Form form;
        QVERIFY(form.active);
        RecordingMessageSink messages;
        form.focus(0, 0);
        form.type("256");
        QCOMPARE(form.focused(), 0);
        QCOMPARE(form.field(0)->text(), QStringLiteral("255"));
        QCOMPARE(form.field(0)->selectedText(), QStringLiteral("255"));
        QCOMPARE(messages.shown.size(), 1);
        QCOMPARE(messages.shown[0].kind, MessageKind::Information);
        QCOMPARE(messages.shown[0].text, QStringLiteral("256") + ClampText);
        QCOMPARE(messages.shown[0].buttons, QMessageBox::Ok);

        form.focus(3, 0);
        form.type("999");
        QCOMPARE(form.field(3)->text(), QStringLiteral("255"));
        QCOMPARE(messages.shown.last().text, QStringLiteral("999") + ClampText);

        form.field(1)->clear();
        form.focus(1, 0);
        form.type("255");
        QCOMPARE(form.focused(), 2);
        QCOMPARE(messages.shown.size(), 2);
    }

    // Pasting through the field's menu: numbers are taken (and clamped), anything else refused.
    void paste() {
        Form form;
        QVERIFY(form.active);
        RecordingMessageSink messages;
        form.focus(1, 0);
        for (const QString text : {"abc", "1a", "-1", " 7", "\u0663"}) {
            QApplication::clipboard()->setText(text);
            form.field(1)->paste();
            QCOMPARE(form.field(1)->text(), QString());
        }
        QApplication::clipboard()->setText(QStringLiteral("300"));
        form.field(1)->paste();
        QCOMPARE(form.field(1)->text(), QStringLiteral("255"));
        QCOMPARE(messages.shown.size(), 1);
        QCOMPARE(messages.shown[0].text, QStringLiteral("300") + ClampText);
    }

    void focus() {
        Form form;
        QVERIFY(form.active);
        form.ip->setText(QStringLiteral("10.20.30.40"));
        form.field(0)->deselect();
        form.before->setFocus();
        form.press(Qt::Key_Tab);
        QCOMPARE(form.focused(), 0);
        QCOMPARE(form.field(0)->selectedText(), QStringLiteral("10"));
        form.press(Qt::Key_Tab);
        QVERIFY(form.after->hasFocus());
        form.press(Qt::Key_Backtab);
        QCOMPARE(form.focused(), 0);
        form.focus(2, 0);
        form.press(Qt::Key_Tab);
        QVERIFY(form.after->hasFocus());

        // Leaving the control selects all of field 0.
        form.focus(2, 0);
        form.field(0)->deselect();
        form.after->setFocus();
        QCOMPARE(form.field(0)->selectedText(), QStringLiteral("10"));
        form.field(0)->deselect();
        form.ip->setFocus();
        QCOMPARE(form.focused(), 0);
        QCOMPARE(form.field(0)->selectedText(), QStringLiteral("10"));

        QTest::mouseClick(form.ip->DotLabels[1], Qt::LeftButton);
        QCOMPARE(form.focused(), 1);
        QCOMPARE(form.field(1)->cursorPosition(), 2);
        QVERIFY(!form.field(1)->hasSelectedText());
        QTest::mouseClick(form.ip->BorderPanel, Qt::LeftButton, {}, QPoint(97, 10));
        QCOMPARE(form.focused(), 3);
        QCOMPARE(form.field(3)->cursorPosition(), 2);
        QVERIFY(!form.field(3)->hasSelectedText());
        QTest::mouseClick(form.ip->BorderPanel, Qt::RightButton, {}, QPoint(97, 10));
        form.focus(0, 0);
        QTest::mouseClick(form.ip->BorderPanel, Qt::RightButton, {}, QPoint(97, 10));
        QCOMPARE(form.focused(), 0);
    }
};

QTEST_MAIN(TestEditIPAddr)
#include "test_edit_ip_addr.moc"
