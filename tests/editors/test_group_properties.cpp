#include "EditorsTestSupport.h"
#include "GroupProperties.h"
#include "Messages.h"
#include "TempDatabase.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace kavio;
using test::TempDatabase;

namespace {

QStringList texts(const QListWidget* list) {
    QStringList result;
    for (int row = 0; row < list->count(); ++row)
        result << list->item(row)->text();
    return result;
}

void select(QListWidget* list, const QStringList& names) {
    for (const QString& name : names)
        list->findItems(name, Qt::MatchExactly).value(0)->setSelected(true);
}

// The rows of Group.DB in table order, as "group:unit".
QStringList memberships() {
    TTable table(QStringLiteral("Group.DB"));
    table.open();
    QStringList rows;
    for (; !table.eof(); table.next())
        rows << table.fieldByName(QStringLiteral("GroupIndex")).asString() + u':' +
                    table.fieldByName(QStringLiteral("Index")).asString();
    return rows;
}

void addMember(quint16 group, quint16 unit) {
    TTable table(QStringLiteral("Group.DB"));
    table.open();
    table.append();
    table.fieldByName(QStringLiteral("GroupIndex")).setInteger(group);
    table.fieldByName(QStringLiteral("Index")).setInteger(unit);
    table.post();
}

void deleteRecord(quint16 index) {
    TTable master(QStringLiteral("Master.DB"));
    master.open();
    QVERIFY(master.findKey(index));
    master.deleteRecord();
}

QString row(quint16 group, quint16 unit) {
    return QStringLiteral("%1:%2").arg(group).arg(unit);
}

// Four units, added out of order and in mixed letter case, and one group.
struct Fleet {
    quint16 beta = TempDatabase::addUnit(QStringLiteral("beta"));
    quint16 alpha = TempDatabase::addUnit(QStringLiteral("Alpha"));
    quint16 gamma = TempDatabase::addUnit(QStringLiteral("gamma"));
    quint16 delta = TempDatabase::addUnit(QStringLiteral("Delta"));
    quint16 old = TempDatabase::addGroup(QStringLiteral("Old"));
};

} // namespace

class TestGroupProperties : public QObject {
    Q_OBJECT

private slots:
    void layout() {
        TempDatabase db;
        TGroupPropFRM dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Group Properties"));
        dialog.show();
        QApplication::setActiveWindow(&dialog);
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QCOMPARE(dialog.size(), QSize(450, 420));
        QCOMPARE(dialog.GroupName->width(), 373);
        QCOMPARE(dialog.GroupName->maxLength(), 32);
        QCOMPARE(dialog.Label1->text(), QStringLiteral("Name:"));
        QCOMPARE(dialog.Label2->text(), QStringLiteral("Kavios"));
        QCOMPARE(dialog.Label3->text(), QStringLiteral("Group Members"));
        for (const QLabel* label : {dialog.Label1, dialog.Label2, dialog.Label3})
            QCOMPARE(label->textFormat(), Qt::PlainText);
        QCOMPARE(dialog.Button1->text(), QStringLiteral("Add ->"));
        QCOMPARE(dialog.Button2->text(), QStringLiteral("<- Remove"));
        QCOMPARE(dialog.Button3->text(), QStringLiteral("Ok"));
        QCOMPARE(dialog.Button4->text(), QStringLiteral("Cancel"));
        QCOMPARE(dialog.SourceList->selectionMode(), QAbstractItemView::ExtendedSelection);
        QCOMPARE(dialog.GroupList->selectionMode(), QAbstractItemView::ExtendedSelection);
        QVERIFY(dialog.SourceList->geometry().right() < dialog.Button1->x());
        QVERIFY(dialog.Button1->geometry().right() < dialog.GroupList->x());
        QVERIFY(dialog.Button2->y() > dialog.Button1->geometry().bottom());
        QVERIFY(dialog.Label2->geometry().bottom() < dialog.SourceList->y());
        QVERIFY(dialog.Label3->geometry().bottom() < dialog.GroupList->y());
        QCOMPARE(dialog.Label3->x(), dialog.GroupList->x());
        QCOMPARE(dialog.Label2->x(), dialog.SourceList->x());
        QVERIFY(dialog.Button3->y() > dialog.GroupList->geometry().bottom());

        dialog.GroupName->setFocus();
        const QList<QWidget*> order = {dialog.SourceList, dialog.GroupList, dialog.Button1,
                                       dialog.Button2,    dialog.Button3,   dialog.Button4};
        for (QWidget* next : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }

        const int listWidth = dialog.GroupList->width();
        dialog.resize(600, 500);
        QTRY_VERIFY(dialog.GroupList->width() > listWidth);
        // The two lists share the width between them.
        QVERIFY(qAbs(dialog.SourceList->width() - dialog.GroupList->width()) <= 1);
        QCOMPARE(dialog.Button4->geometry().right(), dialog.GroupList->geometry().right());
    }

    // A new group: every unit offered in name order regardless of letter case and with numbers by
    // value, the moved ones fall into their sorted places, OK writes the group and one row per
    // member in name order.
    void newGroup() {
        TempDatabase db;
        Fleet fleet;
        RecordingMessageSink messages;
        const quint16 upper = TempDatabase::addUnit(QStringLiteral("BETA"));
        TempDatabase::addUnit(QStringLiteral("Rack 10"));
        TempDatabase::addUnit(QStringLiteral("rack 9"));
        const quint16 group = fleet.old + 4;
        addMember(group, fleet.beta); // a row left over with the new group's key
        TGroupPropFRM dialog;
        dialog.GroupName->setText(QStringLiteral("left over"));
        dialog.IsNew = true;
        dialog.show();
        QVERIFY(dialog.GroupName->text().isEmpty());
        QCOMPARE(texts(dialog.SourceList),
                 (QStringList{"Alpha", "BETA", "beta", "Delta", "gamma", "rack 9", "Rack 10"}));
        QCOMPARE(TGroupPropFRM::entryIndex(dialog.SourceList, 1), upper);
        QVERIFY(texts(dialog.GroupList).isEmpty());

        select(dialog.SourceList, {"gamma", "Alpha", "Delta"});
        dialog.Button1Click();
        QCOMPARE(texts(dialog.GroupList), (QStringList{"Alpha", "Delta", "gamma"}));
        QCOMPARE(texts(dialog.SourceList), (QStringList{"BETA", "beta", "rack 9", "Rack 10"}));
        QVERIFY(dialog.GroupList->selectedItems().isEmpty());
        QCOMPARE(TGroupPropFRM::entryIndex(dialog.GroupList, 1), fleet.delta);

        const QString name = test::awkwardName();
        dialog.GroupName->setText(name);
        dialog.Button3Click();
        QVERIFY(messages.shown.isEmpty());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(!dialog.isVisible());
        QCOMPARE(test::masterRecord(group).mid(0, 5), (QStringList{name, "", "", "", "1"}));
        QCOMPARE(memberships(), (QStringList{row(group, fleet.alpha), row(group, fleet.delta),
                                             row(group, fleet.gamma)}));
        QCOMPARE(dialog.SourceList->count() + dialog.GroupList->count(), 0);
        QCOMPARE(test::masterRecord(fleet.alpha)[0], QStringLiteral("Alpha"));
    }

    void checks_data() {
        QTest::addColumn<bool>("isNew");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("members");
        QTest::addColumn<QString>("message");
        QTest::newRow("nothing") << true << "" << QStringList{} << "You MUST enter a Group Name";
        QTest::newRow("no name") << true << "" << QStringList{"beta"}
                                 << "You MUST enter a Group Name";
        QTest::newRow("no members")
            << true << "G" << QStringList{} << "There are no Kavios in the group";
        QTest::newRow("unit's name")
            << true << "Alpha" << QStringList{"beta"} << "Name already in use \"Alpha\"";
        QTest::newRow("group's name")
            << true << "Old" << QStringList{"beta"} << "Name already in use \"Old\"";
        QTest::newRow("other case") << true << "alpha" << QStringList{"beta"} << "";
        QTest::newRow("edit, no members")
            << false << "Old" << QStringList{} << "There are no Kavios in the group";
        QTest::newRow("edit takes a unit's name") << false << "Alpha" << QStringList{"beta"} << "";
        QTest::newRow("tab, no members") << true << "G\tH" << QStringList{}
                                         << "The Group Name may not contain control characters";
        QTest::newRow("edited name with DEL")
            << false << "Old\x7f" << QStringList{"beta"}
            << "The Group Name may not contain control characters";
    }

    void checks() {
        QFETCH(bool, isNew);
        QFETCH(QString, name);
        QFETCH(QStringList, members);
        QFETCH(QString, message);
        TempDatabase db;
        Fleet fleet;
        RecordingMessageSink messages;
        TGroupPropFRM dialog;
        if (isNew)
            dialog.IsNew = true;
        else
            dialog.LoadGroup(fleet.old);
        dialog.show();
        dialog.GroupName->setText(name);
        select(dialog.SourceList, members);
        dialog.Button1Click();
        dialog.Button3Click();
        if (message.isEmpty()) {
            QVERIFY(messages.shown.isEmpty());
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
            const quint16 group = isNew ? fleet.old + 1 : fleet.old;
            QCOMPARE(test::masterRecord(group)[0], name);
            QCOMPARE(memberships(), QStringList{row(group, fleet.beta)});
            QCOMPARE(test::recordCount("Master.DB"), isNew ? 6 : 5);
        } else {
            QCOMPARE(messages.shown.size(), 1);
            QCOMPARE(messages.shown[0].kind, MessageKind::Error);
            QCOMPARE(messages.shown[0].text, message);
            QCOMPARE(messages.beeps, QList<Beep>{Beep::Exclamation});
            QVERIFY(dialog.isVisible());
            QCOMPARE(dialog.GroupName->text(), name);
            QCOMPARE(texts(dialog.GroupList), members);
            QCOMPARE(test::recordCount("Master.DB"), 5);
            QCOMPARE(test::masterRecord(fleet.old)[0], QStringLiteral("Old"));
            QVERIFY(memberships().isEmpty());
        }
    }

    // Editing rewrites only the edited group's rows; Cancel writes nothing, and the next display
    // shows the stored state again.
    void editGroup() {
        TempDatabase db;
        Fleet fleet;
        const quint16 second = TempDatabase::addGroup(QStringLiteral("Second"));
        addMember(fleet.old, fleet.beta);
        addMember(second, fleet.beta);
        addMember(fleet.old, fleet.alpha);
        addMember(second, fleet.gamma);
        const QStringList unitBefore = test::masterRecord(fleet.beta);
        RecordingMessageSink messages;
        TGroupPropFRM dialog;

        dialog.LoadGroup(second);
        QVERIFY(!dialog.IsNew);
        dialog.show();
        QCOMPARE(dialog.GroupName->text(), QStringLiteral("Second"));
        QCOMPARE(texts(dialog.GroupList), (QStringList{"beta", "gamma"}));
        QCOMPARE(texts(dialog.SourceList), (QStringList{"Alpha", "Delta"}));
        select(dialog.GroupList, {"beta", "gamma"});
        dialog.Button2Click();
        QCOMPARE(texts(dialog.SourceList), (QStringList{"Alpha", "beta", "Delta", "gamma"}));
        dialog.reject();
        QCOMPARE(dialog.SourceList->count() + dialog.GroupList->count(), 0);

        dialog.LoadGroup(fleet.old);
        dialog.show();
        QCOMPARE(dialog.GroupName->text(), QStringLiteral("Old"));
        QCOMPARE(texts(dialog.GroupList), (QStringList{"Alpha", "beta"}));
        select(dialog.GroupList, {"beta"});
        dialog.Button2Click();
        select(dialog.SourceList, {"Delta"});
        dialog.Button1Click();
        dialog.GroupName->setText(QStringLiteral("Renamed"));
        dialog.Button3Click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(test::masterRecord(fleet.old).mid(0, 5),
                 (QStringList{"Renamed", "", "", "", "1"}));
        QCOMPARE(memberships(),
                 (QStringList{row(second, fleet.beta), row(second, fleet.gamma),
                              row(fleet.old, fleet.alpha), row(fleet.old, fleet.delta)}));
        QCOMPARE(test::masterRecord(fleet.beta), unitBefore);
        QCOMPARE(test::recordCount("Master.DB"), 6);

        dialog.LoadGroup(second);
        dialog.show();
        QCOMPARE(texts(dialog.GroupList), (QStringList{"beta", "gamma"}));
        dialog.Button4->click();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));

        // A hand-edited name beyond the field's limit loads whole and is written back as read.
        const QString longName(40, u'L');
        const quint16 third = TempDatabase::addGroup(longName);
        addMember(third, fleet.beta);
        dialog.LoadGroup(third);
        dialog.show();
        QCOMPARE(dialog.GroupName->text(), longName);
        dialog.Button3Click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(test::masterRecord(third)[0], longName);
        QVERIFY(messages.shown.isEmpty());
    }

    // Members are told apart from the others by key, not by name; rows of deleted units add
    // nothing; a group deleted while its dialog is open is not written.
    void vanishedRecords() {
        TempDatabase db;
        Fleet fleet;
        const quint16 twin = TempDatabase::addUnit(QStringLiteral("beta"));
        addMember(fleet.old, fleet.beta);
        addMember(fleet.old, fleet.gamma);
        RecordingMessageSink messages;
        TGroupPropFRM dialog;
        dialog.LoadGroup(fleet.old);
        dialog.show();
        QCOMPARE(texts(dialog.GroupList), (QStringList{"beta", "gamma"}));
        QCOMPARE(texts(dialog.SourceList), (QStringList{"Alpha", "beta", "Delta"}));
        QCOMPARE(TGroupPropFRM::entryIndex(dialog.SourceList, 1), twin);
        dialog.reject();

        deleteRecord(fleet.beta);
        deleteRecord(fleet.gamma);
        dialog.LoadGroup(fleet.old);
        dialog.show();
        QVERIFY(texts(dialog.GroupList).isEmpty());
        dialog.Button3Click();
        QCOMPARE(messages.shown.size(), 1);
        QCOMPARE(messages.shown[0].text, QStringLiteral("There are no Kavios in the group"));

        select(dialog.SourceList, {"Alpha"});
        dialog.Button1Click();
        deleteRecord(fleet.old);
        const QStringList rows = memberships();
        dialog.Button3Click();
        QCOMPARE(messages.shown.size(), 2);
        QCOMPARE(messages.shown[1].text,
                 QStringLiteral("Could Not Locate the Group in the Database"));
        QCOMPARE(messages.beeps, QList<Beep>(2, Beep::Exclamation));
        QVERIFY(dialog.isVisible());
        QCOMPARE(memberships(), rows);
        QCOMPARE(test::recordCount("Master.DB"), 3);
    }

    // exec() ends with Accepted only after a save: Enter is OK, Escape cancels, and every
    // opening starts at the name.
    void modal() {
        TempDatabase db;
        Fleet fleet;
        RecordingMessageSink messages;
        TGroupPropFRM dialog;
        dialog.IsNew = true;
        bool refusedEmpty = false;
        QTimer::singleShot(0, &dialog, [&] {
            dialog.GroupName->setText(QStringLiteral("G"));
            QTest::keyClick(dialog.GroupName, Qt::Key_Return);
            refusedEmpty = dialog.isVisible() && messages.shown.size() == 1 &&
                           messages.shown[0].text == "There are no Kavios in the group";
            select(dialog.SourceList, {"beta"});
            dialog.Button1->click();
            dialog.SourceList->setFocus();
            QTest::keyClick(dialog.SourceList, Qt::Key_Escape);
        });
        QCOMPARE(dialog.exec(), int(QDialog::Rejected));
        QVERIFY(refusedEmpty);
        QVERIFY(memberships().isEmpty());

        QWidget* focused = nullptr;
        QTimer::singleShot(0, &dialog, [&] {
            focused = dialog.focusWidget();
            dialog.GroupName->setText(QStringLiteral("G"));
            select(dialog.SourceList, {"beta"});
            dialog.Button1->click();
            QTest::keyClick(dialog.GroupList, Qt::Key_Enter);
        });
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        QCOMPARE(focused, dialog.GroupName);
        QCOMPARE(memberships(), QStringList{row(fleet.old + 1, fleet.beta)});
        QCOMPARE(messages.shown.size(), 1);
    }
};

QTEST_MAIN(TestGroupProperties)
#include "test_group_properties.moc"
