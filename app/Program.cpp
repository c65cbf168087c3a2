#include "Program.h"

#include "CommandProcessor.h"
#include "Main.h"

#include <QCoreApplication>

namespace kavio {

TKavioProgram::TKavioProgram() {
    KavioCCMain = std::make_unique<TKavioCCMain>();
    // -- the unit dialog, the group dialog, the timer editor and the timer list go here --
    CmndProc = std::make_unique<TCmndProc>();
    KavioCCMain->setCommandProcessor(CmndProc.get());
    // The processor makes a new connection-failure notice for every failure: none is made here.
    // -- the timer runner and the About box go here --

    QObject::connect(KavioCCMain.get(), &TKavioCCMain::closed, qApp, &QCoreApplication::quit,
                     Qt::QueuedConnection);
}

TKavioProgram::~TKavioProgram() = default;

void TKavioProgram::start() {
    KavioCCMain->show();
}

void TKavioProgram::raise() {
    TKavioCCMain* window = KavioCCMain.get();
    if (window->isMinimized())
        window->showNormal();
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace kavio
