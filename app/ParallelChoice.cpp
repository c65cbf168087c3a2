#include "ParallelChoice.h"

#include "CommandEngine.h"
#include "Messages.h"
#include "QueueSettings.h"
#include "SettingsFile.h"

#include <QAction>
#include <QInputDialog>
#include <QMenu>

namespace kavio {
namespace {} // namespace

ParallelChoice::ParallelChoice(QMenu* pollMenu, QWidget* window)
    : QObject(window)
    , item(pollMenu->addAction(QStringLiteral("Parallel e&xchanges…")))
    , window(window) {
    connect(item, &QAction::triggered, this, &ParallelChoice::ask);
}

void ParallelChoice::setEngine(TCommandEngine* target) {
    engine = target;
    if (!engine)
        return;
    const ParallelSetting setting = readParallelSetting(settingsFile());
    engine->setParallel(setting.exchanges);
    if (!setting.problem.isEmpty())
        Messages::notify(MessageKind::Warning, QStringLiteral("Parallel exchanges"),
                         setting.problem, window);
}

void ParallelChoice::ask() {
    auto* question = new QInputDialog(window);
    question->setAttribute(Qt::WA_DeleteOnClose);
    question->setWindowTitle(QStringLiteral("Parallel exchanges"));
    question->setLabelText(QStringLiteral("Exchanges at once (1 to %1; never two with one unit):")
                               .arg(TCommandEngine::MaxParallel));
    question->setInputMode(QInputDialog::IntInput);
    question->setIntRange(TCommandEngine::MinParallel, TCommandEngine::MaxParallel);
    question->setIntValue(engine ? engine->parallel() : 1);
    connect(question, &QInputDialog::intValueSelected, this, &ParallelChoice::choose);
    question->open();
}

// The choice holds for this run even when the file refuses it.
bool ParallelChoice::choose(int exchanges) {
    if (engine)
        engine->setParallel(exchanges);
    QSettings settings = settingsFile();
    const QString error = writeParallelSetting(settings, exchanges);
    if (!error.isEmpty())
        Messages::notify(MessageKind::Error, QStringLiteral("Parallel exchanges"), error, window);
    else
        emit stored();
    return error.isEmpty();
}

} // namespace kavio
