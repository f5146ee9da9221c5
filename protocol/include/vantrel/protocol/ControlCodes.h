// The driver's control codes, statuses and request records, as both sides of
// the control interface see them. All multi-byte fields are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "k27/common/NtStatus.h"
#include "vantrel/protocol/UsbdStatus.h"

namespace vantrel::driver {

// NT status values carried back with every request.
using vantrel::common::NtStatus;
using enum vantrel::common::NtStatus;
using vantrel::common::NtFailed;

constexpr std::uint32_t CtlCode(std::uint32_t function, std::uint32_t method) {
  return (0x22u << 16) | (function << 2) | method;
}

enum ControlCode : std::uint32_t {
  IOCTL_VIO_GET_PIPE_TABLE = CtlCode(0x800, 0),
  IOCTL_VIO_GET_DEVICE_DESCRIPTOR = CtlCode(0x801, 0),
  IOCTL_VIO_GET_CONFIG_DESCRIPTOR = CtlCode(0x802, 0),
  IOCTL_VIO_VENDOR_REQUEST = CtlCode(0x805, 0),
  IOCTL_VIO_NOP = CtlCode(0x806, 0),
  IOCTL_VIO_DOWNLOAD_BLOCKS = CtlCode(0x807, 0),
  IOCTL_VIO_RESET_PORT = CtlCode(0x80C, 1),
  IOCTL_VIO_RESET_PIPE = CtlCode(0x80D, 1),
  IOCTL_VIO_ABORT_PIPE = CtlCode(0x80F, 1),
  IOCTL_VIO_SELECT_INTERFACE = CtlCode(0x810, 0),
  IOCTL_VIO_GET_STRING_DESCRIPTOR = CtlCode(0x811, 0),
  IOCTL_VIO_PIPE_READ = CtlCode(0x813, 2),
  IOCTL_VIO_PIPE_WRITE = CtlCode(0x814, 1),
  IOCTL_VIO_GET_FRAME_NUMBER = CtlCode(0x815, 0),
  IOCTL_VIO_CONTROL_REQUEST = CtlCode(0x816, 1),
  IOCTL_VIO_GET_LAST_URB_ERROR = CtlCode(0x817, 0),
  IOCTL_VIO_ISO_READ = CtlCode(0x819, 2),
  IOCTL_VIO_ISO_WRITE = CtlCode(0x81A, 1),
  IOCTL_VIO_DOWNLOAD_AT = CtlCode(0x81B, 1),
  IOCTL_VIO_GET_DRIVER_VERSION = CtlCode(0x81D, 0),
  IOCTL_VIO_START_ISO_STREAM = CtlCode(0x81E, 0),
  IOCTL_VIO_STOP_ISO_STREAM = CtlCode(0x81F, 0),
  IOCTL_VIO_READ_ISO_STREAM = CtlCode(0x820, 2),
  IOCTL_VIO_BULK_EXCHANGE = CtlCode(0x828, 0),
};
static_assert(IOCTL_VIO_BULK_EXCHANGE == 0x2220A0);
static_assert(IOCTL_VIO_SELECT_INTERFACE == 0x222040);
static_assert(IOCTL_VIO_READ_ISO_STREAM == 0x222082);

// Who may use a code. A board client (a member of the board group) gets the
// board's protocol: the interface selection, the bulk exchanges and the reads
// that change nothing (descriptors, versions, the pipe table, the frame
// number, the last request block error). The raw codes, which can take
// another client's replies, halt or reset pipes, rewrite the 8051's memory or
// hold the bus, are maintenance: for privileged clients only (root, the
// daemon's own user, the administrators' group). A code that is no control
// code is refused as such, whoever sends it.
enum class CodeAccess { BoardProtocol, Maintenance, Unknown };

constexpr CodeAccess AccessOf(std::uint32_t code) {
  // Over the enumeration without a default: a code added to it and not
  // placed here is a compiler warning, an error in our builds.
  switch (static_cast<ControlCode>(code)) {
    case IOCTL_VIO_SELECT_INTERFACE:
    case IOCTL_VIO_BULK_EXCHANGE:
    case IOCTL_VIO_GET_PIPE_TABLE:
    case IOCTL_VIO_GET_DEVICE_DESCRIPTOR:
    case IOCTL_VIO_GET_CONFIG_DESCRIPTOR:
    case IOCTL_VIO_GET_STRING_DESCRIPTOR:
    case IOCTL_VIO_GET_DRIVER_VERSION:
    case IOCTL_VIO_NOP:
    case IOCTL_VIO_GET_LAST_URB_ERROR:
    case IOCTL_VIO_GET_FRAME_NUMBER:
      return CodeAccess::BoardProtocol;
    case IOCTL_VIO_VENDOR_REQUEST:
    case IOCTL_VIO_DOWNLOAD_BLOCKS:
    case IOCTL_VIO_RESET_PORT:
    case IOCTL_VIO_RESET_PIPE:
    case IOCTL_VIO_ABORT_PIPE:
    case IOCTL_VIO_PIPE_READ:
    case IOCTL_VIO_PIPE_WRITE:
    case IOCTL_VIO_CONTROL_REQUEST:
    case IOCTL_VIO_ISO_READ:
    case IOCTL_VIO_ISO_WRITE:
    case IOCTL_VIO_DOWNLOAD_AT:
    case IOCTL_VIO_START_ISO_STREAM:
    case IOCTL_VIO_STOP_ISO_STREAM:
    case IOCTL_VIO_READ_ISO_STREAM:
      return CodeAccess::Maintenance;
  }
  return CodeAccess::Unknown;
}

inline std::uint32_t LoadLe32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}
inline void StoreLe32(std::uint8_t* p, std::uint32_t v) {
  p[0] = std::uint8_t(v);
  p[1] = std::uint8_t(v >> 8);
  p[2] = std::uint8_t(v >> 16);
  p[3] = std::uint8_t(v >> 24);
}

// The request and reply block of one command/response exchange.
struct BulkExchangeBlock {
  static constexpr std::size_t kSize = 144;
  static constexpr std::size_t kHeaderSize = 16;
  static constexpr std::size_t kDataSize = kSize - kHeaderSize;
  static constexpr std::size_t kOutPipe = 0, kInPipe = 4, kOutLength = 8, kInLength = 12;
};

struct InterfaceSelectRecord {
  static constexpr std::size_t kSize = 2;
  std::uint8_t interfaceNumber;
  std::uint8_t alternateSetting;
};

inline std::uint16_t LoadLe16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline void StoreLe16(std::uint8_t* p, std::uint16_t v) {
  p[0] = std::uint8_t(v);
  p[1] = std::uint8_t(v >> 8);
}

// Input of IOCTL_VIO_VENDOR_REQUEST.
struct VendorRequestRecord {
  static constexpr std::size_t kSize = 10;
  static constexpr std::size_t kRequest = 0, kValue = 2, kIndex = 4, kLength = 6, kDirection = 8,
                               kDataByte = 9;
};

// Input of IOCTL_VIO_CONTROL_REQUEST.
struct ControlRequestRecord {
  static constexpr std::size_t kSize = 10;
  static constexpr std::size_t kDirection = 0, kRequestType = 1, kRecipient = 2, kRequest = 4,
                               kValue = 6, kIndex = 8;
  static constexpr std::uint8_t kTypeClass = 1, kTypeVendor = 2;
};

// Input of IOCTL_VIO_GET_STRING_DESCRIPTOR.
struct StringDescriptorRequest {
  static constexpr std::size_t kSize = 4;
  static constexpr std::size_t kIndex = 0, kLanguage = 2;
};

// Input of the pipe codes: a position in the pipe table.
struct PipeIndexRecord {
  static constexpr std::size_t kSize = 4;
};

// Output of IOCTL_VIO_GET_DRIVER_VERSION: three 16-bit numbers.
struct DriverVersionRecord {
  static constexpr std::size_t kSize = 6;
  static constexpr std::uint16_t kMajor = 1, kMinor = 1, kBuild = 0;
};

// Input of the isochronous codes: five 32-bit fields.
struct IsoTransferRecord {
  static constexpr std::size_t kSize = 20;
  static constexpr std::size_t kPipeIndex = 0, kPacketSize = 4, kPacketCount = 8,
                               kFramesPerBuffer = 12, kBufferCount = 16;
  static constexpr std::size_t kPacketStatusSize = 12;
};

// Output of IOCTL_VIO_GET_PIPE_TABLE: the selected interface's information
// record, a 16-byte header followed by one 20-byte record per pipe.
struct PipeTableImage {
  static constexpr std::size_t kHeaderSize = 16;
  // Header: u16 total length, u8 interface number, u8 alternate setting,
  // u8 class, u8 subclass, u8 protocol, u8 reserved, u32 interface handle,
  // u32 number of pipes.
  static constexpr std::size_t kLength = 0, kInterfaceNumber = 2, kAlternateSetting = 3, kClass = 4,
                               kSubClass = 5, kProtocol = 6, kInterfaceHandle = 8,
                               kNumberOfPipes = 12;
  static constexpr std::size_t kPipeSize = 20;
  // Pipe: u16 maximum packet size, u8 endpoint address, u8 interval, u32 pipe
  // type (0 control, 1 isochronous, 2 bulk, 3 interrupt), u32 pipe handle
  // (non-zero when the pipe can be used), u32 maximum transfer size, u32 flags.
  static constexpr std::size_t kMaximumPacketSize = 0, kEndpointAddress = 2, kInterval = 3,
                               kPipeType = 4, kPipeHandle = 8, kMaximumTransferSize = 12,
                               kPipeFlags = 16;
};

}  // namespace vantrel::driver
