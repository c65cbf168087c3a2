#include "CommandFrame.h"

namespace kavio::sim {

qsizetype CommandFrame::feed(QByteArrayView bytes) {
    qsizetype taken = 0;
    while (state_ == State::Incomplete && taken < bytes.size()) {
        take(bytes[taken]);
        ++taken;
        ++consumed_;
        if (state_ == State::Incomplete && consumed_ >= MaxFrameBytes) {
            state_ = State::Invalid;
        }
    }
    return taken;
}

void CommandFrame::take(char byte) {
    switch (expect_) {
    case Expect::FirstEsc:
        if (byte != Esc) {
            state_ = State::Invalid;
            return;
        }
        expect_ = Expect::PasswordOrEsc;
        return;
    case Expect::PasswordOrEsc:
        if (byte == Esc) {
            expect_ = Expect::Letter;
        } else {
            password_.append(byte);
        }
        return;
    case Expect::Letter:
        // ESC or CR in the letter's place can only come from a broken client.
        if (byte == Esc || byte == Cr) {
            state_ = State::Invalid;
            return;
        }
        letter_ = byte;
        expect_ = Expect::FinalCr;
        return;
    case Expect::FinalCr:
        state_ = byte == Cr ? State::Complete : State::Invalid;
        return;
    }
}

QByteArray CommandFrame::encode(const QByteArray& password, char letter) {
    QByteArray frame;
    frame.reserve(password.size() + 4);
    frame.append(Esc).append(password).append(Esc).append(letter).append(Cr);
    return frame;
}

} // namespace kavio::sim
