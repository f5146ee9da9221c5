// Starting and reaping the children of the test-support classes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace vantrel::testsupport::detail {

// The test's environment with `changes` applied: NAME=VALUE replaces or adds,
// a bare NAME removes.
std::vector<std::string> EnvironmentWith(const std::vector<std::string>& changes);

// Starts argv[0] with its standard input, output and error on the given
// descriptors; -1 when it cannot start.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
            int in, int out, int err);

// A descriptor that becomes readable when `pid` ends (-1 if the kernel has
// none to give).
int OpenPidFd(pid_t pid);

// Waits at most `limit` for `pid` to end and reaps it: its exit status, or
// -signal. kHung, and the child killed and reaped, past the limit.
int Reap(pid_t pid, int pidFd, std::chrono::milliseconds limit);

}  // namespace vantrel::testsupport::detail
