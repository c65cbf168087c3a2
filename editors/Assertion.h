#pragma once

#include "Exception.h"

#include <QString>

namespace kavio {

// A failed programming check. Its message follows the one pattern every check of the system
// uses, "%s (%s, line %d)": the text of the check, the module that made it and the line of the
// check in that module's source.
class AssertionFailure : public Exception {
public:
    AssertionFailure(const QString& text, const char* module, int line);

    const QString& text() const { return m_text; }
    const char* module() const { return m_module; }
    int line() const { return m_line; }

private:
    QString m_text;
    const char* m_module;
    int m_line;
};

} // namespace kavio
