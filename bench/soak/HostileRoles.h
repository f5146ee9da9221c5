// The client processes of the hostile soak, each a role, and what each one
// reports to the soak through a pipe when it is done.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "SoakWire.h"

namespace vantrel::soak {

// The attacked channel: channel 5 of board 0 (OUT pipe 9, IN pipe 8), the
// one the library uses for the clock and the PIC.
constexpr int kAttackedBoard = 0;
constexpr int kAttackedChannel = 5;

// A victim, a raw reader and a queued probe may each wait behind the
// privileged raw readers, whose reads of a pipe the board does not answer
// take the driver's whole limit.
constexpr int kPrivilegedReaders = 2;
constexpr auto kHangLimit = (kPrivilegedReaders + 1) * kDriverLimit + std::chrono::seconds(5);

struct Timeline {
  Clock::time_point start;
  Clock::time_point attacksEnd;  // the attackers stop; the calm half begins
  Clock::time_point end;
};

struct RoleTally {
  std::uint64_t requests = 0;
  std::uint64_t served = 0;      // success (a victim's: with its own reply)
  std::uint64_t expected = 0;    // refused with the status an attacker must get
  std::uint64_t unexpected = 0;  // an attacker answered otherwise
  std::uint64_t crossed = 0;     // a victim's reply to another command
  std::uint64_t stolen = 0;      // data a raw reader took: somebody's reply
  std::uint64_t hung = 0;
  double worstWaitMs = 0;
  // A victim's first success after the attacks ended, in ms after their
  // end; negative when none came.
  double servedAgainMs = -1;
  std::map<std::string, std::uint64_t> statuses;  // failures by status

  void Note(std::uint32_t status);
  void Wait(Clock::time_point start);
  std::string Serialize() const;
  static RoleTally Parse(const std::string& text);
  void Add(const RoleTally& other);
};

struct Victim {
  int board = 0;
  int channel = 1;
  std::uint8_t command = 0;
};
// Victim `index` of `boards`: the first of each board on the attacked
// channel, the others spread over the remaining channels.
Victim VictimOf(int index, int boards);

// Each runs in a forked child, writes its tally to `report` and exits.
[[noreturn]] void RunVictim(const Victim& victim, const std::filesystem::path& dir,
                            const Timeline& timeline, int report);
// Reads the attacked channel's IN pipe until the attacks end. `unprivileged`
// first becomes the user nobody, a member of the daemon's group only, whose
// reads must be refused.
[[noreturn]] void RunRawReader(bool unprivileged, const std::filesystem::path& dir,
                               const Timeline& timeline, int report);
// Exchanges from one channel's OUT pipe to another's IN pipe, and with a
// pair turned round, until the attacks end: each must be refused.
[[noreturn]] void RunCrossExchanger(int board, const std::filesystem::path& dir,
                                    const Timeline& timeline, int report);
// Exchanges on board 0 until the soak kills it.
[[noreturn]] void RunKamikaze(int index, const std::filesystem::path& dir);
// One exchange on the attacked channel at `sendAt`, command {0xE0 +
// position, round}: exit status 0 when served with its own reply.
[[noreturn]] void RunProbe(int round, int position, Clock::time_point sendAt,
                           const std::filesystem::path& dir);

// The probes' commands in the daemon's trace, in the order it served them:
// the positions of each round.
std::map<int, std::vector<int>> ProbeOrder(const std::filesystem::path& trace);

}  // namespace vantrel::soak
