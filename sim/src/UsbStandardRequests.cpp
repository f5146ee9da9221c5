#include "UsbStandardRequests.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "UsbDescriptorTypes.h"

namespace vantrel::sim {

namespace {

// bmRequestType values of the requests served here.
constexpr std::uint8_t kInToDevice = 0x80;
constexpr std::uint8_t kOutToDevice = 0x00;
constexpr std::uint8_t kOutToInterface = 0x01;
constexpr std::uint8_t kOutToEndpoint = 0x02;

constexpr std::uint8_t kClearFeature = 1;
constexpr std::uint8_t kGetDescriptor = 6;
constexpr std::uint8_t kGetConfiguration = 8;
constexpr std::uint8_t kSetConfiguration = 9;
constexpr std::uint8_t kSetInterface = 11;

constexpr std::uint16_t kEndpointHalt = 0;

constexpr UsbTransferOutcome kStall{UsbOutcome::Stall, 0};
constexpr UsbTransferOutcome kDone{UsbOutcome::Ack, 0};

UsbTransferOutcome CopyIn(const std::vector<std::uint8_t>& source, const UsbSetup& setup,
                          std::span<std::uint8_t> data) {
  const std::size_t n =
      std::min({source.size(), static_cast<std::size_t>(setup.length), data.size()});
  if (n) std::memcpy(data.data(), source.data(), n);
  return {UsbOutcome::Ack, n};
}

}  // namespace

UsbStandardRequests::UsbStandardRequests(UsbDescriptors descriptors)
    : descriptors_(std::move(descriptors)) {}

UsbTransferOutcome UsbStandardRequests::Handle(const UsbSetup& setup,
                                               std::span<std::uint8_t> data) {
  switch (setup.request) {
    case kGetDescriptor:
      return setup.requestType == kInToDevice ? GetDescriptor(setup, data) : kStall;
    case kGetConfiguration:
      if (setup.requestType != kInToDevice || setup.value != 0 || setup.index != 0) return kStall;
      return CopyIn({configuration_}, setup, data);
    case kSetConfiguration:
      return setup.requestType == kOutToDevice ? SetConfiguration(setup) : kStall;
    case kSetInterface:
      return setup.requestType == kOutToInterface ? SetInterface(setup) : kStall;
    case kClearFeature:
      return setup.requestType == kOutToEndpoint ? ClearFeature(setup) : kStall;
    default:
      return kStall;
  }
}

UsbTransferOutcome UsbStandardRequests::GetDescriptor(const UsbSetup& setup,
                                                      std::span<std::uint8_t> data) const {
  const std::uint8_t type = static_cast<std::uint8_t>(setup.value >> 8);
  const std::uint8_t index = static_cast<std::uint8_t>(setup.value);
  switch (type) {
    case usbdesc::kDevice:
      return index == 0 ? CopyIn(descriptors_.device, setup, data) : kStall;
    case usbdesc::kConfiguration:
      return index == 0 ? CopyIn(descriptors_.configuration, setup, data) : kStall;
    case usbdesc::kString:
      // Every string is given in the one language the device lists,
      // whatever language the request names.
      return index < descriptors_.strings.size() ? CopyIn(descriptors_.strings[index], setup, data)
                                                 : kStall;
    default:
      return kStall;
  }
}

UsbTransferOutcome UsbStandardRequests::SetConfiguration(const UsbSetup& setup) {
  if (setup.index != 0 || setup.length != 0) return kStall;
  if (setup.value != 0 && setup.value != descriptors_.ConfigurationValue()) return kStall;
  configuration_ = static_cast<std::uint8_t>(setup.value);
  alternates_.clear();
  halted_.clear();
  return kDone;
}

UsbTransferOutcome UsbStandardRequests::SetInterface(const UsbSetup& setup) {
  if (configuration_ == 0 || setup.length != 0 || setup.index > 0xFF || setup.value > 0xFF)
    return kStall;
  const UsbInterfaceSetting wanted{static_cast<std::uint8_t>(setup.index),
                                   static_cast<std::uint8_t>(setup.value)};
  const auto& settings = descriptors_.interfaceSettings;
  if (std::find(settings.begin(), settings.end(), wanted) == settings.end()) return kStall;
  alternates_[wanted.number] = wanted.alternate;
  for (const UsbEndpointInfo& endpoint : descriptors_.endpoints)
    if (endpoint.setting.number == wanted.number) halted_.erase(endpoint.address);
  return kDone;
}

UsbTransferOutcome UsbStandardRequests::ClearFeature(const UsbSetup& setup) {
  if (setup.value != kEndpointHalt || setup.length != 0 || setup.index > 0xFF) return kStall;
  const std::uint8_t address = static_cast<std::uint8_t>(setup.index);
  if ((address & 0x7F) == 0) return kDone;  // endpoint 0 never stays halted
  if (!ActiveEndpoint(address)) return kStall;
  halted_.erase(address);
  return kDone;
}

const UsbEndpointInfo* UsbStandardRequests::ActiveEndpoint(std::uint8_t address) const {
  if (configuration_ == 0) return nullptr;
  for (const UsbEndpointInfo& endpoint : descriptors_.endpoints) {
    if (endpoint.address != address) continue;
    const auto selected = alternates_.find(endpoint.setting.number);
    const std::uint8_t alternate = selected == alternates_.end() ? 0 : selected->second;
    if (endpoint.setting.alternate == alternate) return &endpoint;
  }
  return nullptr;
}

void UsbStandardRequests::Reset() {
  configuration_ = 0;
  alternates_.clear();
  halted_.clear();
}

}  // namespace vantrel::sim
