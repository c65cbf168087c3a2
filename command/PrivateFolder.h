#pragma once

#include <QString>

namespace kavio {

// The folder where the programs on one database find each other: its lock and local sockets.
// Whoever can write there can pose as the control center, so only a folder that belongs to this
// user alone is ever used.
class PrivateFolder {
public:
    // True for a real folder (not a link to one) owned by this user with mode 0700. Otherwise
    // false, with the reason in `why`.
    static bool isPrivate(const QString& path, QString* why = nullptr);

    // The first private folder of: $XDG_RUNTIME_DIR, /run/user/UID (what a login session would
    // set, so a cron job finds the desktop's control center), and a folder of the user's own that
    // is created 0700 when missing (under the cache location, or under the temporary folder when
    // that path is too long for a socket). Empty when none is private, with the reason in `why`.
    static QString runtime(QString* why = nullptr);

    // The longest folder path whose sockets still fit the address of a local socket.
    static constexpr int MaxFolderBytes = 64;
};

} // namespace kavio
