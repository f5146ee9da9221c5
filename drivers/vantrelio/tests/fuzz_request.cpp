// libFuzzer target: one datagram as a client would send it to a board's
// socket, through the request decoder, the board device's control codes and
// the reply encoder. The device behind it answers every transfer at once:
// the board's 14 bulk pipes, an isochronous IN and OUT pipe (pipes 14 and
// 15) so that the isochronous codes get past their pipe check, and control
// requests with descriptors.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "device/BoardDevice.h"
#include "server/RequestCodec.h"
#include "vantrel/protocol/ControlCodes.h"
#include "vantrel/usbhost/UsbHost.h"

namespace {

namespace usb = vantrel::usbhost;
using vantrel::driver::BoardDevice;
using vantrel::driver::ControlResult;

constexpr std::uint8_t kIsoIn = 0x88;
constexpr std::uint8_t kIsoOut = 0x08;

std::vector<usb::EndpointInfo> Endpoints() {
  std::vector<usb::EndpointInfo> endpoints;
  for (std::uint8_t k = 1; k <= 7; ++k) {
    endpoints.push_back({static_cast<std::uint8_t>(0x80 | k), usb::EndpointType::Bulk, 64, 0});
    endpoints.push_back({k, usb::EndpointType::Bulk, 64, 0});
  }
  endpoints.push_back({kIsoIn, usb::EndpointType::Isochronous, 256, 1});
  endpoints.push_back({kIsoOut, usb::EndpointType::Isochronous, 256, 1});
  return endpoints;
}

std::vector<std::uint8_t> ConfigDescriptor() {
  const auto endpoints = Endpoints();
  const std::size_t total = 9 + 9 + 7 * endpoints.size();
  std::vector<std::uint8_t> config{9,
                                   2,
                                   static_cast<std::uint8_t>(total),
                                   static_cast<std::uint8_t>(total >> 8),
                                   1,
                                   1,
                                   0,
                                   0x80,
                                   50,
                                   9,
                                   4,
                                   0,
                                   0,
                                   static_cast<std::uint8_t>(endpoints.size()),
                                   0xFF,
                                   0,
                                   0,
                                   0};
  for (const auto& e : endpoints)
    config.insert(config.end(), {7, 5, e.address, static_cast<std::uint8_t>(e.type),
                                 static_cast<std::uint8_t>(e.maxPacketSize),
                                 static_cast<std::uint8_t>(e.maxPacketSize >> 8), e.interval});
  return config;
}

class DoneTransfer final : public usb::PendingTransfer {
 public:
  explicit DoneTransfer(usb::TransferResult result) : result_(std::move(result)) {}
  bool WaitFor(std::chrono::milliseconds) override { return true; }
  void Wait() override {}
  void Cancel() override {}
  bool Completed() const override { return true; }
  const usb::TransferResult& Result() const override { return result_; }

 private:
  usb::TransferResult result_;
};

// Completes every transfer inside Submit; keeps only the last command of
// each channel, so that memory stays flat over millions of inputs.
class InstantBoard final : public usb::UsbDevice {
 public:
  usb::DeviceIdentity Identity() const override { return {1, {1}, 0x1209, 0x0001}; }

  std::shared_ptr<usb::PendingTransfer> Submit(usb::TransferRequest request) override {
    usb::TransferResult result;
    switch (request.type) {
      case usb::TransferType::Control:
        result = ControlTransfer(request);
        break;
      case usb::TransferType::Isochronous:
        result.isoPackets = request.isoPackets;
        for (auto& packet : result.isoPackets) {
          // A packet the request places beyond its buffer fails, as on a bus.
          const bool fits = std::size_t(packet.offset) + packet.length <= request.data.size();
          packet.actualLength = fits ? packet.length : 0;
          packet.status = fits ? usb::USBD_STATUS_SUCCESS : usb::USBD_STATUS_ISO_TD_ERROR;
          result.transferred += packet.actualLength;
        }
        break;
      case usb::TransferType::Bulk:
      case usb::TransferType::Interrupt: {
        std::lock_guard lock(mutex_);
        const int channel = request.endpoint & 0x0F;
        if ((request.endpoint & 0x80) == 0) {
          last_[channel] = request.data.empty() ? 0 : request.data[0];
          result.transferred = request.data.size();
        } else {
          const std::uint8_t reply[] = {last_[channel], 0, 0x5A};
          result.transferred = std::min(request.data.size(), sizeof reply);
          std::copy_n(reply, result.transferred, request.data.begin());
        }
        break;
      }
    }
    return std::make_shared<DoneTransfer>(std::move(result));
  }

  std::uint32_t SelectConfiguration(std::uint8_t, std::uint8_t interface, std::uint8_t alternate,
                                    usb::InterfaceInfo* selected) override {
    return SelectInterface(interface, alternate, selected);
  }
  std::uint32_t Deconfigure() override { return usb::USBD_STATUS_SUCCESS; }
  std::uint32_t SelectInterface(std::uint8_t interface, std::uint8_t alternate,
                                usb::InterfaceInfo* selected) override {
    if (interface != 0 || alternate != 0) return usb::USBD_STATUS_INVALID_PARAMETER;
    if (selected != nullptr) *selected = {0, 0, 0xFF, 0, 0, Endpoints()};
    return usb::USBD_STATUS_SUCCESS;
  }
  void AbortEndpoint(std::uint8_t) override {}
  std::uint32_t ResetEndpoint(std::uint8_t) override { return usb::USBD_STATUS_SUCCESS; }
  std::uint32_t ResetPort() override { return usb::USBD_STATUS_SUCCESS; }
  std::optional<std::uint32_t> CurrentFrameNumber() override { return 1234; }

 private:
  usb::TransferResult ControlTransfer(const usb::TransferRequest& request) {
    usb::TransferResult result;
    const usb::SetupPacket& setup = request.setup;
    if ((setup.requestType & 0x80) == 0) {
      result.transferred = request.data.size();
      return result;
    }
    std::vector<std::uint8_t> reply;
    if ((setup.requestType & 0x60) == 0 && setup.request == 6) {
      switch (setup.value >> 8) {
        case 1:
          reply = {18, 1, 0x10, 0x01, 0, 0, 0, 64, 0x09, 0x12, 0x01, 0, 1, 0, 1, 2, 3, 1};
          break;
        case 2:
          reply = ConfigDescriptor();
          break;
        case 3:
          reply = {4, 3, 0x09, 0x04};
          break;
        default:
          result.status = usb::USBD_STATUS_STALL_PID;
          return result;
      }
    } else {
      reply.assign(request.data.size(), 0xA5);
    }
    result.transferred = std::min(reply.size(), request.data.size());
    std::copy_n(reply.begin(), result.transferred, request.data.begin());
    return result;
  }

  std::mutex mutex_;
  std::uint8_t last_[16] = {};
};

BoardDevice& Board() {
  static BoardDevice* board = [] {
    auto* device =
        new BoardDevice(std::make_shared<InstantBoard>(), 0, std::chrono::milliseconds(5));
    if (device->Start() != vantrel::driver::STATUS_SUCCESS) std::abort();
    return device;
  }();
  return *board;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  BoardDevice& board = Board();
  const auto request = vantrel::driver::DecodeRequest(std::span(data, size));
  std::vector<std::uint8_t> output;
  const auto reply = vantrel::driver::HandleRequest(board, request, output);
  // The reply never carries more than the caller's buffer holds.
  if (reply.outputBytes > output.size()) std::abort();
  // A stream an input started ends before the next input.
  if (request && request->code == vantrel::driver::IOCTL_VIO_START_ISO_STREAM)
    board.Control(vantrel::driver::IOCTL_VIO_STOP_ISO_STREAM, {}, {});
  return 0;
}
