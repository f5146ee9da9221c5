#include "HostileSoak.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>
#include <thread>
#include <vector>

#include <vantrel/testsupport/SimDaemon.h>

#include "HostileRoles.h"

namespace vantrel::soak {

namespace fs = std::filesystem;

namespace {

constexpr int kKamikazes = 4;
constexpr int kProbesPerRound = 4;
constexpr auto kProbeGap = std::chrono::milliseconds(300);
constexpr auto kProbeRoundEvery = std::chrono::seconds(4);
constexpr auto kStallEvery = std::chrono::milliseconds(700);
constexpr auto kKillEvery = std::chrono::milliseconds(250);

// A client process and the pipe its tally comes back on.
struct Client {
  std::string role;
  pid_t pid = -1;
  int report = -1;
};

// Forks `body` with a pipe for its tally; none when it cannot.
std::optional<Client> Fork(const std::string& role, const std::function<void(int)>& body) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    body(fds[1]);
    ::_exit(0);
  }
  ::close(fds[1]);
  if (pid < 0) {
    ::close(fds[0]);
    return std::nullopt;
  }
  return Client{role, pid, fds[0]};
}

void Kill(pid_t pid) {
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
}

std::string Percent(std::uint64_t part, std::uint64_t whole) {
  char text[16];
  std::snprintf(text, sizeof text, "%.1f%%",
                whole == 0 ? 0.0 : 100.0 * double(part) / double(whole));
  return text;
}

void PrintRow(const char* name, const RoleTally& t, const std::string& note) {
  std::printf("  %-30s %9llu %9llu %7s %9.0f ms  %s\n", name,
              static_cast<unsigned long long>(t.requests),
              static_cast<unsigned long long>(t.served), Percent(t.served, t.requests).c_str(),
              t.worstWaitMs, note.c_str());
}

}  // namespace

int RunHostile(const HostileOptions& options) {
  vantrel::testsupport::SimDaemon vantrelio({.boards = options.boards, .program = options.daemon});
  const fs::path trace = vantrelio.Folder() / "trace.log";
  vantrelio.Options().arguments = {"--trace", trace.string()};
  const fs::path dir = vantrelio.DeviceDir();
  if (!vantrelio.Start(std::chrono::seconds(60))) {
    std::fprintf(stderr, "vantrelio_soak: the daemon did not start:\n%s", vantrelio.Log().c_str());
    return 1;
  }
  const pid_t daemon = vantrelio.Pid();
  const bool asRoot = ::geteuid() == 0;
  // Nobody must reach the sockets through the launcher's private folder.
  if (asRoot) ::chmod(vantrelio.Folder().c_str(), 0711);

  Timeline timeline;
  timeline.start = Clock::now();
  timeline.end = timeline.start + std::chrono::seconds(options.seconds);
  timeline.attacksEnd = timeline.start + std::chrono::seconds(options.seconds) / 2;

  std::vector<Client> clients;
  auto start = [&](const std::string& role, const std::function<void(int)>& body) {
    if (auto client = Fork(role, body)) clients.push_back(*client);
  };
  for (int v = 0; v < options.victims; ++v)
    start("victim",
          [&, v](int report) { RunVictim(VictimOf(v, options.boards), dir, timeline, report); });
  for (int r = 0; r < kPrivilegedReaders; ++r)
    start("raw reader", [&](int report) { RunRawReader(false, dir, timeline, report); });
  if (asRoot)
    for (int r = 0; r < 2; ++r)
      start("denied reader", [&](int report) { RunRawReader(true, dir, timeline, report); });
  for (int b = 0; b < std::min(options.boards, 2); ++b)
    start("cross exchanger", [&, b](int report) { RunCrossExchanger(b, dir, timeline, report); });

  std::vector<pid_t> kamikazes;
  auto kamikaze = [&](int index) {
    const pid_t pid = ::fork();
    if (pid == 0) RunKamikaze(index, dir);
    return pid;
  };
  for (int k = 0; k < kKamikazes; ++k) kamikazes.push_back(kamikaze(k));

  // Stalls, kills and probe rounds while the attacks go on; the daemon
  // sampled throughout.
  std::mt19937 random(4242);
  int stalls = 0, stallFailures = 0, kills = 0, rounds = 0;
  std::vector<pid_t> probes;
  auto nextStall = timeline.start + kStallEvery;
  auto nextKill = timeline.start + kKillEvery;
  auto nextRound = timeline.start + std::chrono::seconds(1);
  Sample peak;
  bool daemonDied = false;
  while (Clock::now() < timeline.end) {
    const auto now = Clock::now();
    const auto sample = SampleOf(daemon);
    if (!sample) {
      daemonDied = true;
      break;
    }
    peak.RaiseTo(*sample);
    const bool attacking = now < timeline.attacksEnd;
    if (attacking && now >= nextStall) {
      const Victim victim = VictimOf(
          static_cast<int>(random() % static_cast<unsigned>(options.victims)), options.boards);
      char command[4];
      std::snprintf(command, sizeof command, "%02X", victim.command);
      if (Console(dir, victim.board,
                  {"fault", std::to_string(victim.channel), command, "stall", "1"}))
        ++stalls;
      else
        ++stallFailures;
      nextStall = now + kStallEvery;
    }
    if (attacking && now >= nextKill && !kamikazes.empty()) {
      const std::size_t k = random() % kamikazes.size();
      if (kamikazes[k] > 0) Kill(kamikazes[k]);
      kamikazes[k] = kamikaze(static_cast<int>(k));
      ++kills;
      nextKill = now + kKillEvery;
    }
    if (attacking && now >= nextRound && timeline.attacksEnd - now > std::chrono::seconds(3)) {
      for (int p = 0; p < kProbesPerRound; ++p) {
        const auto sendAt = now + std::chrono::milliseconds(100) + p * kProbeGap;
        const pid_t pid = ::fork();
        if (pid == 0) RunProbe(rounds, p, sendAt, dir);
        if (pid > 0) probes.push_back(pid);
      }
      ++rounds;
      nextRound = now + kProbeRoundEvery;
    }
    if (!attacking)
      for (pid_t& pid : kamikazes)
        if (pid > 0) {
          Kill(pid);
          pid = -1;
        }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  for (pid_t& pid : kamikazes)
    if (pid > 0) Kill(pid);

  // The tallies, by role.
  std::map<std::string, RoleTally> roles;
  std::map<std::string, int> counts;
  int stuckVictims = 0;
  double slowestReturnMs = 0;
  for (const Client& client : clients) {
    const RoleTally tally = RoleTally::Parse(ReadAll(client.report));
    ::close(client.report);
    ::waitpid(client.pid, nullptr, 0);
    if (client.role == "victim") {
      if (tally.servedAgainMs < 0)
        ++stuckVictims;
      else
        slowestReturnMs = std::max(slowestReturnMs, tally.servedAgainMs);
    }
    roles[client.role].Add(tally);
    ++counts[client.role];
  }
  int probesServed = 0;
  for (pid_t pid : probes) {
    int state = 0;
    if (::waitpid(pid, &state, 0) == pid && WIFEXITED(state) && WEXITSTATUS(state) == 0)
      ++probesServed;
  }
  const auto finalSample = SampleOf(daemon);
  const int stopped = vantrelio.Stop();
  const bool cleanStop = !daemonDied && stopped == 0;
  const double seconds = std::chrono::duration<double>(Clock::now() - timeline.start).count();

  // The probes of each round must have been served in the order they came.
  int outOfOrder = 0, wholeRounds = 0;
  for (const auto& [round, positions] : ProbeOrder(trace)) {
    if (!std::is_sorted(positions.begin(), positions.end())) ++outOfOrder;
    if (positions.size() == kProbesPerRound) ++wholeRounds;
  }

  const RoleTally& victims = roles["victim"];
  std::uint64_t all = 0;
  for (const auto& [role, tally] : roles) all += tally.requests;
  std::printf(
      "vantrelio hostile soak: %.0f s (attacks for the first %lld s), %d boards, %d victims\n",
      seconds,
      static_cast<long long>(
          std::chrono::duration_cast<std::chrono::seconds>(timeline.attacksEnd - timeline.start)
              .count()),
      options.boards, options.victims);
  std::printf("  %-30s %9s %9s %7s %12s\n", "clients", "requests", "served", "rate", "worst wait");
  PrintRow(("victims (" + std::to_string(counts["victim"]) + ")").c_str(), victims,
           "served with their own reply");
  PrintRow(("raw readers (" + std::to_string(counts["raw reader"]) + ")").c_str(),
           roles["raw reader"], "the daemon's user; data read = stolen");
  if (asRoot)
    PrintRow(("denied raw readers (" + std::to_string(counts["denied reader"]) + ")").c_str(),
             roles["denied reader"],
             std::to_string(roles["denied reader"].expected) + " STATUS_ACCESS_DENIED");
  else
    std::printf("  denied raw readers: none (not run as root)\n");
  PrintRow(("cross-channel exchangers (" + std::to_string(counts["cross exchanger"]) + ")").c_str(),
           roles["cross exchanger"],
           std::to_string(roles["cross exchanger"].expected) + " STATUS_INVALID_PARAMETER");
  std::printf("  kamikaze clients: %d, killed (SIGKILL) %d times mid-run\n", kKamikazes, kills);
  std::printf("  stalls injected: %d (%d console failures)\n", stalls, stallFailures);
  std::printf("victims' failures by status:%s\n", victims.statuses.empty() ? " none" : "");
  for (const auto& [what, count] : victims.statuses)
    std::printf("  %-48s %llu\n", what.c_str(), static_cast<unsigned long long>(count));
  std::printf(
      "exchanges: victims %llu served, %.0f per second; all clients %.0f requests per second\n",
      static_cast<unsigned long long>(victims.served), double(victims.served) / seconds,
      double(all) / seconds);
  std::printf("order probes: %d rounds (%d whole), %d served, %d out of arrival order\n", rounds,
              wholeRounds, probesServed, outOfOrder);
  std::printf("after the attacks: %d victim(s) not served again; the slowest back after %.0f ms\n",
              stuckVictims, slowestReturnMs);
  std::printf(
      "crossed replies: %llu; stolen replies: %llu; hung requests: %llu\n",
      static_cast<unsigned long long>(victims.crossed),
      static_cast<unsigned long long>(roles["raw reader"].stolen),
      static_cast<unsigned long long>(victims.hung + roles["raw reader"].hung +
                                      roles["denied reader"].hung + roles["cross exchanger"].hung));
  std::printf(
      "daemon peak: %ld threads, %ld descriptors, %.1f MiB resident (at the end %.1f MiB)\n",
      peak.threads, peak.descriptors, peak.residentKiB / 1024.0,
      finalSample ? finalSample->residentKiB / 1024.0 : 0.0);
  std::printf("daemon: %s\n", daemonDied  ? "DIED during the run"
                              : cleanStop ? "stopped cleanly"
                                          : "did not stop cleanly");

  std::vector<std::string> failures;
  if (victims.crossed > 0) failures.push_back("a victim got another client's reply");
  if (roles["raw reader"].stolen > 0) failures.push_back("a raw reader stole a reply");
  if (roles["denied reader"].unexpected > 0)
    failures.push_back("a raw code was served to an unprivileged client");
  if (roles["cross exchanger"].unexpected > 0)
    failures.push_back("an exchange across two channels was not refused");
  if (outOfOrder > 0) failures.push_back("a channel served its waiters out of arrival order");
  if (stuckVictims > 0) failures.push_back("a channel stayed stuck after the attacks");
  if (victims.hung > 0) failures.push_back("a victim's request hung");
  if (!cleanStop) failures.push_back("the daemon did not run and stop cleanly");
  if (failures.empty()) return 0;
  for (const std::string& failure : failures) std::printf("FAILED: %s\n", failure.c_str());
  const fs::path kept =
      fs::temp_directory_path() / ("vantrelio_soak-" + std::to_string(::getpid()) + ".log");
  std::error_code ignored;
  fs::copy_file(vantrelio.LogPath(), kept, fs::copy_options::overwrite_existing, ignored);
  std::printf("the daemon's log is %s\n", kept.c_str());
  return 1;
}

}  // namespace vantrel::soak
