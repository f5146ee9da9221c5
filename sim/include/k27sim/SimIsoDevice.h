// A simulated device with one isochronous IN and one isochronous OUT
// endpoint on interface 0, for the driver's isochronous transfers and
// stream. The IN endpoint sends one packet per frame in a counting pattern;
// the OUT endpoint is a sink. Faults can be injected per packet.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "k27sim/SimUsb.h"

namespace vantrel::sim {

class UsbStandardRequests;

struct SimIsoDeviceOptions {
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::uint16_t maxPacketSize = 256;  // of both endpoints
};

class SimIsoDevice : public SimUsbDevice {
 public:
  static constexpr std::uint8_t kInEndpoint = 0x81;
  static constexpr std::uint8_t kOutEndpoint = 0x02;
  // Bytes 0-3 of an IN packet: its sequence number on the endpoint; 4-7:
  // the frame it was sent in (both little-endian); byte k >= 8 holds
  // (sequence + k) mod 256. A shorter packet holds the start of that.
  static constexpr std::size_t kPacketHeader = 8;

  explicit SimIsoDevice(SimIsoDeviceOptions options);
  ~SimIsoDevice() override;

  std::uint16_t VendorId() const override;
  std::uint16_t ProductId() const override;
  // The standard requests; class and vendor requests stall.
  UsbTransferOutcome Control(const UsbSetup& setup, std::span<std::uint8_t> data) override;
  // The device has no bulk or interrupt endpoints: these stall.
  UsbTransferOutcome Out(std::uint8_t endpoint, std::span<const std::uint8_t> data) override;
  UsbTransferOutcome In(std::uint8_t endpoint, std::span<std::uint8_t> buffer) override;
  // Packet j goes in frame startFrame + j. IN packets carry at most the
  // endpoint's packet size; an OUT packet larger than that fails. Stalls
  // unless configured and `endpoint` is one of the two.
  UsbTransferOutcome Isochronous(std::uint8_t endpoint, std::span<std::uint8_t> buffer,
                                 std::span<UsbIsoPacket> packets,
                                 std::uint32_t startFrame) override;
  void PortReset() override;

  // The next `count` packets, IN or OUT, fail: nothing moves and the
  // packet reports an error. A failed IN packet still uses its sequence
  // number, as a packet lost on the bus would.
  void InjectPacketFaults(std::uint32_t count);

  // IN packets sent (failed ones included): the next sequence number.
  std::uint32_t PacketsSent() const;
  // Isochronous transfers served, on either endpoint.
  std::uint32_t TransfersServed() const;
  // The frame of the last packet served.
  std::uint32_t LastFrame() const;
  // The bytes the OUT endpoint took, in order (the first MiB).
  std::vector<std::uint8_t> Received() const;

 private:
  bool TakeFault();

  const SimIsoDeviceOptions options_;
  mutable std::mutex mutex_;
  std::unique_ptr<UsbStandardRequests> requests_;
  std::uint32_t faults_ = 0;
  std::uint32_t sequence_ = 0;
  std::uint32_t transfers_ = 0;
  std::uint32_t lastFrame_ = 0;
  std::vector<std::uint8_t> received_;
};

}  // namespace vantrel::sim
