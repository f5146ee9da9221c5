// What both soaks of the driver daemon use to talk to it: connections to
// its sockets, one request with a bounded wait for its reply, the
// simulator's console, the names of the statuses, and the daemon's
// threads, descriptors and memory.
#pragma once

#include <sys/types.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vantrel::soak {

using Clock = std::chrono::steady_clock;

// The driver's limit on one transfer.
constexpr auto kDriverLimit = std::chrono::seconds(5);

// A connected SOCK_SEQPACKET socket to `path`; -1 when it cannot connect.
int Connect(const std::filesystem::path& path);

enum class Outcome { Reply, Closed, Hung };

// One request and its reply, waiting at most `limit` for the reply. The
// output bytes travel with the codes whose output buffer carries data.
Outcome Call(int fd, std::uint32_t code, const std::vector<std::uint8_t>& in,
             std::uint32_t outLength, std::chrono::milliseconds limit, std::uint32_t* status,
             std::vector<std::uint8_t>* output, const std::vector<std::uint8_t>& sent = {});

// A bulk-exchange block from `outPipe` to `inPipe` with `command`.
std::vector<std::uint8_t> ExchangeBlock(std::uint32_t outPipe, std::uint32_t inPipe,
                                        const std::vector<std::uint8_t>& command);

// One command to board `board` through the simulated daemon's console:
// {"unplug"}, {"fault", "2", "05", "stall", "1"}; true when it was done.
bool Console(const std::filesystem::path& deviceDir, int board,
             const std::vector<std::string>& words);

// "STATUS_ACCESS_DENIED 0xC0000022", or "status 0x..." for the others.
std::string StatusName(std::uint32_t status);

struct Sample {
  long threads = 0;
  long descriptors = 0;
  long residentKiB = 0;

  // Keeps the larger of each figure: the peak of the samples seen.
  void RaiseTo(const Sample& other) {
    threads = std::max(threads, other.threads);
    descriptors = std::max(descriptors, other.descriptors);
    residentKiB = std::max(residentKiB, other.residentKiB);
  }
};

// The process's threads, descriptors and resident memory; none once it is
// gone.
std::optional<Sample> SampleOf(pid_t pid);

// Writes all of `text` to a pipe.
void WriteAll(int fd, const std::string& text);
// Reads a pipe to its end.
std::string ReadAll(int fd);

}  // namespace vantrel::soak
