#include "BoardDeviceState.h"

#include <utility>

#include "vantrel/protocol/ControlProtocol.h"

namespace vantrel::driver {

std::string BoardDeviceName(int instance) { return "\\Device\\Ezusb-" + std::to_string(instance); }

std::string BoardLinkName(int instance) {
  return "\\DosDevices\\Ezusb-" + std::to_string(instance);
}

std::string BoardSocketName(int instance) { return ControlProtocol::SocketName(instance); }

BoardDeviceState::BoardDeviceState(int instanceNumber)
    : instance(instanceNumber),
      deviceName(BoardDeviceName(instanceNumber)),
      linkName(BoardLinkName(instanceNumber)) {}

std::optional<std::uint8_t> BoardDeviceState::ConfigHandle() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return configHandle_;
}

void BoardDeviceState::SetConfigHandle(std::optional<std::uint8_t> value) {
  std::lock_guard<std::mutex> lock(mutex_);
  configHandle_ = value;
}

std::optional<DeviceDescriptor> BoardDeviceState::DeviceDesc() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return deviceDesc_;
}

void BoardDeviceState::SetDeviceDesc(std::optional<DeviceDescriptor> descriptor) {
  std::lock_guard<std::mutex> lock(mutex_);
  deviceDesc_ = descriptor;
}

PipeTablePtr BoardDeviceState::PipeTable() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pipeTable_;
}

void BoardDeviceState::SetPipeTable(PipeTablePtr table) {
  // The old table goes when its last snapshot does, outside the lock.
  PipeTablePtr old;
  std::lock_guard<std::mutex> lock(mutex_);
  old = std::exchange(pipeTable_, std::move(table));
}

std::shared_ptr<ByteRing> BoardDeviceState::StreamDataRing() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return streamDataRing_;
}

std::shared_ptr<ByteRing> BoardDeviceState::StreamStatusRing() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return streamStatusRing_;
}

void BoardDeviceState::SetStreamRings(std::shared_ptr<ByteRing> data,
                                      std::shared_ptr<ByteRing> status) {
  std::shared_ptr<ByteRing> oldData, oldStatus;
  std::lock_guard<std::mutex> lock(mutex_);
  oldData = std::exchange(streamDataRing_, std::move(data));
  oldStatus = std::exchange(streamStatusRing_, std::move(status));
}

}  // namespace vantrel::driver
