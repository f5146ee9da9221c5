// The bus of a simulated daemon: each board starts as a bare EZ-USB part on
// its own port, so that every start runs the firmware load, the
// re-enumeration and the driver's start as with hardware. Board N sits on
// port N + 1; isochronous devices take the ports after the boards'.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "k27sim/SimBoard.h"
#include "k27sim/SimEzUsbPart.h"
#include "k27sim/SimUsb.h"
#include "vantrel/usbhost/Backends.h"

namespace vantrel::driver {

struct SimulatedBusSettings {
  unsigned boards = 1;
  unsigned eepromBytes = 32768;
  usbhost::UsbId loaderId{};  // the bare part's
  usbhost::UsbId boardId{};   // what the isochronous devices present
};

class SimulatedBus {
 public:
  explicit SimulatedBus(const SimulatedBusSettings& settings);

  void PlugBoard(std::size_t board);
  // Isochronous devices carry the board's identifiers so that they are
  // served as boards; as many as there are free ports.
  void PlugIsoDevices(unsigned count);
  // The console's plug hooks: false for a board that does not exist or is
  // already out (in).
  bool Unplug(int board);
  bool Plug(int board);

  vantrel::sim::SimUsbBus& Bus() { return bus_; }
  const std::vector<std::shared_ptr<vantrel::sim::SimBoard>>& Boards() const { return boards_; }

 private:
  std::shared_ptr<vantrel::sim::SimEzUsbPart> BarePart(std::size_t board) const;

  const SimulatedBusSettings settings_;
  vantrel::sim::SimUsbBus bus_;
  std::vector<std::shared_ptr<vantrel::sim::SimBoard>> boards_;
};

}  // namespace vantrel::driver
