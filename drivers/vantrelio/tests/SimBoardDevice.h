// A started board device over a simulated board on a simulated bus of its
// own: the real driver behind a socket, for the tests of the socket server.
#pragma once

#include <chrono>
#include <future>
#include <memory>
#include <stdexcept>

#include "device/BoardDevice.h"
#include "k27sim/SimBoard.h"
#include "k27sim/SimUsb.h"
#include "k27sim/SimUsbBoard.h"
#include "vantrel/protocol/ControlCodes.h"
#include "vantrel/usbhost/Backends.h"

namespace vantrel::driver::test {

class SimBoardDevice {
 public:
  explicit SimBoardDevice(int instance)
      : board_(std::make_shared<vantrel::sim::SimBoard>()), host_(usbhost::MakeSimBus(bus_)) {
    auto arrival = std::make_shared<std::promise<std::shared_ptr<usbhost::UsbDevice>>>();
    auto arrived = arrival->get_future();
    host_->Start(
        {[arrival](std::shared_ptr<usbhost::UsbDevice> usb) { arrival->set_value(std::move(usb)); },
         {},
         {}});
    bus_.Plug(1, std::make_shared<vantrel::sim::SimUsbBoard>(board_, 0x1209, 0x0001));
    if (arrived.wait_for(std::chrono::seconds(10)) != std::future_status::ready)
      throw std::runtime_error("the simulated board did not arrive");
    device_ =
        std::make_unique<BoardDevice>(arrived.get(), instance, std::chrono::milliseconds(300));
    if (device_->Start() != STATUS_SUCCESS)
      throw std::runtime_error("the board device did not start");
  }
  ~SimBoardDevice() {
    device_->Remove();
    host_->Stop();
  }
  SimBoardDevice(const SimBoardDevice&) = delete;
  SimBoardDevice& operator=(const SimBoardDevice&) = delete;

  vantrel::sim::SimBoard& Board() { return *board_; }
  BoardDevice* Handler() { return device_.get(); }

 private:
  std::shared_ptr<vantrel::sim::SimBoard> board_;
  vantrel::sim::SimUsbBus bus_{1};
  std::unique_ptr<usbhost::SimHostBus> host_;
  std::unique_ptr<BoardDevice> device_;
};

}  // namespace vantrel::driver::test
