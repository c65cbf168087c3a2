#include "ImportApplication.h"

#include "ImportPlan.h"
#include "UnitWriter.h"

namespace kavio::ctl {

void applyImport(const ImportPlan& plan) {
    RecordBatch batch;
    QList<quint16> made;
    made.reserve(plan.groupsToMake().size());
    for (const QString& name : plan.groupsToMake())
        made << batch.makeGroup(name);
    for (qsizetype number = 0; number < plan.unitCount(); ++number) {
        const ImportPlan::PlannedUnit unit = plan.unit(number);
        const quint16 key = batch.makeUnit(unit.fields);
        for (const ImportPlan::GroupRef& group : unit.groups)
            batch.addMember(group.made >= 0 ? made.at(group.made) : group.stored, key);
    }
    batch.commit();
}

} // namespace kavio::ctl
