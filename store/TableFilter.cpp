#include "TableFilter.h"

#include "Exception.h"

#include <QRegularExpression>

namespace kavio {
namespace {

[[noreturn]] void refuse(const QString& text, const QString& table, const QString& why) {
    throw DatabaseError(QStringLiteral("Filter \"%1\" on table %2: %3")
                            .arg(text, table + QStringLiteral(".DB"), why));
}

} // namespace

bool TableFilter::matches(const QVariant& fieldValue) const {
    bool ok = false;
    const qint64 number = fieldValue.toLongLong(&ok);
    return ok && number == value.toLongLong();
}

TableFilter TableFilter::parse(const QString& text, const QString& table,
                               const QStringList& columns) {
    if (text.isEmpty())
        return {};

    static const QRegularExpression keyForm(QRegularExpression::anchoredPattern(
        QStringLiteral("(Index|GroupIndex|TimerIndex)=(0|[1-9][0-9]{0,9})")));
    static const QRegularExpression groupForm(
        QRegularExpression::anchoredPattern(QStringLiteral("Group=(True|False)")));

    TableFilter filter;
    if (const auto key = keyForm.match(text); key.hasMatch()) {
        filter.column = key.captured(1);
        filter.value = key.captured(2).toLongLong();
    } else if (const auto group = groupForm.match(text); group.hasMatch()) {
        filter.column = QStringLiteral("Group");
        filter.value = qint64(group.captured(1) == QLatin1String("True") ? 1 : 0);
    } else {
        refuse(text, table, QStringLiteral("not a filter this program understands"));
    }
    if (!columns.contains(filter.column))
        refuse(text, table, QStringLiteral("the table has no field \"%1\"").arg(filter.column));
    return filter;
}

} // namespace kavio
