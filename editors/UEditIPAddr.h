#pragma once

#include <QString>
#include <QWidget>

class QFrame;
class QKeyEvent;
class QLabel;
class QLineEdit;

namespace kavio {

// A compact input for an IPv4 address: four small fields for the octets, separated by dots,
// inside one frame, so that it looks like a single edit box.
//
// It keeps the operator to digits, moves between the fields the way a typist expects (a dot, a
// space or the arrows at a field's edge, three digits, Backspace at the start of a field) and
// clamps an octet above 255 to 255 with a message. Text joins the four fields into one dotted
// address and splits one back; an address that the IP validation refuses is never written.
class CEditIPAddr : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString Text READ Text WRITE setText)
    Q_PROPERTY(bool AcceptOctal MEMBER AcceptOctal)

public:
    static constexpr int Fields = 4;
    static constexpr int MaxOctet = 255;

    explicit CEditIPAddr(QWidget* parent = nullptr);
    ~CEditIPAddr() override;

    // The dotted address; empty when all four fields are. Reading fills an empty field with "0"
    // and, unless AcceptOctal, rewrites each field as a plain decimal number (007 becomes 7).
    QString Text();
    // Empty empties the fields. Otherwise the address must pass the IP validation, or an
    // AssertionFailure "Bad IP address string given to component" leaves the fields unchanged.
    void setText(const QString& value);

    // When true, reading Text keeps the fields as typed.
    bool AcceptOctal = false;

    // The dots; dot i sits between field i and field i + 1.
    QLabel* DotLabels[3];
    // The frame holding fields and dots, which gives the control its border.
    QFrame* BorderPanel;
    // The octets, left to right. Only field 0 is reached with Tab.
    QLineEdit* OctetEdits[Fields];

    // The handlers of the fields, the frame and the dots.
    bool OctetKeyDown(int field, QKeyEvent* event); // true: the key stroke is consumed
    void OctetChange(int field);
    void PanelClick();
    void DotClick(int dot);
    void PanelExit();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void layoutChildren();
    void fitFieldFont();
    int fieldOf(QObject* object) const;
    int caret(int field) const;
    void focusField(int field);
    void writeField(int field, const QString& text);
    void focusChanged(QWidget* old, QWidget* now);

    bool writing = false;
    bool moving = false;
};

} // namespace kavio
