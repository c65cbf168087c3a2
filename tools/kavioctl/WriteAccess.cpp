#include "WriteAccess.h"

#include "ControlCharacters.h"
#include "Database.h"
#include "WriteTransaction.h"

#include <QDir>
#include <QTextStream>

namespace kavio::ctl {

bool beginWriting(int waitMs, QTextStream& err) {
    const QString name = escapeControlCharacters(QDir::toNativeSeparators(Database::path()));
    QString problem;
    writeLock::Outcome outcome = writeLock::take(0, problem);
    if (outcome == writeLock::Outcome::Busy && waitMs > 0) {
        err << "kavioctl: waiting up to " << (waitMs + 999) / 1000
            << " s for another program to finish writing to " << name << '\n';
        err.flush();
        outcome = writeLock::take(waitMs, problem);
    }
    if (outcome != writeLock::Outcome::Taken)
        err << "kavioctl: the database " << name
            << " cannot be written now: " << escapeControlCharacters(problem) << '\n';
    return outcome == writeLock::Outcome::Taken;
}

void abandonWriting() {
    writeLock::abandon();
}

} // namespace kavio::ctl
