#include "sim/SimulatedBoards.h"

#include <chrono>
#include <stdexcept>
#include <vector>

#include "vantrel/protocol/SimConsoleProtocol.h"

namespace vantrel::driver {

namespace {
constexpr std::chrono::seconds kStartTimeLimit{30};
}

SimulatedBoards::SimulatedBoards(const SimulationSettings& settings, DeviceManager& manager)
    : simulated_(settings.bus), host_(usbhost::MakeSimBus(simulated_.Bus())) {
  try {
    StartBoards(settings, manager);
  } catch (...) {
    Stop();
    throw;
  }
}

SimulatedBoards::~SimulatedBoards() { Stop(); }

void SimulatedBoards::StartBoards(const SimulationSettings& settings, DeviceManager& manager) {
  host_->Start(manager.Events());
  std::string failure;
  const std::size_t boards = simulated_.Boards().size();
  for (std::size_t n = 0; n < boards; ++n) {
    simulated_.PlugBoard(n);
    if (!manager.WaitForStartedBoards(n + 1, kStartTimeLimit, &failure))
      throw std::runtime_error(failure);
  }
  if (settings.isoDevices > 0) {
    simulated_.PlugIsoDevices(settings.isoDevices);
    if (!manager.WaitForStartedBoards(boards + settings.isoDevices, kStartTimeLimit, &failure))
      throw std::runtime_error(failure);
  }

  std::vector<vantrel::sim::SimBoard*> consoleBoards;
  for (const auto& board : simulated_.Boards()) consoleBoards.push_back(board.get());
  console_ = std::make_unique<vantrel::sim::SimConsole>(consoleBoards);
  console_->SetPlugHooks({[this](int board) { return simulated_.Unplug(board); },
                          [this](int board) { return simulated_.Plug(board); }});
  consoleHandler_ = std::make_unique<SimConsoleHandler>(*console_);
  consoleServer_ = std::make_unique<ControlServer>(settings.deviceDir, settings.log);
  consoleServer_->AddEndpoint(kSimConsoleSocket, consoleHandler_.get());
  if (settings.group) consoleServer_->SetGroup(*settings.group);
  consoleServer_->SetLimits({settings.connectionsPerSocket, nullptr, settings.report});
  consoleServer_->Start();
}

void SimulatedBoards::Stop() {
  if (consoleServer_) consoleServer_->Stop();
  host_->Stop();
}

}  // namespace vantrel::driver
