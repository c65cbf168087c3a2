#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace kavio {

// The seam through which the program starts other programs: a web page in the desktop's
// browser, or a program with an argument list (never through a shell), not waited for.
// In the program the default starter does the real work; a test installs a recording one.
class ProgramStarter {
public:
    virtual ~ProgramStarter() = default;
    virtual bool openUrl(const QUrl& url) = 0;
    // Starts `program` (looked up on PATH) with `arguments`, detached; false when it could not
    // be started (for example, it is not installed).
    virtual bool startDetached(const QString& program, const QStringList& arguments) = 0;
    // Whether `program` is found on PATH.
    virtual bool installed(const QString& program);
};

class Launcher {
public:
    static bool openUrl(const QUrl& url);
    static bool startDetached(const QString& program, const QStringList& arguments = {});
    static bool installed(const QString& program);

    // Replaces the starter; nullptr restores the real one. The caller keeps ownership.
    static void setStarter(ProgramStarter* starter);
};

// A starter for tests: records every request and answers with `succeeds`, or with false for
// the programs named in `missing`.
class RecordingStarter : public ProgramStarter {
public:
    struct Start {
        QString program;
        QStringList arguments;
    };

    RecordingStarter() { Launcher::setStarter(this); }
    ~RecordingStarter() override { Launcher::setStarter(nullptr); }
    RecordingStarter(const RecordingStarter&) = delete;
    RecordingStarter& operator=(const RecordingStarter&) = delete;

    bool openUrl(const QUrl& url) override {
        urls.append(url);
        return succeeds;
    }
    bool startDetached(const QString& program, const QStringList& arguments) override {
        starts.append({program, arguments});
        return succeeds && !missing.contains(program);
    }
    bool installed(const QString& program) override { return !missing.contains(program); }

    QList<QUrl> urls;
    QList<Start> starts;
    QStringList missing;
    bool succeeds = true;
};

} // namespace kavio
