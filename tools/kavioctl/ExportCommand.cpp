#include "ControlCharacters.h"
#include "CtlCommands.h"
#include "Exception.h"
#include "UnitCsv.h"
#include "UnitDirectory.h"

#include <QSaveFile>
#include <QSet>
#include <QTextStream>

namespace kavio::ctl {
namespace {

const QStringList Header = {QStringLiteral("name"), QStringLiteral("address"),
                            QStringLiteral("port"), QStringLiteral("password"),
                            QStringLiteral("groups")};

QString quoted(const QString& name) {
    return QLatin1Char('"') + escapeControlCharacters(name) + QLatin1Char('"');
}

// The whole file, or an empty text (with the reason on `err`) when the store cannot be written
// as CSV that reads back the same.
bool buildCsv(bool withPasswords, QString& text, QTextStream& err) {
    const std::vector<StoredRecord> records = directory::readStore(withPasswords);
    // A group's name goes into its members' groups column, where ';' separates the names.
    bool refused = false;
    for (const StoredRecord& record : records) {
        if (record.group && record.name.contains(QLatin1Char(';'))) {
            err << "kavioctl: the group " << quoted(record.name)
                << " cannot be exported: ';' separates the group names of a unit, so a group's "
                   "name must not contain it; rename the group first\n";
            refused = true;
        }
    }
    if (refused)
        return false;

    // The import takes no group without units, as the group dialog does not: such a group is
    // left out, so that the file reads back.
    QSet<QString> withMembers;
    for (const StoredRecord& record : records) {
        for (const QString& group : record.groups)
            withMembers.insert(group);
    }
    text = csv::record(Header);
    for (const StoredRecord& record : records) {
        if (record.group) {
            if (withMembers.contains(record.name))
                text += csv::record({record.name, QString(), QString(), QString(), QString()});
            else
                err << "kavioctl: warning: the group " << quoted(record.name)
                    << " has no units and is left out\n";
            continue;
        }
        if (record.address.isEmpty() && record.port.isEmpty())
            err << "kavioctl: warning: the unit " << quoted(record.name)
                << " has no address and no port: its row reads back as a group's\n";
        text += csv::record({record.name, record.address, record.port,
                             withPasswords ? record.password : QString(),
                             record.groups.join(QLatin1Char(';'))});
    }
    return true;
}

} // namespace

int runExport(const QString& outputFile, bool withPasswords, QTextStream& out, QTextStream& err) {
    QString text;
    try {
        if (!buildCsv(withPasswords, text, err))
            return ExitFailed;
    } catch (const Exception& error) {
        err << "kavioctl: " << escapeControlCharacters(error.message()) << '\n';
        return ExitFailed;
    }
    if (outputFile.isEmpty()) {
        out << text;
        return ExitOk;
    }

    // Written beside the target and renamed over it: a failure leaves an old file as it was.
    QSaveFile file(outputFile);
    bool written = file.open(QIODevice::WriteOnly);
    // For the owner's eyes only, from the first byte on: even without passwords the list tells
    // where every switch of the site is.
    if (written)
        written = file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (written) {
        const QByteArray bytes = text.toUtf8();
        written = file.write(bytes) == bytes.size();
    }
    if (!written || !file.commit()) {
        err << "kavioctl: " << escapeControlCharacters(outputFile)
            << ": cannot be written: " << file.errorString() << '\n';
        return ExitFailed;
    }
    return ExitOk;
}

} // namespace kavio::ctl
