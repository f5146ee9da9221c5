// The pipe table: the selected interface setting with one pipe record per
// endpoint, in the order in which the endpoint descriptors follow the
// interface descriptor. A pipe index is a position in `pipes`.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "vantrel/usbhost/UsbTypes.h"

namespace vantrel::driver {

enum class PipeType : std::uint8_t { Control = 0, Isochronous = 1, Bulk = 2, Interrupt = 3 };

// Every pipe the driver selects may carry this much in one transfer.
inline constexpr std::uint32_t kPipeMaximumTransferSize = 65535;

struct PipeInformation {
  std::uint8_t endpointAddress = 0;  // bit 7 set: IN
  PipeType pipeType = PipeType::Bulk;
  std::uint32_t maximumTransferSize = kPipeMaximumTransferSize;
  bool pipeHandle = false;  // the pipe can be used
  std::uint16_t maximumPacketSize = 0;
  std::uint8_t interval = 0;

  bool IsIn() const { return (endpointAddress & 0x80) != 0; }
  bool operator==(const PipeInformation&) const = default;
};

struct InterfaceInformation {
  std::uint8_t interfaceNumber = 0;
  std::uint8_t alternateSetting = 0;
  std::uint8_t interfaceClass = 0;
  std::uint8_t interfaceSubClass = 0;
  std::uint8_t interfaceProtocol = 0;
  std::vector<PipeInformation> pipes;

  // Bytes of the record that IOCTL_VIO_GET_PIPE_TABLE returns.
  std::size_t Length() const;
  // Writes that record; `out` holds at least Length() bytes.
  void WriteImage(std::span<std::uint8_t> out) const;
};

// Never changed once published: a replacement is a new table, so a request
// keeps the snapshot it took for as long as it runs.
using PipeTablePtr = std::shared_ptr<const InterfaceInformation>;

// The table of a setting the host layer selected, every pipe usable and
// allowed kPipeMaximumTransferSize bytes per transfer.
PipeTablePtr MakePipeTable(const usbhost::InterfaceInfo& selected);

}  // namespace vantrel::driver
