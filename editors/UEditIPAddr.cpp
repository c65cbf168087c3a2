#include "UEditIPAddr.h"

#include "Assertion.h"
#include "Messages.h"
#include "UIPAddrUtils.h"

#include <QApplication>
#include <QFocusEvent>
#include <QFontInfo>
#include <QFontMetrics>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QRegularExpressionValidator>
#include <QScopedValueRollback>

namespace kavio {
namespace {

constexpr const char* Module = "UEditIPAddr";
constexpr int ControlWidth = 100;
constexpr int ControlHeight = 21;
constexpr int FieldWidth = 21;
constexpr int DotWidth = 3;
constexpr int Step = FieldWidth + DotWidth;
constexpr int Border = 1;
constexpr int OctetDigits = 3;
// Room for the text inside a field: an edit keeps 2 pixels on either side, and the caret needs 1.
constexpr int TextRoom = FieldWidth - 2 * 2 - 1;
constexpr int SmallestPixelSize = 6;

bool isDigitKey(int key) {
    return key >= Qt::Key_0 && key <= Qt::Key_9;
}

// Keys that only move the caret or the selection, or copy: still allowed where a key stroke is
// otherwise refused.
bool movesCaretOnly(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_Up:
    case Qt::Key_Down:
        return true;
    default:
        return event->matches(QKeySequence::Copy) || event->matches(QKeySequence::SelectAll);
    }
}

// Keys that are no input of a field: focus moves, dialog keys and lone modifiers.
bool passesThrough(int key) {
    switch (key) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Meta:
        return true;
    default:
        return false;
    }
}

} // namespace

CEditIPAddr::CEditIPAddr(QWidget* parent)
    : QWidget(parent) {
    resize(ControlWidth, ControlHeight);
    setMinimumWidth(ControlWidth);

    BorderPanel = new QFrame(this);
    BorderPanel->setFrameStyle(QFrame::Box | QFrame::Plain);
    BorderPanel->setLineWidth(Border);
    BorderPanel->setBackgroundRole(QPalette::Base);
    BorderPanel->setAutoFillBackground(true);
    BorderPanel->setCursor(Qt::IBeamCursor);
    BorderPanel->installEventFilter(this);

    const auto* digits =
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this);
    for (int i = 0; i < Fields; ++i) {
        QLineEdit* field = new QLineEdit(BorderPanel);
        field->setProperty("tag", i);
        field->setFrame(false);
        field->setAlignment(Qt::AlignCenter);
        field->setMaxLength(OctetDigits);
        field->setValidator(digits);
        field->setInputMethodHints(Qt::ImhDigitsOnly);
        field->setFocusPolicy(i == 0 ? Qt::StrongFocus : Qt::ClickFocus);
        field->installEventFilter(this);
        connect(field, &QLineEdit::textChanged, this, [this, i] { OctetChange(i); });
        OctetEdits[i] = field;
        if (i < Fields - 1) {
            QLabel* dot = new QLabel(QStringLiteral("."), BorderPanel);
            dot->setProperty("tag", i);
            dot->setTextFormat(Qt::PlainText);
            dot->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            dot->installEventFilter(this);
            DotLabels[i] = dot;
        }
    }

    setFocusPolicy(Qt::NoFocus);
    BorderPanel->setFocusPolicy(Qt::NoFocus);
    setFocusProxy(OctetEdits[0]);
    layoutChildren();
    fitFieldFont();
    connect(qApp, &QApplication::focusChanged, this, &CEditIPAddr::focusChanged);
}

// The fields die with QWidget's destructor, which moves the focus: by then this object is no
// longer a CEditIPAddr, so it must stop hearing of focus changes first.
CEditIPAddr::~CEditIPAddr() {
    disconnect(qApp, &QApplication::focusChanged, this, &CEditIPAddr::focusChanged);
}

void CEditIPAddr::resizeEvent(QResizeEvent*) {
    layoutChildren();
}

// The fields and dots stand side by side against the left edge, as high as the frame inside.
void CEditIPAddr::layoutChildren() {
    BorderPanel->setGeometry(rect());
    const int height = BorderPanel->height() - 2 * Border;
    for (int i = 0; i < Fields; ++i) {
        OctetEdits[i]->setGeometry(Step * i + Border, Border, FieldWidth, height);
        if (i < Fields - 1)
            DotLabels[i]->setGeometry(Step * i + Border + FieldWidth, Border, DotWidth, height);
    }
}

void CEditIPAddr::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange)
        fitFieldFont();
    QWidget::changeEvent(event);
}

// The fields are as narrow as the platform the layout was drawn for, whose dialog font has
// 6-pixel digits. When three digits of the control's font do not fit, the fields take its
// condensed form, then smaller sizes, so that an octet is never cut off.
void CEditIPAddr::fitFieldFont() {
    QFont font = this->font();
    const auto fits = [&font] {
        return QFontMetrics(font).horizontalAdvance(QStringLiteral("000")) <= TextRoom;
    };
    if (!fits())
        font.setStretch(QFont::Condensed);
    int pixels = QFontInfo(font).pixelSize();
    while (!fits() && pixels > SmallestPixelSize)
        font.setPixelSize(--pixels);
    for (QLineEdit* field : OctetEdits)
        field->setFont(font);
}

QString CEditIPAddr::Text() {
    bool allEmpty = true;
    for (QLineEdit* field : OctetEdits)
        allEmpty = allEmpty && field->text().isEmpty();
    if (allEmpty)
        return QString();

    QStringList octets;
    for (int i = 0; i < Fields; ++i) {
        const QString text = OctetEdits[i]->text();
        if (text.isEmpty())
            writeField(i, QStringLiteral("0"));
        else if (!AcceptOctal)
            writeField(i, QString::number(text.toInt()));
        octets << OctetEdits[i]->text();
    }
    return octets.join(QLatin1Char('.'));
}

void CEditIPAddr::setText(const QString& value) {
    if (value.isEmpty()) {
        for (int i = 0; i < Fields; ++i)
            writeField(i, QString());
        return;
    }
    try {
        ValidateIPString(value);
    } catch (const Exception&) {
        throw AssertionFailure(QStringLiteral("Bad IP address string given to component"), Module,
                               __LINE__);
    }
    for (int i = 0; i < Fields; ++i)
        writeField(i, QString::number(IPStringOctet(value, quint8(i + 1))));
    OctetEdits[0]->selectAll();
}

// A text the control writes itself leaves the caret at the start, so it never moves the focus on.
void CEditIPAddr::writeField(int field, const QString& text) {
    QLineEdit* edit = OctetEdits[field];
    if (edit->text() == text)
        return;
    QScopedValueRollback guard(writing, true);
    edit->setText(text);
    edit->setCursorPosition(0);
}

// The caret as the operator sees it: with a selection, its start.
int CEditIPAddr::caret(int field) const {
    const QLineEdit* edit = OctetEdits[field];
    return edit->hasSelectedText() ? edit->selectionStart() : edit->cursorPosition();
}

void CEditIPAddr::focusField(int field) {
    QScopedValueRollback guard(moving, true);
    OctetEdits[field]->setFocus(Qt::OtherFocusReason);
}

bool CEditIPAddr::OctetKeyDown(int i, QKeyEvent* event) {
    int key = event->key();
    if (passesThrough(key))
        return false;
    // The decimal key of the keypad counts as a full stop, whatever the keyboard's locale.
    if ((event->modifiers() & Qt::KeypadModifier) && key == Qt::Key_Comma)
        key = Qt::Key_Period;

    QLineEdit* edit = OctetEdits[i];
    const int position = caret(i);
    if (key == Qt::Key_Right) {
        if (i < Fields - 1 && position == edit->text().size()) {
            focusField(i + 1);
            OctetEdits[i + 1]->setCursorPosition(0);
            return true;
        }
    } else if (key == Qt::Key_Left) {
        if (i > 0 && position == 0) {
            focusField(i - 1);
            OctetEdits[i - 1]->end(false);
            return true;
        }
    } else if (key == Qt::Key_Backspace) {
        if (i > 0 && position == 0) {
            QLineEdit* previous = OctetEdits[i - 1];
            focusField(i - 1);
            if (!previous->text().isEmpty())
                previous->setText(previous->text().chopped(1));
            previous->end(false);
            return true;
        }
    } else if (key == Qt::Key_Period || key == Qt::Key_Space) {
        if (!edit->text().isEmpty() && i < Fields - 1) {
            focusField(i + 1);
            OctetEdits[i + 1]->selectAll();
        }
        return true;
    }

    // Only a digit, Backspace or Delete, typed without Shift, Alt or Control and without the
    // left mouse button held, edits a field. Any other key stroke is refused like a key into a
    // read-only field: nothing is inserted or deleted, but the caret may still move.
    const bool held =
        (event->modifiers() & (Qt::ShiftModifier | Qt::AltModifier | Qt::ControlModifier)) ||
        (QGuiApplication::mouseButtons() & Qt::LeftButton);
    const bool edits = isDigitKey(key) || key == Qt::Key_Backspace || key == Qt::Key_Delete;
    if (!held && edits)
        return false;
    return !movesCaretOnly(event);
}

void CEditIPAddr::OctetChange(int i) {
    QLineEdit* edit = OctetEdits[i];
    const QString text = edit->text();
    bool number = false;
    const int value = text.toInt(&number);
    if (number && value > MaxOctet) {
        writeField(i, QString::number(MaxOctet));
        edit->selectAll();
        Messages::show(MessageKind::Information, QStringLiteral("Information"),
                       text +
                           QStringLiteral(" is not a valid entry. Please specify a value between 0 "
                                          "and 255 for this field."),
                       QMessageBox::Ok, this);
        return;
    }
    if (!writing && edit->hasFocus() && i < Fields - 1 && text.size() == OctetDigits &&
        edit->cursorPosition() == OctetDigits) {
        focusField(i + 1);
        OctetEdits[i + 1]->setCursorPosition(0);
    }
}

void CEditIPAddr::PanelClick() {
    focusField(Fields - 1);
    OctetEdits[Fields - 1]->end(false);
}

void CEditIPAddr::DotClick(int dot) {
    focusField(dot);
    OctetEdits[dot]->end(false);
}

void CEditIPAddr::PanelExit() {
    OctetEdits[0]->selectAll();
}

void CEditIPAddr::focusChanged(QWidget* old, QWidget* now) {
    if (old && now && isAncestorOf(old) && !isAncestorOf(now))
        PanelExit();
}

int CEditIPAddr::fieldOf(QObject* object) const {
    for (int i = 0; i < Fields; ++i) {
        if (OctetEdits[i] == object)
            return i;
    }
    return -1;
}

bool CEditIPAddr::eventFilter(QObject* watched, QEvent* event) {
    const int field = fieldOf(watched);
    switch (event->type()) {
    case QEvent::KeyPress:
        if (field >= 0)
            return OctetKeyDown(field, static_cast<QKeyEvent*>(event));
        break;
    case QEvent::FocusIn: {
        // Focus that reaches the control from outside, other than by a click or the return of
        // the window's activation, lands on field 0 with all of it selected.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (field == 0 && !moving && reason != Qt::MouseFocusReason &&
            reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            OctetEdits[0]->selectAll();
        break;
    }
    case QEvent::MouseButtonRelease: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        auto* widget = static_cast<QWidget*>(watched);
        if (mouse->button() != Qt::LeftButton ||
            !widget->rect().contains(mouse->position().toPoint()))
            break;
        // Handled here, the click does not travel on from a dot to the frame beneath it.
        if (watched == BorderPanel) {
            PanelClick();
            return true;
        }
        if (field < 0) {
            DotClick(watched->property("tag").toInt());
            return true;
        }
        break;
    }
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace kavio
