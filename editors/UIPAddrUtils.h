#pragma once

#include "Assertion.h"
#include "Exception.h"

#include <QChar>
#include <QString>

namespace kavio {

// The one place that decides whether a text is an acceptable unit address: strictly dotted
// decimal, exactly three dots, four pieces of one to three digits, no leading zero, each piece at
// most 255. Nothing is trimmed or corrected: a text passes unchanged or is refused.
//
// A text of the wrong shape (too long, not three dots) raises an AssertionFailure; any other
// fault an IPAddressError naming the fault and repeating the text. Both are Exceptions, so a
// caller that only wants yes or no catches Exception.

class IPAddressError : public Exception {
public:
    using Exception::Exception;
};

// Returns when `address` is a valid address; raises the first fault found otherwise.
void ValidateIPString(const QString& address);
// Validates as ValidateIPString does, then gives piece `octet` (1..4) as a number; 0 for any
// other `octet`.
int IPStringOctet(const QString& address, quint8 octet);

// The steps of the two above.

// The four pieces, each padded with leading "0" to three characters: 12 characters.
QString NormalizeIPString(const QString& address);
// Checks the normalised form for digits and range; `address` is only quoted in messages.
void CheckNormalizedIPString(const QString& normalized, const QString& address);
// The `number`-th (1-based) piece of `text` between separators, empty when there are fewer.
QString GetPiece(const QString& text, int number, QChar separator);
int CountChar(const QString& text, QChar character);
// Whether every character is one of the digits 0 to 9 (true for an empty text).
bool IsAllDigits(const QString& text);

} // namespace kavio
