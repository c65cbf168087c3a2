#pragma once

#include <QSpinBox>

namespace kavio {

// A number field that takes digits only. While typing, any number of digits is accepted; when
// the field loses the focus (or interpretText() runs) a value outside the range is pulled to the
// nearest bound, and an empty field reads as the lower bound.
class TSpinEdit : public QSpinBox {
    Q_OBJECT
public:
    TSpinEdit(int lowest, int highest, QWidget* parent = nullptr);

protected:
    QValidator::State validate(QString& text, int& position) const override;
    int valueFromText(const QString& text) const override;
    void fixup(QString& text) const override;
};

} // namespace kavio
