#include "UIPAddrUtils.h"

namespace kavio {
namespace {

constexpr const char* Module = "UIPAddrUtils";
constexpr int MaxAddressLength = 15;
constexpr int PieceWidth = 3;
constexpr int Pieces = 4;
constexpr int NormalizedLength = PieceWidth * Pieces;
constexpr int MaxOctet = 255;

// The pieces are quoted into the messages with one simultaneous substitution, so that a "%1" or
// "%2" inside the address is shown as typed and never taken for a placeholder.
QString withAddress(const char* pattern, const QString& address) {
    return QString::fromLatin1(pattern).arg(address);
}

} // namespace

QString GetPiece(const QString& text, int number, QChar separator) {
    // Works along the text instead of cutting a copy: `start` is where the rest begins.
    qsizetype start = 0;
    QStringView piece;
    for (int n = 0; n < number; ++n) {
        if (start >= text.size())
            return QString();
        qsizetype end = text.indexOf(separator, start);
        if (end < 0)
            end = text.size();
        piece = QStringView(text).mid(start, end - start);
        start = end + 1;
    }
    return piece.toString();
}

int CountChar(const QString& text, QChar character) {
    return int(text.count(character));
}

bool IsAllDigits(const QString& text) {
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

QString NormalizeIPString(const QString& address) {
    if (address.size() > MaxAddressLength)
        throw AssertionFailure(QStringLiteral("Illegal length for IPString![%1(%2)]")
                                   .arg(address, QString::number(address.size())),
                               Module, __LINE__);
    if (CountChar(address, QLatin1Char('.')) != Pieces - 1)
        throw AssertionFailure(withAddress("Must include exactly 3 dots! [%1]", address), Module,
                               __LINE__);

    QString normalized;
    for (int k = 1; k <= Pieces; ++k) {
        QString piece = GetPiece(address, k, QLatin1Char('.'));
        if (piece.isEmpty() || piece.size() > PieceWidth)
            throw IPAddressError(withAddress(
                "IPAddress must include 4 pieces of length 1..3. IPAddressString[%1]", address));
        if (piece.size() > 1 && piece.front() == QLatin1Char('0'))
            throw IPAddressError(
                withAddress("Leading zero not allowed. IPAddressString[%1]", address));
        normalized += piece.rightJustified(PieceWidth, QLatin1Char('0'));
    }
    return normalized;
}

void CheckNormalizedIPString(const QString& normalized, const QString& address) {
    if (normalized.size() != NormalizedLength)
        throw AssertionFailure(QStringLiteral("Illegal length for IPString![%1 (Length:%2) ]")
                                   .arg(address, QString::number(normalized.size())),
                               Module, __LINE__);
    for (int k = 1; k <= Pieces; ++k) {
        const QString triplet = normalized.mid((k - 1) * PieceWidth, PieceWidth);
        if (!IsAllDigits(triplet))
            throw IPAddressError(
                QStringLiteral("%1. IPAddressString[%2]")
                    .arg(QStringLiteral("IP Address contains illegal symbols"), address));
        if (triplet.toInt() > MaxOctet)
            throw IPAddressError(
                withAddress("Triplets must be of range 0..255  IPAddressString[%1]", address));
    }
}

void ValidateIPString(const QString& address) {
    CheckNormalizedIPString(NormalizeIPString(address), address);
}

int IPStringOctet(const QString& address, quint8 octet) {
    const QString normalized = NormalizeIPString(address);
    CheckNormalizedIPString(normalized, address);
    if (octet < 1 || octet > Pieces)
        return 0;
    return normalized.mid((octet - 1) * PieceWidth, PieceWidth).toInt();
}

} // namespace kavio
