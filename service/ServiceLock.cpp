#include "ServiceLock.h"

#include "ServiceLog.h"

#include <QDir>
#include <QLockFile>

namespace kavio::service {

ServiceLock::ServiceLock(const QString& databasePath)
    : m_names(databasePath) {}

ServiceLock::~ServiceLock() = default;

bool ServiceLock::take(int kavioctlWaitMs) {
    if (!m_names.error().isEmpty()) {
        m_problem = m_names.error();
        return false;
    }
    m_lock = m_names.makeLock();
    if (m_lock->tryLock(0))
        return true;
    qint64 pid = 0;
    QString host, program;
    m_lock->getLockInfo(&pid, &host, &program);
    if (InstanceNames::heldByKavioctl(*m_lock)) {
        logLine(QStringLiteral("Waiting up to %1 s for kavioctl (pid %2) to finish serving the "
                               "units")
                    .arg(kavioctlWaitMs / 1000)
                    .arg(pid));
        if (m_lock->tryLock(kavioctlWaitMs))
            return true;
        m_lock->getLockInfo(&pid, &host, &program);
    }
    const QString who = program == InstanceNames::ServiceProgram ? QStringLiteral("another kaviod")
                        : program == QLatin1String("kavioctl")
                            ? QStringLiteral("kavioctl")
                            : QStringLiteral("the Kavio Control Center");
    m_problem = QStringLiteral("%1 (pid %2) serves the units of this database; one program at a "
                               "time serves them")
                    .arg(who)
                    .arg(pid);
    return false;
}

} // namespace kavio::service
