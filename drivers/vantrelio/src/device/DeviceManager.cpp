#include "DeviceManager.h"

#include <algorithm>
#include <cstdio>
#include <system_error>

#include "BoardDeviceState.h"

namespace vantrel::driver {
namespace {

std::string Ids(const usbhost::DeviceIdentity& identity) {
  char text[16];
  std::snprintf(text, sizeof text, "%04x:%04x", identity.vendorId, identity.productId);
  return text;
}

bool Matches(const usbhost::DeviceIdentity& identity, const usbhost::UsbId& id) {
  return identity.vendorId == id.vendorId && identity.productId == id.productId;
}

std::string Hex(std::uint32_t status) {
  char text[12];
  std::snprintf(text, sizeof text, "0x%08X", status);
  return text;
}

}  // namespace

DeviceManager::DeviceManager(DeviceManagerOptions options)
    : options_(std::move(options)),
      quota_(options_.maxConnectionsPerUser != 0
                 ? std::make_shared<ConnectionQuota>(options_.maxConnectionsPerUser)
                 : nullptr),
      loads_({options_.loads, options_.loaderId, options_.boardId,
              [this](const std::string& line) { Log(line); },
              [this](const std::string& line) { LogError(line); }, options_.busDevices}) {}

DeviceManager::~DeviceManager() { RemoveAll(); }

void DeviceManager::Log(const std::string& line) const {
  if (options_.log) options_.log(line);
}

void DeviceManager::LogError(const std::string& line) const {
  if (options_.logError)
    options_.logError(line);
  else
    Log(line);
}

usbhost::UsbBus::Events DeviceManager::Events() {
  return {[this](std::shared_ptr<usbhost::UsbDevice> device) { Arrived(std::move(device)); },
          [this](const usbhost::DeviceIdentity& identity) { Departed(identity); },
          [this](const usbhost::DeviceIdentity& identity, usbhost::PnpRequest request) {
            Requested(identity, request);
          }};
}

void DeviceManager::Arrived(std::shared_ptr<usbhost::UsbDevice> device) {
  const auto identity = device->Identity();
  if (options_.capture) device = options_.capture->Wrap(std::move(device));
  if (Matches(identity, options_.loaderId)) {
    loads_.Arrived(device);
  } else if (Matches(identity, options_.boardId)) {
    AddBoard(device);
  } else {
    Log("ignoring device " + Ids(identity) + " at " + identity.Location());
  }
}

void DeviceManager::AddBoard(const std::shared_ptr<usbhost::UsbDevice>& device) {
  const auto identity = device->Identity();
  const std::string location = identity.Location();
  loads_.BoardArrived(location);
  int instance = -1;
  {
    std::lock_guard lock(mutex_);
    if (boards_.count(location) != 0) return;  // reported twice
    for (int i = 0; i < kInstances && instance < 0; ++i)
      if (!used_[static_cast<std::size_t>(i)]) instance = i;
    if (instance < 0) {
      Log("board at " + location + " gets no device: instances 0 to 7 are taken");
      return;
    }
    used_[static_cast<std::size_t>(instance)] = true;
  }
  Board board;
  board.device = std::make_shared<BoardDevice>(
      device, instance, options_.transferTimeLimit,
      options_.verbose ? options_.log : std::function<void(const std::string&)>{});
  if (options_.exchanges) board.device->SetExchangeHook(options_.exchanges);
  if (!options_.exchangeLocks) board.device->DisableExchangeLocksForTest();
  const std::string name = BoardSocketName(instance);
  board.server = std::make_unique<ControlServer>(
      options_.deviceDir, options_.verbose ? options_.log : ControlServer::Log{});
  board.server->AddEndpoint(name, board.device.get());
  if (options_.group) board.server->SetGroup(*options_.group);
  board.server->SetLimits({options_.maxConnectionsPerBoard, quota_, options_.log,
                           options_.maxConnectionsPerUserPerBoard});
  board.server->SetAccessPolicy(options_.access);
  try {
    board.server->Start();
  } catch (const std::exception& e) {
    const std::string failure = "board at " + location + ": cannot serve " + name + ": " + e.what();
    Log(failure);
    board.device->Remove();
    std::lock_guard lock(mutex_);
    used_[static_cast<std::size_t>(instance)] = false;
    failure_ = failure;
    changed_.notify_all();
    return;
  }
  const std::uint32_t status = board.device->Start();
  board.started = status == 0;
  Log("board " + Ids(identity) + " at " + location + " is \\Device\\Ezusb-" +
      std::to_string(instance) + (board.started ? ", started" : ", start failed: " + Hex(status)));
  std::lock_guard lock(mutex_);
  boards_.emplace(location, std::move(board));
  changed_.notify_all();
}

void DeviceManager::Departed(const usbhost::DeviceIdentity& identity) {
  loads_.Departed(identity.Location());
  Board board;
  {
    std::lock_guard lock(mutex_);
    auto it = boards_.find(identity.Location());
    if (it == boards_.end()) return;  // a loader device, or one never served
    board = std::move(it->second);
    boards_.erase(it);
    removing_.push_back(board.device->Instance());
  }
  RemoveBoard(identity.Location(), std::move(board));
}

void DeviceManager::RemoveBoard(const std::string& location, Board board) {
  const int instance = board.device->Instance();
  board.device->SurpriseRemoval();
  // Removal aborts the transfers in flight and waits for the requests still
  // running; then the socket goes, with its connections.
  board.device->Remove();
  board.server->Stop();
  board.server.reset();
  board.device.reset();
  Log("board at " + location + " removed: \\Device\\Ezusb-" + std::to_string(instance) +
      " deleted");
  std::lock_guard lock(mutex_);
  used_[static_cast<std::size_t>(instance)] = false;
  std::erase(removing_, instance);
  changed_.notify_all();
}

void DeviceManager::Requested(const usbhost::DeviceIdentity& identity,
                              usbhost::PnpRequest request) {
  std::shared_ptr<BoardDevice> device;
  {
    std::lock_guard lock(mutex_);
    auto it = boards_.find(identity.Location());
    if (it == boards_.end()) return;
    device = it->second.device;
  }
  switch (request) {
    case usbhost::PnpRequest::Stop:
      Log("stop: " + Hex(device->Stop()));
      break;
    case usbhost::PnpRequest::Start:
      Log("start: " + Hex(device->Start()));
      break;
    case usbhost::PnpRequest::SurpriseRemoval:
      device->SurpriseRemoval();
      break;
    case usbhost::PnpRequest::QueryCapabilities: {
      DeviceCapabilities capabilities;
      device->QueryCapabilities(capabilities);
      break;
    }
  }
}

void DeviceManager::RemoveAll() {
  std::map<std::string, Board> boards;
  {
    std::lock_guard lock(mutex_);
    boards.swap(boards_);
    for (const auto& [location, board] : boards) removing_.push_back(board.device->Instance());
  }
  for (auto& [location, board] : boards) RemoveBoard(location, std::move(board));
  loads_.StopAll();
}

std::size_t DeviceManager::RetryFailedLoads() { return loads_.RetryFailed(); }

std::vector<int> DeviceManager::Instances() const {
  std::lock_guard lock(mutex_);
  std::vector<int> instances;
  for (const auto& [location, board] : boards_) instances.push_back(board.device->Instance());
  instances.insert(instances.end(), removing_.begin(), removing_.end());
  std::sort(instances.begin(), instances.end());
  return instances;
}

bool DeviceManager::WaitForStartedBoards(std::size_t count, std::chrono::milliseconds limit,
                                         std::string* failure) {
  std::unique_lock lock(mutex_);
  const auto started = [&] {
    return static_cast<std::size_t>(std::count_if(
               boards_.begin(), boards_.end(), [](const auto& b) { return b.second.started; })) >=
           count;
  };
  changed_.wait_for(lock, limit, [&] { return started() || !failure_.empty(); });
  if (failure != nullptr)
    *failure = failure_.empty() ? "the boards did not start in time" : failure_;
  return started() && failure_.empty();
}

}  // namespace vantrel::driver
