#include "sim/SimulatedBus.h"

#include <chrono>

#include "k27sim/SimIsoDevice.h"

namespace vantrel::driver {

SimulatedBus::SimulatedBus(const SimulatedBusSettings& settings)
    : settings_(settings), bus_(8, vantrel::sim::SimUsbBus::FrameClock::WallClock) {
  for (unsigned n = 0; n < settings_.boards; ++n) {
    vantrel::sim::SimBoardOptions boardOptions;
    boardOptions.eepromBytes = settings_.eepromBytes;
    boardOptions.realTime = true;
    boardOptions.boardAddress = static_cast<std::uint8_t>(n);
    // K2700001, K2700002, ...: a script can tell the boards apart.
    boardOptions.serialNumber = vantrel::sim::FactorySerialNumber(n + 1);
    boards_.push_back(std::make_shared<vantrel::sim::SimBoard>(boardOptions));
  }
}

std::shared_ptr<vantrel::sim::SimEzUsbPart> SimulatedBus::BarePart(std::size_t board) const {
  vantrel::sim::SimEzUsbPartOptions part;
  part.vendorId = settings_.loaderId.vendorId;
  part.productId = settings_.loaderId.productId;
  part.reEnumerationDelay = std::chrono::milliseconds(20);
  return std::make_shared<vantrel::sim::SimEzUsbPart>(boards_[board], part);
}

void SimulatedBus::PlugBoard(std::size_t board) {
  bus_.Plug(static_cast<int>(board) + 1, BarePart(board));
}

void SimulatedBus::PlugIsoDevices(unsigned count) {
  for (unsigned n = 0; n < count; ++n) {
    if (boards_.size() + n >= static_cast<std::size_t>(bus_.Ports())) break;
    bus_.Plug(static_cast<int>(boards_.size() + n) + 1,
              std::make_shared<vantrel::sim::SimIsoDevice>(vantrel::sim::SimIsoDeviceOptions{
                  settings_.boardId.vendorId, settings_.boardId.productId, 256}));
  }
}

bool SimulatedBus::Unplug(int board) {
  if (board < 0 || board >= static_cast<int>(boards_.size()) || !bus_.DeviceAt(board + 1))
    return false;
  bus_.Unplug(board + 1);
  return true;
}

bool SimulatedBus::Plug(int board) {
  if (board < 0 || board >= static_cast<int>(boards_.size()) || bus_.DeviceAt(board + 1))
    return false;
  bus_.Plug(board + 1, BarePart(static_cast<std::size_t>(board)));
  return true;
}

}  // namespace vantrel::driver
