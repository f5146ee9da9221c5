#include "BoardStart.h"

#include "usb/ConfigDescriptorRead.h"
#include "usb/UsbRequests.h"
#include "vantrel/protocol/ControlCodes.h"

namespace vantrel::driver {

namespace {

constexpr std::size_t kConfigHeader = 9;
constexpr std::size_t kConfigValueOffset = 5;  // bConfigurationValue

}  // namespace

std::uint32_t StartBoardDevice(const DeviceContext& context) {
  BoardDeviceState& state = context.state;
  state.linkCreated.store(true);

  // The previous start's descriptor goes; a failed read leaves none.
  state.SetDeviceDesc(std::nullopt);
  DeviceDescriptor deviceDesc{};
  const UrbResult device = GetDescriptor(context, kDescriptorDevice, 0, 0, deviceDesc);
  if (NtFailed(device.status)) return device.status;
  state.SetDeviceDesc(deviceDesc);

  // The header first, for wTotalLength.
  std::vector<std::uint8_t> header(25);
  const UrbResult first = GetDescriptor(context, kDescriptorConfiguration, 0, 0,
                                        std::span(header).first(kConfigHeader));
  if (NtFailed(first.status)) return first.status;
  if (first.transferred < kConfigHeader) return STATUS_UNSUCCESSFUL;
  const std::size_t asked = std::size_t{ConfigTotalLength(header.data())} + 16;

  std::vector<std::uint8_t> config(asked);
  const UrbResult whole = GetDescriptor(context, kDescriptorConfiguration, 0, 0, config);
  if (NtFailed(whole.status)) return whole.status;
  config.resize(whole.transferred);
  return SelectBoardConfiguration(context, config);
}

std::uint32_t SelectBoardConfiguration(const DeviceContext& context,
                                       const std::vector<std::uint8_t>& config) {
  usbhost::InterfaceInfo first;
  if (config.size() < kConfigHeader || !usbhost::ParseInterface(config, -1, -1, &first))
    return STATUS_UNSUCCESSFUL;
  const std::uint8_t configValue = config[kConfigValueOffset];

  usbhost::InterfaceInfo selected;
  const std::uint32_t status = CompleteUrbStatus(
      context.state, context.usb.SelectConfiguration(configValue, first.number,
                                                     first.alternateSetting, &selected));
  if (NtFailed(status)) return status;
  context.state.SetConfigHandle(configValue);
  context.state.SetPipeTable(MakePipeTable(selected));
  return STATUS_SUCCESS;
}

}  // namespace vantrel::driver
