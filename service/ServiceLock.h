#pragma once

#include "InstanceNames.h"

#include <QString>
#include <memory>

class QLockFile;

namespace kavio::service {

// The database file's lock, the one the control center and kavioctl take: whoever holds it
// serves the file's units. The service takes it for as long as it runs; a kavioctl serving the
// units itself is waited for, a control center or another service is not.
class ServiceLock {
public:
    explicit ServiceLock(const QString& databasePath);
    ~ServiceLock();

    // Takes the lock, waiting at most `kavioctlWaitMs` for a kavioctl. On failure `problem()`
    // says who holds the file.
    bool take(int kavioctlWaitMs);
    QString problem() const { return m_problem; }
    const InstanceNames& names() const { return m_names; }

private:
    InstanceNames m_names;
    std::unique_ptr<QLockFile> m_lock;
    QString m_problem;
};

} // namespace kavio::service
