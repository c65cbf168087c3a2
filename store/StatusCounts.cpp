#include "StatusCounts.h"

#include "Codes.h"
#include "Database.h"
#include "Schema.h"
#include "SqlRunner.h"

namespace kavio {

std::array<int, 6> unitsByStatus() {
    std::array<int, 6> counts{};
    QSqlQuery query(Database::connection());
    query.setForwardOnly(true);
    if (!tryQuery(query,
                  QStringLiteral("SELECT \"Status\", count(*) FROM \"Master\" WHERE \"Group\" = 0 "
                                 "AND %1 GROUP BY \"Status\"")
                      .arg(schema::validKeyCondition(QStringLiteral("Index")))))
        return counts;
    while (query.next()) {
        const qint64 status = query.value(0).toLongLong();
        counts[size_t(status >= 0 && status < 6 ? status : qint64(StatusUnknown))] +=
            query.value(1).toInt();
    }
    return counts;
}

} // namespace kavio
