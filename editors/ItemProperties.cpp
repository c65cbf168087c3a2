#include "ItemProperties.h"

#include "DialogSupport.h"
#include "Exception.h"
#include "GlobalFunctions.h"
#include "Messages.h"
#include "UEditIPAddr.h"
#include "UIPAddrUtils.h"
#include "UnitRules.h"
#include "UnitWriter.h"
#include "WindowPlacement.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

namespace kavio {
namespace {

constexpr int ClientWidth = 201;
constexpr int ClientHeight = 152;
constexpr int LabelLeft = 8;
constexpr int LabelWidth = 64;
constexpr int EditLeft = 74;
constexpr int RowHeight = 21;
constexpr int NameTop = 16;
constexpr int AddressTop = 42;
constexpr int PortTop = 68;
constexpr int PasswordTop = 94;
constexpr int NameWidth = 119;
constexpr int AddressWidth = 100;
constexpr int PortWidth = 49;
constexpr int PasswordWidth = 89;
constexpr int ButtonTop = 122;
constexpr int ButtonWidth = 65;
constexpr int ButtonHeight = 23;
constexpr int OkLeft = 32;
constexpr int CancelLeft = 104;

static_assert(TItemPropFRM::NameLimit == UnitRules::NameLimit &&
              TItemPropFRM::PortLimit == UnitRules::PortLimit &&
              TItemPropFRM::PasswordLimit == UnitRules::PasswordLimit &&
              TItemPropFRM::MaxPort == UnitRules::MaxPort);

QLabel* makeLabel(const QString& text, int top, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setGeometry(LabelLeft, top, LabelWidth, RowHeight);
    return label;
}

QPushButton* makeButton(const QString& text, int left, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setAutoDefault(false);
    button->setGeometry(left, ButtonTop, ButtonWidth, ButtonHeight);
    return button;
}

} // namespace

TItemPropFRM::TItemPropFRM(QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("Properties"));
    useDialogFont(this);
    setFixedSize(ClientWidth, ClientHeight);

    // Created in tab order: name, the address's fields, port, password, Ok, Cancel.
    Label1 = makeLabel(QStringLiteral("Name:"), NameTop, this);
    KavioName = new QLineEdit(this);
    KavioName->setMaxLength(NameLimit);
    KavioName->setGeometry(EditLeft, NameTop, NameWidth, RowHeight);

    Label2 = makeLabel(QStringLiteral("IP Address:"), AddressTop, this);
    IPAddress = new CEditIPAddr(this);
    IPAddress->setGeometry(EditLeft, AddressTop, AddressWidth, RowHeight);

    Label3 = makeLabel(QStringLiteral("Port:"), PortTop, this);
    Port = new QLineEdit(this);
    Port->setMaxLength(PortLimit);
    Port->setGeometry(EditLeft, PortTop, PortWidth, RowHeight);
    Port->installEventFilter(this);

    Label4 = makeLabel(QStringLiteral("Password:"), PasswordTop, this);
    PasswordEdit = new QLineEdit(this);
    PasswordEdit->setMaxLength(PasswordLimit);
    PasswordEdit->setEchoMode(QLineEdit::Password);
    PasswordEdit->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
    PasswordEdit->setGeometry(EditLeft, PasswordTop, PasswordWidth, RowHeight);

    Button1 = makeButton(QStringLiteral("Ok"), OkLeft, this);
    Button2 = makeButton(QStringLiteral("Cancel"), CancelLeft, this);
    // Enter means OK wherever the focus is; Escape cancels (the dialog's own key).
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &TItemPropFRM::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TItemPropFRM::Button2Click);
}

void TItemPropFRM::ClearFields() {
    setStoredText(KavioName, QString(), NameLimit);
    IPAddress->setText(QString());
    setStoredText(PasswordEdit, QString(), PasswordLimit);
    setStoredText(Port, QString::number(NewRecord::Port), PortLimit);
    IsNew = true;
}

bool TItemPropFRM::LoadItem(quint16 index) {
    QString name, address, port, password;
    {
        const TableScope scope(MasterTable);
        MasterTable.open();
        if (!MasterTable.findKey(index)) {
            showInputFault(this, QStringLiteral("Could not locate the Kavio"));
            return false;
        }
        name = MasterTable.fieldByName(QStringLiteral("Name")).asString();
        address = MasterTable.fieldByName(QStringLiteral("IPAddress")).asString();
        port = MasterTable.fieldByName(QStringLiteral("Port")).asString();
        password = MasterTable.fieldByName(QStringLiteral("Password")).asString();
    }

    setStoredText(KavioName, name, NameLimit);
    setStoredText(Port, port, PortLimit);
    setStoredText(PasswordEdit, password, PasswordLimit);
    // An address the validation refuses (a hand-edited record) is reported and left out, so
    // that the operator can still open the unit and enter a good one.
    try {
        IPAddress->setText(address);
    } catch (const Exception& error) {
        IPAddress->setText(QString());
        reportException(error);
    }
    loadedIndex = index;
    IsNew = false;
    return true;
}

bool TItemPropFRM::checkInput() {
    QStringList fields;
    for (const QLineEdit* field : IPAddress->OctetEdits)
        fields << field->text();
    const UnitRules::Fault fault = UnitRules::checkUnit(
        {KavioName->text(), UnitRules::addressFieldsFault(fields), Port->text(),
         PasswordEdit->text()},
        [this](const QString& name) { return IsNew && NameInUse(MasterTable, name); }, false);
    if (fault) {
        showInputFault(this, fault.message);
        return false;
    }
    return true;
}

void TItemPropFRM::save() {
    const UnitFields unit{KavioName->text(), IPAddress->Text(), Port->text().toInt(),
                          PasswordEdit->text()};
    if (IsNew) {
        writer::makeUnit(unit);
    } else if (!writer::changeUnit(loadedIndex, unit)) {
        showInputFault(this, QStringLiteral("Could not locate the Kavio"));
        return;
    }
    // Written through to the database file itself before the dialog closes.
    MasterTable.flushBuffers();
    accept();
}

void TItemPropFRM::Button1Click() {
    if (checkInput())
        save();
}

void TItemPropFRM::Button2Click() {
    reject();
}

bool TItemPropFRM::PortKeyPress(QKeyEvent* event) {
    const int key = event->key();
    const bool control = event->modifiers() & (Qt::ControlModifier | Qt::AltModifier);
    switch (key) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Delete:
    case Qt::Key_Return: // the dialog's OK
    case Qt::Key_Enter:
    case Qt::Key_Escape: // the dialog's Cancel, though it carries a control character as text
        return false;
    case Qt::Key_Backspace:
        if (!control)
            return false;
        break;
    default:
        break;
    }
    // A key stroke that types a character: printable text, a control character, or a letter key
    // with Control (pasting with Control+V among them).
    const QString text = event->text();
    const bool typesCharacter = !text.isEmpty() || event->matches(QKeySequence::Paste) ||
                                (control && key >= Qt::Key_Space && key <= Qt::Key_AsciiTilde);
    if (!typesCharacter)
        return false;
    const bool digit = !control && text.size() == 1 && text.front() >= QLatin1Char('0') &&
                       text.front() <= QLatin1Char('9');
    if (digit)
        return false;
    Messages::beep(Beep::Default);
    return true;
}

bool TItemPropFRM::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Port && event->type() == QEvent::KeyPress)
        return PortKeyPress(static_cast<QKeyEvent*>(event));
    return QDialog::eventFilter(watched, event);
}

void TItemPropFRM::showEvent(QShowEvent* event) {
    QScreen* display = screen();
    if (display && !event->spontaneous())
        move(display->availableGeometry().center() - rect().center());
    // Each opening starts at the name, whatever had the focus when the dialog last closed.
    if (!event->spontaneous())
        KavioName->setFocus(Qt::OtherFocusReason);
    QDialog::showEvent(event);
    // Never outside the screen, however small or scaled it is.
    WindowPlacement::fitToScreen(this);
}

} // namespace kavio
