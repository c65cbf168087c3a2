#include "SpinEdit.h"

#include <algorithm>

namespace kavio {
namespace {

// More digits than this can only be beyond any bound used here.
constexpr int DigitsRead = 9;

bool digitsOnly(const QString& text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

} // namespace

TSpinEdit::TSpinEdit(int lowest, int highest, QWidget* parent)
    : QSpinBox(parent) {
    setRange(lowest, highest);
    setValue(lowest);
}

QValidator::State TSpinEdit::validate(QString& text, int&) const {
    return digitsOnly(text) ? QValidator::Acceptable : QValidator::Invalid;
}

int TSpinEdit::valueFromText(const QString& text) const {
    if (text.isEmpty())
        return minimum();
    qsizetype lead = 0;
    while (lead < text.size() - 1 && text[lead] == u'0')
        ++lead;
    const QString digits = text.mid(lead);
    if (digits.size() > DigitsRead)
        return maximum();
    bool ok = false;
    const qint64 number = digits.toLongLong(&ok);
    return ok ? int(std::clamp<qint64>(number, minimum(), maximum())) : minimum();
}

void TSpinEdit::fixup(QString& text) const {
    text = textFromValue(valueFromText(text));
}

} // namespace kavio
