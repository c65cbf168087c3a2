#include "LCDAnimator.h"

#include <algorithm>
#include <climits>

namespace kavio::lcd {

TLCDAnimator::TLCDAnimator(QObject* parent)
    : QObject(parent) {}

QString TLCDAnimator::About() const {
    return QStringLiteral("About LCDAnimator");
}

void TLCDAnimator::setCurrentLine(qint16 line) {
    if (line == m_currentLine)
        return;
    const qsizetype count = m_code.size();
    if (line > count)
        line = qint16(std::clamp<qsizetype>(count - 1, 0, SHRT_MAX));
    m_currentLine = line;
}

} // namespace kavio::lcd
