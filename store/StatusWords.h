#pragma once

#include <QString>

namespace kavio {

// The one vocabulary of the stored status codes. The codes stay as they are stored; every
// program shows them with these words, and a code outside 0..5 (a hand-edited record) reads
// as unknown.
//
//   code  for people (window, tooltips, status bar)   for scripts (kavioctl, API, history)
//   0     on                                          ON
//   1     off                                         OFF
//   2     cycling                                     CYCLE
//   3     unknown                                     UNKNOWN
//   4     unreachable                                 UNREACHABLE
//   5     busy                                        BUSY
//
// The script words of 0, 1, 2 and 5 are the units' own reply words.

// A stored status code as the word scripts see, upper case.
QString statusWord(qint64 status);

// A stored status code as the word the windows show, lower case.
QString statusName(qint64 status);

} // namespace kavio
