// The daemon over libusb on the emulated USB bus, measured: the time from a
// bare part's arrival to its board served as ezusb-0 (firmware load,
// re-enumeration, start), and the CPU the daemon (and the emulation in this
// process) takes while one board sits idle. Run under umockdev-wrapper:
//
//   umockdev-wrapper build/default/bin/emulated_usb_bench [--rounds N] [--idle-seconds S]
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <vantrel/testsupport/SimDaemon.h>

#include "emulation/EmulatedUsbBus.h"
#include "k27fw/FirmwareIds.h"
#include "k27sim/SimBoard.h"
#include "k27sim/SimEzUsbPart.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using vantrel::usbhost::emulation::EmulatedUsbBus;

std::shared_ptr<vantrel::sim::SimEzUsbPart> BarePart(
    std::shared_ptr<vantrel::sim::SimBoard> board) {
  vantrel::sim::SimEzUsbPartOptions options;
  options.vendorId = kLoaderVendorId;
  options.productId = kLoaderProductId;
  options.reEnumerationDelay = 20ms;
  return std::make_shared<vantrel::sim::SimEzUsbPart>(std::move(board), options);
}

// User and system time of `pid` so far, in clock ticks.
long ProcessTicks(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const std::size_t end = text.rfind(')');
  if (end == std::string::npos) return -1;
  std::istringstream fields(text.substr(end + 2));
  std::string field;
  long utime = 0, stime = 0;
  for (int i = 3; fields >> field; ++i) {
    if (i == 14) utime = std::stol(field);
    if (i == 15) {
      stime = std::stol(field);
      break;
    }
  }
  return utime + stime;
}

double OwnSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int Usage(const char* message) {
  if (message) std::cerr << "emulated_usb_bench: " << message << "\n";
  std::cerr << "usage: umockdev-wrapper emulated_usb_bench [--rounds N] [--idle-seconds S]\n"
               "Measures, over emulated USB, the time from a bare part's arrival to its\n"
               "board served (N rounds, default 10) and the CPU the daemon and the\n"
               "emulation take while one board is idle (over S seconds, default 10).\n";
  return message ? 2 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 10, idleSeconds = 10;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help") return Usage(nullptr);
    if ((arg == "--rounds" || arg == "--idle-seconds") && i + 1 < argc) {
      const int value = std::atoi(argv[++i]);
      if (value <= 0) return Usage("the count must be a positive number");
      (arg == "--rounds" ? rounds : idleSeconds) = value;
    } else {
      return Usage(("unknown argument " + arg).c_str());
    }
  }
  if (!EmulatedUsbBus::InMockEnvironment()) return Usage("run it under umockdev-wrapper");

  EmulatedUsbBus bus;
  vantrel::testsupport::SimDaemonOptions options;
  options.simulate = false;
  vantrel::testsupport::SimDaemon daemon(options);
  if (!daemon.Start()) {
    std::cerr << daemon.Log();
    return 1;
  }
  auto board = std::make_shared<vantrel::sim::SimBoard>();
  std::vector<double> served;
  for (int round = 1; round <= rounds; ++round) {
    const auto start = Clock::now();
    bus.Plug(1, BarePart(board));
    if (!daemon.WaitForLog("is \\Device\\Ezusb-0, started", vantrel::testsupport::kWaitLimit,
                           round)) {
      std::cerr << "round " << round << ": not served\n" << daemon.Log();
      return 1;
    }
    served.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    if (round < rounds) {
      bus.Unplug(1);
      if (!daemon.WaitForLog("Ezusb-0 deleted", vantrel::testsupport::kWaitLimit, round)) return 1;
    }
  }
  std::sort(served.begin(), served.end());
  std::printf("arrival to ezusb-0 served: median %.0f ms, min %.0f ms, max %.0f ms (%d rounds)\n",
              served[served.size() / 2], served.front(), served.back(), rounds);

  // One board served and idle.
  const long ticks = sysconf(_SC_CLK_TCK);
  const long daemonBefore = ProcessTicks(daemon.Pid());
  const double ownBefore = OwnSeconds();
  const auto idleStart = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
  const double elapsed = std::chrono::duration<double>(Clock::now() - idleStart).count();
  const double daemonCpu = double(ProcessTicks(daemon.Pid()) - daemonBefore) / double(ticks);
  const double ownCpu = OwnSeconds() - ownBefore;
  std::printf("idle with one board over %.1f s: daemon %.1f%% of a core, emulation %.1f%%\n",
              elapsed, 100.0 * daemonCpu / elapsed, 100.0 * ownCpu / elapsed);
  return daemon.Stop() == 0 ? 0 : 1;
}
