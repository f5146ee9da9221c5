// The descriptor codes and the selection of another interface setting.
#include <vector>

#include "usb/ConfigDescriptorRead.h"
#include "ControlActions.h"
#include "usb/UsbRequests.h"
#include "vantrel/protocol/ControlCodes.h"

namespace vantrel::driver {

namespace {

constexpr std::size_t kDeviceDescriptorSize = 18;

// Success whatever the read did; information is what it read.
ControlResult ReadIntoOutput(const UrbResult& read) {
  if (NtFailed(read.status)) return {STATUS_SUCCESS, 0};
  return {STATUS_SUCCESS, static_cast<std::uint32_t>(read.transferred)};
}

}  // namespace

ControlResult GetDeviceDescriptor(const DeviceContext& context, OutBuffer out) {
  if (out.size() < kDeviceDescriptorSize) return {STATUS_INVALID_PARAMETER, 0};
  return ReadIntoOutput(
      GetDescriptor(context, kDescriptorDevice, 0, 0, out.first(kDeviceDescriptorSize)));
}

ControlResult GetConfigDescriptor(const DeviceContext& context, OutBuffer out) {
  return ReadIntoOutput(GetDescriptor(context, kDescriptorConfiguration, 0, 0, out));
}

ControlResult GetStringDescriptor(const DeviceContext& context, InBuffer in, OutBuffer out) {
  using R = StringDescriptorRequest;
  if (in.size() < R::kSize || out.empty()) return {STATUS_INVALID_PARAMETER, 0};
  const UrbResult read = GetDescriptor(context, kDescriptorString, in[R::kIndex],
                                       LoadLe16(in.data() + R::kLanguage), out);
  if (NtFailed(read.status)) return {read.status, 0};
  if (read.transferred == 0) return {STATUS_UNSUCCESSFUL, 0};
  return {STATUS_SUCCESS, static_cast<std::uint32_t>(read.transferred)};
}

ControlResult SelectInterface(const DeviceContext& context, InBuffer in) {
  if (in.size() < InterfaceSelectRecord::kSize) return {STATUS_INVALID_PARAMETER, 0};
  const std::uint8_t number = in[0];
  const std::uint8_t alternate = in[1];
  // Success in every case: when the selection cannot be made, the table of
  // the last successful one stays in force.
  const ControlResult done{STATUS_SUCCESS, 0};
  if (!context.state.ConfigHandle()) return done;
  const std::optional<std::vector<std::uint8_t>> config = ReadConfigDescriptorWhole(context);
  if (!config) return done;
  usbhost::InterfaceInfo described;
  if (!usbhost::ParseInterface(*config, number, alternate, &described)) return done;

  usbhost::InterfaceInfo selected;
  const std::uint32_t status =
      CompleteUrbStatus(context.state, context.usb.SelectInterface(number, alternate, &selected));
  if (!NtFailed(status)) context.state.SetPipeTable(MakePipeTable(selected));
  return done;
}

}  // namespace vantrel::driver
