// The record of one board device: its names, its plug-and-play state, what
// the start read and selected, and the work count that lets removal wait for
// the requests in flight. Requests from many connections read it at once.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "k27/common/IoRefCount.h"
#include "PipeTable.h"

namespace vantrel::driver {

class ByteRing;

// Instances 0 to 7 exist; each board gets the lowest free one.
inline constexpr int kMaxBoardInstances = 8;

// "\Device\Ezusb-N", "\DosDevices\Ezusb-N" and the socket name "ezusb-N".
std::string BoardDeviceName(int instance);
std::string BoardLinkName(int instance);
std::string BoardSocketName(int instance);

using DeviceDescriptor = std::array<std::uint8_t, 18>;

class BoardDeviceState {
 public:
  explicit BoardDeviceState(int instance);
  BoardDeviceState(const BoardDeviceState&) = delete;
  BoardDeviceState& operator=(const BoardDeviceState&) = delete;

  const int instance;
  const std::string deviceName;  // for logs
  const std::string linkName;    // for logs

  std::atomic<bool> isStarted{false};
  std::atomic<bool> linkCreated{false};
  std::atomic<std::int32_t> openCount{0};
  // The latest failing request block status; 0 until one fails.
  std::atomic<std::uint32_t> lastUrbError{0};
  // Work in flight, plus one held from creation until removal begins;
  // refuses new work once it has begun.
  vantrel::common::IoRefCount ioRefs;
  std::atomic<bool> streamStop{false};

  // The selected configuration value, absent until a selection succeeded.
  std::optional<std::uint8_t> ConfigHandle() const;
  void SetConfigHandle(std::optional<std::uint8_t> value);

  std::optional<DeviceDescriptor> DeviceDesc() const;
  void SetDeviceDesc(std::optional<DeviceDescriptor> descriptor);

  // A snapshot: stays valid for its holder when the table is replaced.
  PipeTablePtr PipeTable() const;
  void SetPipeTable(PipeTablePtr table);

  std::shared_ptr<ByteRing> StreamDataRing() const;
  std::shared_ptr<ByteRing> StreamStatusRing() const;
  void SetStreamRings(std::shared_ptr<ByteRing> data, std::shared_ptr<ByteRing> status);

 private:
  mutable std::mutex mutex_;  // the members below
  std::optional<std::uint8_t> configHandle_;
  std::optional<DeviceDescriptor> deviceDesc_;
  PipeTablePtr pipeTable_;
  std::shared_ptr<ByteRing> streamDataRing_;
  std::shared_ptr<ByteRing> streamStatusRing_;
};

}  // namespace vantrel::driver
