// One control request on a connected SOCK_SEQPACKET socket.
//   request: u32 code, u32 input length, u32 output length, then the input
//            bytes; for codes of the "in direct" method (code & 3 == 1), whose
//            output buffer carries data to the device, the output bytes follow
//   reply:   u32 status, u32 information, then the output bytes (none on
//            failure); the datagram's length says how many there are, which
//            is the information count except for the codes whose information
//            is not one (the isochronous transfers: 0)
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantrel::driver {

struct ControlProtocol {
  // The output buffer of these codes holds data for the device.
  static constexpr bool SendsOutputBuffer(std::uint32_t code) { return (code & 3u) == 1u; }
  static constexpr std::size_t kRequestHeader = 12;
  static constexpr std::size_t kReplyHeader = 8;
  // Largest input or output a request may carry; anything larger is refused.
  static constexpr std::size_t kMaxPayload = 128 * 1024;
  // Socket name of board instance N inside the device folder.
  static constexpr const char* kSocketPrefix = "ezusb-";
  static constexpr const char* kDefaultDeviceDir = "/run/vantrel";
  static constexpr const char* kDeviceDirEnv = "VANTREL_DEVICE_DIR";
};

}  // namespace vantrel::driver
