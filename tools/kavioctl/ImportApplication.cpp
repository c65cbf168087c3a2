#include "ImportApplication.h"

#include "ImportPlan.h"
#include "UnitWriter.h"
#include "WriteTransaction.h"

namespace kavio::ctl {

void applyImport(const ImportPlan& plan) {
    WriteTransaction transaction(QStringLiteral("Master.DB"));
    QList<quint16> made;
    made.reserve(plan.groupsToMake().size());
    for (const QString& name : plan.groupsToMake())
        made << writer::makeGroup(name);
    for (qsizetype number = 0; number < plan.unitCount(); ++number) {
        const ImportPlan::PlannedUnit unit = plan.unit(number);
        const quint16 key = writer::makeUnit(unit.fields);
        for (const ImportPlan::GroupRef& group : unit.groups)
            writer::addMember(group.made >= 0 ? made.at(group.made) : group.stored, key);
    }
    transaction.commit();
}

} // namespace kavio::ctl
