// A simulated daemon's boards: the simulated bus behind the host layer's
// simulator backend, every board started through the device manager as a
// real one would be, and the console socket through which k27simctl drives
// the simulation.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "device/DeviceManager.h"
#include "k27sim/SimConsole.h"
#include "server/ControlServer.h"
#include "sim/SimConsoleHandler.h"
#include "sim/SimulatedBus.h"
#include "vantrel/usbhost/Backends.h"

namespace vantrel::driver {

struct SimulationSettings {
  SimulatedBusSettings bus;
  unsigned isoDevices = 0;
  std::filesystem::path deviceDir;
  std::optional<gid_t> group;  // of the console socket
  std::size_t connectionsPerSocket = 0;
  // The console server's connections (quiet when empty) and its refusals.
  ControlServer::Log log;
  ControlServer::Log report;
};

class SimulatedBoards {
 public:
  // Plugs the boards one at a time, so that instance N is simulated board N
  // as k27simctl --board N names it, then the isochronous devices, waiting
  // for each to be started; then serves the console. Throws
  // std::runtime_error when a board does not start, std::system_error when
  // the console socket cannot be made; what was started is stopped.
  SimulatedBoards(const SimulationSettings& settings, DeviceManager& manager);
  ~SimulatedBoards();
  SimulatedBoards(const SimulatedBoards&) = delete;
  SimulatedBoards& operator=(const SimulatedBoards&) = delete;

  usbhost::UsbBus& Host() { return *host_; }
  // Ends the console and the bus's events. Safe to call more than once.
  void Stop();

 private:
  void StartBoards(const SimulationSettings& settings, DeviceManager& manager);

  SimulatedBus simulated_;
  std::unique_ptr<usbhost::SimHostBus> host_;
  std::unique_ptr<vantrel::sim::SimConsole> console_;
  std::unique_ptr<SimConsoleHandler> consoleHandler_;
  std::unique_ptr<ControlServer> consoleServer_;
};

}  // namespace vantrel::driver
