#include "Assertion.h"

namespace kavio {

AssertionFailure::AssertionFailure(const QString& text, const char* module, int line)
    : Exception(QString::asprintf("%s (%s, line %d)", text.toUtf8().constData(), module, line))
    , m_text(text)
    , m_module(module)
    , m_line(line) {}

} // namespace kavio
