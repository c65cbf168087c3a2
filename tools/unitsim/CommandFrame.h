#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace kavio::sim {

// Incremental parser for the one command a client sends per connection:
// ESC, password (any bytes but ESC, possibly none), ESC, letter, CR.
// Bytes may arrive in any number of pieces; feed() them as they come.
class CommandFrame {
public:
    enum class State { Incomplete, Complete, Invalid };

    static constexpr char Esc = 0x1B;
    static constexpr char Cr = 0x0D;
    // A frame longer than this is not a command but junk; refusing it keeps memory bounded.
    static constexpr qsizetype MaxFrameBytes = 4096;

    // Consumes bytes up to the end of the frame and returns how many it took; bytes after a
    // complete frame, or after the frame turned out invalid, are left unconsumed.
    qsizetype feed(QByteArrayView bytes);

    State state() const { return state_; }
    QByteArray password() const { return password_; }
    char letter() const { return letter_; }

    // The bytes a client writes for `letter` with `password`.
    static QByteArray encode(const QByteArray& password, char letter);

private:
    enum class Expect { FirstEsc, PasswordOrEsc, Letter, FinalCr };

    void take(char byte);

    State state_ = State::Incomplete;
    Expect expect_ = Expect::FirstEsc;
    QByteArray password_;
    char letter_ = 0;
    qsizetype consumed_ = 0;
};

} // namespace kavio::sim
