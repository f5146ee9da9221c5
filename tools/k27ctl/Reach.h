// Why a board's socket gave no connection, told apart for the person at
// the terminal: no daemon, no permission (and the group to join), a daemon
// that does not answer, or a daemon with no board behind the socket.
#pragma once

#include <cstdint>

#include "Failure.h"

namespace vantrel::ctl {

// How long the library waits for the daemon: --timeout, else what the
// environment sets, else 15 s.
int ReplyTimeoutMs();

// Looks at board `instance`'s socket after init failed without an error
// code, `waitedMs` after it began.
Failure WhyUnreachable(int instance, std::int64_t waitedMs);

}  // namespace vantrel::ctl
