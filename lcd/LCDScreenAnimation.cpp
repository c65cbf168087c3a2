// The display's animation tick: runs the animator's script one line at a time.

#include "LCDScreen.h"

#include "Exception.h"
#include "LCDMarkup.h"
#include "ScriptParser.h"

#include <QLoggingCategory>

#include <algorithm>

namespace kavio::lcd {

Q_LOGGING_CATEGORY(lcdScript, "kavio.lcd.script")

void TLCDScreen::AnimationTick() {
    QPointer<TLCDAnimator> animator = m_animator;
    if (!animator)
        return;

    const QStringList code = animator->Code();
    const qsizetype count = code.size();
    const qint16 current = animator->CurrentLine();
    // A line number that points outside a non-empty script (written by a caller, or a gotoline
    // below -1) is taken as the end of the script: nothing runs and the script starts over.
    const bool outside = count > 0 && (current < 0 || current >= count);

    if (!outside) {
        const QString line = count > 0 ? code.at(current) : QString();
        QList<TScriptCommand> commands;
        try {
            commands = ParseScriptLine(line);
        } catch (const Exception& error) {
            // A malformed line runs none of its commands and stays current, so the next tick
            // tries it again; the tick itself must not fail inside the timer. The display shows
            // nothing of it, so the log is where a script's author finds the fault: once, not
            // at every tick that retries it.
            const QString fault = QStringLiteral("Script line %1 not run: %2: %3")
                                      .arg(current)
                                      .arg(line, error.message());
            if (assign(m_reportedScriptFault, fault))
                qCWarning(lcdScript).noquote() << fault;
            return;
        }
        m_reportedScriptFault.clear();
        for (const TScriptCommand& command : commands)
            executeCommand(*animator, command);
        emit animator->OnLineExecuted(animator, quint16(animator->CurrentLine()));
    }

    if (animator) {
        // The script may have been changed by a handler of OnLineExecuted: count it again.
        if (outside || animator->CurrentLine() == animator->Code().size() - 1) {
            animator->setCurrentLine(0);
            if (!m_animationRepeating)
                setAnimationEnabled(false);
            emit animator->OnEndCode(animator);
        } else {
            animator->setCurrentLine(qint16(animator->CurrentLine() + 1));
        }
    }

    m_blinkPhase = !m_blinkPhase;
    if (m_specialEffects.testFlag(spBlink) && m_displayMode != dmBitmap)
        renderText();
    // The paint wraps the scroll position. A hidden display does not paint, so the tick wraps
    // it instead; otherwise a long-running animation would run the position out of range.
    if (isVisible())
        repaint();
    else
        WrapScroll(composition(), m_scroll);
}

void TLCDScreen::executeCommand(TLCDAnimator& animator, const TScriptCommand& command) {
    const QString& name = command.name;
    const qint32 n = command.argument;
    if (name == u"horzscroll") {
        m_scroll.x += qint8(n);
    } else if (name == u"vertscroll") {
        m_scroll.y += qint8(n);
    } else if (name == u"setintensity") {
        setIntensity(qint8(n));
    } else if (name == u"animationdelay") {
        setAnimationDelay(quint32(n));
    } else if (name == u"gotoline") {
        animator.setCurrentLine(qint16(std::min<qint64>(n, animator.Code().size())));
    } else if (name == u"resetdisplay") {
        m_scroll = {};
        ParseLines(m_lines, m_charGrid);
        renderText();
        changed();
    }
}

} // namespace kavio::lcd
