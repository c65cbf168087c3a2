#pragma once

#include <QObject>
#include <QStringList>

namespace kavio::lcd {

// The animation script of a dot-matrix display: one line of commands per animation tick
// (see ScriptParser.h for the syntax and TLCDScreen::AnimationTick for how it runs). The
// display holds a reference to it; destroying the animator clears that reference.
class TLCDAnimator : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString About READ About WRITE setAbout STORED false)
    Q_PROPERTY(QStringList Code READ Code WRITE setCode)
    Q_PROPERTY(bool CodeErrorFound READ CodeErrorFound WRITE setCodeErrorFound)
    Q_PROPERTY(qint16 CurrentLine READ CurrentLine WRITE setCurrentLine)

public:
    explicit TLCDAnimator(QObject* parent = nullptr);

    QString About() const;
    // A label for form designers; it cannot be changed.
    void setAbout(const QString&) {}

    const QStringList& Code() const { return m_code; }
    void setCode(const QStringList& code) { m_code = code; }

    // Set by a script checker when the code has syntax errors; the running system never sets it.
    bool CodeErrorFound() const { return m_codeErrorFound; }
    void setCodeErrorFound(bool found) { m_codeErrorFound = found; }

    // Index (from 0) of the script line the next tick runs. A value beyond the number of lines
    // is pulled back to the last line; the number of lines itself is kept, as gotoline relies
    // on it to make the next tick run the last line.
    qint16 CurrentLine() const { return m_currentLine; }
    void setCurrentLine(qint16 line);

signals:
    // Raised after every script line, with the line number after the line's commands.
    void OnLineExecuted(kavio::lcd::TLCDAnimator* Sender, quint16 LineNumber);
    // Raised after the last script line has run.
    void OnEndCode(kavio::lcd::TLCDAnimator* Sender);

private:
    QStringList m_code;
    bool m_codeErrorFound = false;
    qint16 m_currentLine = 0;
};

} // namespace kavio::lcd
