// A scripted board behind the USB host interface: the board firmware's
// descriptors and 14 bulk endpoints, a reply to every command, and faults
// that tests inject per endpoint. Thread-safe.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "vantrel/usbhost/UsbHost.h"

namespace vantrel::driver::fake {

using Bytes = std::vector<std::uint8_t>;
namespace usb = vantrel::usbhost;

enum class Fault {
  None,
  NakForever,  // the transfer stays pending until it is cancelled
  Stall,       // ends with USBD_STATUS_STALL_PID
  Fail,        // ends with USBD_STATUS_DEV_NOT_RESPONDING
};

struct FakeInterface {
  std::uint8_t number = 0;
  std::uint8_t alternate = 0;
  std::vector<usb::EndpointInfo> endpoints;
};

// 0x81, 0x01, ..., 0x87, 0x07, bulk, 64-byte packets.
std::vector<usb::EndpointInfo> BoardEndpoints();
// Configuration value 1 with the given interface settings, in order.
Bytes ConfigDescriptor(const std::vector<FakeInterface>& interfaces);
Bytes BoardDeviceDescriptor();

struct ControlCall {
  usb::SetupPacket setup;
  Bytes data;  // host to device: the bytes sent
};

class FakeTransfer;

class FakeUsbBoard : public usb::UsbDevice {
 public:
  FakeUsbBoard();
  ~FakeUsbBoard() override;

  // The reply the board queues on channel c for a command; nothing: it never
  // replies. Default: the command byte and status 0.
  using Responder = std::function<std::optional<Bytes>(int channel, const Bytes& command)>;
  void SetResponder(Responder responder);
  void QueueReply(int channel, Bytes reply);
  void SetFault(std::uint8_t endpoint, Fault fault);
  // Faults of control transfers, chosen per request.
  void SetControlFault(std::function<Fault(const usb::SetupPacket&)> fault);
  void SetDescriptors(Bytes device, std::vector<FakeInterface> interfaces);
  void SetConfigDescriptor(Bytes config);  // served as is
  void SetSelectStatus(std::uint32_t status);
  void SetFrameNumber(std::optional<std::uint32_t> frame);
  // Served to device-to-host vendor and class requests.
  void SetVendorInData(Bytes data);

  std::vector<ControlCall> ControlCalls() const;
  std::vector<Bytes> Written(std::uint8_t endpoint) const;
  std::vector<std::uint8_t> Aborted() const;
  std::vector<std::uint8_t> ResetEndpoints() const;
  int SelectConfigurationCalls() const;
  int SelectInterfaceCalls() const;
  int DeconfigureCalls() const;
  // Waits until `count` transfers are pending on the endpoint.
  bool WaitPending(std::uint8_t endpoint, std::size_t count = 1,
                   std::chrono::milliseconds limit = std::chrono::seconds(10)) const;
  // Ends every pending transfer on the endpoint with USBD_STATUS_DEV_NOT_RESPONDING.
  void FailPending(std::uint8_t endpoint);

  usb::DeviceIdentity Identity() const override { return {}; }
  std::shared_ptr<usb::PendingTransfer> Submit(usb::TransferRequest request) override;
  std::uint32_t SelectConfiguration(std::uint8_t configurationValue, std::uint8_t interface,
                                    std::uint8_t alternate, usb::InterfaceInfo* selected) override;
  std::uint32_t Deconfigure() override;
  std::uint32_t SelectInterface(std::uint8_t interface, std::uint8_t alternate,
                                usb::InterfaceInfo* selected) override;
  void AbortEndpoint(std::uint8_t endpoint) override;
  std::uint32_t ResetEndpoint(std::uint8_t endpoint) override;
  std::uint32_t ResetPort() override { return usb::USBD_STATUS_DEV_NOT_RESPONDING; }
  std::optional<std::uint32_t> CurrentFrameNumber() override;

 private:
  void Control(const std::shared_ptr<FakeTransfer>& transfer, const usb::TransferRequest& request);
  bool Find(std::uint8_t number, std::uint8_t alternate, usb::InterfaceInfo* info) const;
  void DeliverReplies(int channel);

  mutable std::mutex mutex_;
  Responder responder_;
  std::map<std::uint8_t, Fault> faults_;
  std::function<Fault(const usb::SetupPacket&)> controlFault_;
  Bytes device_;
  Bytes config_;
  std::vector<FakeInterface> interfaces_;
  std::uint32_t selectStatus_ = usb::USBD_STATUS_SUCCESS;
  std::optional<std::uint32_t> frame_;
  Bytes vendorInData_;
  std::map<int, std::deque<Bytes>> replies_;
  std::map<std::uint8_t, std::vector<std::shared_ptr<FakeTransfer>>> pending_;
  std::vector<ControlCall> controlCalls_;
  std::map<std::uint8_t, std::vector<Bytes>> written_;
  std::vector<std::uint8_t> aborted_, resetEndpoints_;
  int selectConfigurationCalls_ = 0, selectInterfaceCalls_ = 0, deconfigureCalls_ = 0;
};

}  // namespace vantrel::driver::fake
