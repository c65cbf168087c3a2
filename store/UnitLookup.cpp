#include "UnitLookup.h"

#include "Database.h"
#include "Exception.h"
#include "Schema.h"

#include <QDir>
#include <QSqlError>

namespace kavio {
namespace {

[[noreturn]] void fail(const QString& what) {
    throw DatabaseError(QStringLiteral("Table Master.DB of %1: %2")
                            .arg(QDir::toNativeSeparators(Database::path()), what));
}

} // namespace

std::optional<UnitRecord> UnitLookup::find(quint16 index) {
    if (!m_query) {
        m_query.emplace(Database::connection());
        m_query->setForwardOnly(true);
        if (!m_query->prepare(
                QStringLiteral("SELECT \"Name\", \"IPAddress\", \"Port\", \"Password\", \"Group\" "
                               "FROM \"Master\" WHERE \"Index\" = ? AND %1")
                    .arg(schema::validKeyCondition(QStringLiteral("Index")))))
            fail(QStringLiteral("cannot be read: %1").arg(m_query->lastError().text()));
    }
    m_query->bindValue(0, index);
    if (!m_query->exec())
        fail(QStringLiteral("cannot be read: %1").arg(m_query->lastError().text()));
    if (!m_query->next())
        return std::nullopt;
    UnitRecord unit;
    unit.name = m_query->value(0).toString();
    unit.address = m_query->value(1).toString();
    unit.port = m_query->value(2);
    unit.password = m_query->value(3).toString();
    const QVariant group = m_query->value(4);
    bool ok = true;
    unit.group = !group.isNull() && group.toLongLong(&ok) != 0;
    m_query->finish();
    if (!ok)
        fail(QStringLiteral("field \"Group\" holds \"%1\", which is not a whole number")
                 .arg(group.toString()));
    return unit;
}

} // namespace kavio
