#include "ControlCharacters.h"
#include "CtlCommands.h"
#include "Database.h"
#include "Exception.h"
#include "ImportApplication.h"
#include "ImportPlan.h"
#include "UnitWriter.h"
#include "WriteAccess.h"
#include "WriteTransaction.h"

#include <QDir>
#include <QTextStream>
#include <algorithm>

namespace kavio::ctl {
namespace {

// The faults of the plan, in the order of their lines, with names and the file name escaped like
// those of `list`.
void report(const ImportPlan& plan, const QString& file, QTextStream& err) {
    const std::vector<ImportPlan::Fault> faults = plan.faults();
    for (const ImportPlan::Fault& fault : faults) {
        QString text = QStringLiteral("kavioctl: ") + file;
        if (fault.line > 0)
            text += QStringLiteral(":%1").arg(fault.line);
        text += QStringLiteral(": ");
        if (fault.column >= 0)
            text += QStringLiteral("field %1: ").arg(ImportPlan::Header[fault.column]);
        err << escapeControlCharacters(text + fault.message) << '\n';
    }
    const qsizetype shown = std::min<qsizetype>(qsizetype(faults.size()), ImportPlan::KeptFaults);
    if (plan.faultCount() > shown)
        err << "kavioctl: " << escapeControlCharacters(file) << ": " << plan.faultCount() - shown
            << " more faults are not shown\n";
}

QString plural(int count, const char* one, const char* many) {
    return QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? one : many));
}

} // namespace

int runImport(const QString& file, bool dryRun, int waitMs, QTextStream& out, QTextStream& err) {
    ImportPlan plan;
    if (!plan.readFile(file)) {
        report(plan, file, err);
        return ExitFailed;
    }
    const auto nothingImported = [&] {
        err << "kavioctl: " << escapeControlCharacters(file) << ": nothing was imported\n";
        return ExitFailed;
    };
    // Written, and read for the checks, under one lock: nobody adds a name in between.
    if (!beginWriting(waitMs, err)) {
        report(plan, file, err);
        return nothingImported();
    }
    bool reported = false;
    try {
        const bool good = plan.check();
        report(plan, file, err);
        reported = true;
        if (good) {
            try {
                applyImport(plan);
            } catch (const StoreFull& full) {
                abandonWriting();
                err << escapeControlCharacters(
                           QStringLiteral("kavioctl: %1: the database has no room for the new "
                                          "records: a new record would get the key %2, above the "
                                          "largest key %3")
                               .arg(file)
                               .arg(full.key())
                               .arg(MaxUnitIndex))
                    << '\n';
                return nothingImported();
            }
        }
        QString problem;
        if (!good || dryRun) {
            abandonWriting();
            if (!good)
                return nothingImported();
        } else if (!writeLock::commit(problem)) {
            abandonWriting();
            err << "kavioctl: the database "
                << escapeControlCharacters(QDir::toNativeSeparators(Database::path()))
                << " cannot be written: " << escapeControlCharacters(problem)
                << "; nothing was imported\n";
            return ExitFailed;
        }
    } catch (const Exception& error) {
        abandonWriting();
        if (!reported)
            report(plan, file, err);
        err << "kavioctl: " << escapeControlCharacters(error.message())
            << "; nothing was imported\n";
        return ExitFailed;
    }
    const int units = int(plan.unitCount());
    const int groups = int(plan.groupsToMake().size());
    out << (dryRun ? "Would import " : "Imported ") << plural(units, "unit", "units") << " and "
        << plural(groups, "group", "groups") << '\n';
    if (!dryRun && units + groups > 0)
        announceStoreChanged();
    return ExitOk;
}

} // namespace kavio::ctl
