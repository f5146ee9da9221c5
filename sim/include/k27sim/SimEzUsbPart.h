// The bare EZ-USB part of a K27 board before its firmware is loaded: it
// answers with the part's own identity, its USB core serves the
// firmware-load request (0xA0) for the internal memory and the CPU control
// register, and a first-stage loader, once running on the 8051, serves the
// external-memory request (0xA3). When the 8051 is let run with the board
// firmware in memory, the part leaves the bus and comes back on its port as
// a SimUsbBoard with the descriptors found in that firmware.
//
// A new part with the same SimBoard is the same board after a power cycle:
// the firmware is lost with the part's memory, the board's EEPROM and SRAM
// stay.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "k27sim/SimBoard.h"
#include "k27sim/SimUsb.h"
#include "k27sim/UsbDescriptorBlock.h"

namespace vantrel::sim {

struct SimEzUsbPartOptions {
  // The part's built-in identity.
  std::uint16_t vendorId = 0x0547;
  std::uint16_t productId = 0x2131;
  // How long the port stays empty between the part leaving and the board
  // arriving (about 100 ms on hardware).
  std::chrono::milliseconds reEnumerationDelay{0};
  // The write that lets the board firmware run answers Gone, as on a part
  // that leaves the bus before the request's status stage; by default it is
  // answered (Ack) and the part leaves as the request completes.
  bool runWriteFails = false;
};

// A write to the CPU control register: hold the 8051 in reset, or let it run.
enum class CpuControl { Hold, Run };

// One vendor request as the part saw it.
struct VendorRequestRecord {
  UsbSetup setup;
  std::vector<std::uint8_t> data;  // the first bytes of the data stage (sent or answered)
  UsbOutcome outcome = UsbOutcome::Ack;
};

class SimEzUsbPart : public SimUsbDevice {
 public:
  static constexpr std::uint8_t kFirmwareLoadRequest = 0xA0;
  static constexpr std::uint8_t kExternalMemoryRequest = 0xA3;
  static constexpr std::uint16_t kCpuControlAddress = 0x7F92;
  static constexpr std::uint16_t kInternalMemoryEnd = 0x1B3F;  // the last internal byte
  static constexpr std::size_t kLoggedRequests = 4096;
  static constexpr std::size_t kLoggedDataBytes = 16;

  // `board` is the board behind the device the part becomes.
  explicit SimEzUsbPart(std::shared_ptr<SimBoard> board, SimEzUsbPartOptions options = {});
  ~SimEzUsbPart() override;

  std::uint16_t VendorId() const override;
  std::uint16_t ProductId() const override;

  // Standard requests from the part's own descriptors (a vendor-class
  // interface without endpoints, no strings). Vendor requests to the device,
  // with value = address, index 0:
  //  - 0xA0 writes (host to device) or reads (device to host) a range wholly
  //    in the internal memory 0x0000-0x1B3F or in the register area
  //    0x7B40-0x7FFF, whether the 8051 runs or not (the part's USB core
  //    serves it). Bit 0 written to the CPU control register 0x7F92 holds
  //    the 8051 in reset (1) or lets it run (0); it reads back the same.
  //  - 0xA2 and 0xA3 read or write the 64 KiB external memory while a
  //    first-stage loader runs, that is, since the 8051 was last let run
  //    from reset with code written into the internal memory that does not
  //    hold a descriptor block of another identity at 0x0D6B.
  // Other vendor requests, those out of range and every class request stall.
  //
  // Letting the 8051 run when the internal memory holds, at 0x0D6B, a
  // descriptor block that ParseDescriptorBlock reads and whose identifiers
  // are not the part's own starts the board firmware: the part leaves the
  // bus and a SimUsbBoard with that block and this part's SimBoard comes
  // back on the port after the re-enumeration delay. With a zero delay the
  // bus reports both changes inside that Control call, on its thread.
  UsbTransferOutcome Control(const UsbSetup& setup, std::span<std::uint8_t> data) override;
  // The part has no endpoints but endpoint 0.
  UsbTransferOutcome Out(std::uint8_t endpoint, std::span<const std::uint8_t> data) override;
  UsbTransferOutcome In(std::uint8_t endpoint, std::span<std::uint8_t> buffer) override;
  // Unconfigures the part; the 8051 and the memories are not affected.
  void PortReset() override;

  const std::shared_ptr<SimBoard>& Board() const { return board_; }

  // What tests see.
  bool CpuHeld() const;        // the 8051 is held in reset (so at power-up)
  bool LoaderRunning() const;  // a first-stage loader serves 0xA3
  bool BoardFirmwareStarted() const;
  std::vector<CpuControl> CpuControlWrites() const;  // in order, since power-up
  // The last kLoggedRequests vendor requests, oldest first.
  std::vector<VendorRequestRecord> VendorRequests() const;
  // Cut at the memory's end.
  std::vector<std::uint8_t> InternalMemory(std::uint16_t address, std::size_t length) const;
  std::vector<std::uint8_t> ExternalMemory(std::uint16_t address, std::size_t length) const;

 private:
  struct State;
  std::optional<UsbDescriptors> WriteCpuControl(std::uint8_t value);

  std::shared_ptr<SimBoard> board_;
  const SimEzUsbPartOptions options_;
  std::unique_ptr<State> state_;
};

}  // namespace vantrel::sim
