#include "BearerToken.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kavio::service {
namespace {

constexpr int MaxTokenFileBytes = 4096;

} // namespace

bool BearerToken::read(const QString& path, QByteArray& token, QString& problem) {
    const int descriptor =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0) {
        problem = QStringLiteral("the token file %1 cannot be read: %2")
                      .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    struct stat info = {};
    QByteArray content;
    if (::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
        problem = QStringLiteral("the token file %1 is not a regular file").arg(path);
    } else if ((info.st_mode & 077) != 0) {
        problem =
            QStringLiteral("the token file %1 can be read by others: make it mode 0600").arg(path);
    } else {
        QFile file;
        if (file.open(descriptor, QIODevice::ReadOnly))
            content = file.read(MaxTokenFileBytes + 1);
        if (file.error() != QFileDevice::NoError)
            problem = QStringLiteral("the token file %1 cannot be read: %2")
                          .arg(path, file.errorString());
        else if (content.size() > MaxTokenFileBytes)
            problem = QStringLiteral("the token file %1 is longer than %2 bytes")
                          .arg(path)
                          .arg(MaxTokenFileBytes);
    }
    ::close(descriptor);
    if (!problem.isEmpty())
        return false;
    token = content.trimmed();
    if (token.isEmpty() || token.contains('\n') || token.contains(' ')) {
        problem = QStringLiteral("the token file %1 holds no token (one line)").arg(path);
        return false;
    }
    return true;
}

bool BearerToken::matches(const QByteArray& authorization, const QByteArray& token) {
    const QByteArray value = authorization.trimmed();
    const qsizetype space = value.indexOf(' ');
    if (space < 0 || value.left(space).compare("Bearer", Qt::CaseInsensitive) != 0)
        return false;
    const QByteArray given = value.mid(space + 1).trimmed();
    // Every byte of the token is looked at, whichever differs; a missing byte reads as NUL.
    if (token.isEmpty())
        return false;
    uint difference = uint(given.size() ^ token.size());
    for (qsizetype at = 0; at < token.size(); ++at)
        difference |= uchar((at < given.size() ? given[at] : '\0') ^ token[at]);
    return difference == 0;
}

} // namespace kavio::service
