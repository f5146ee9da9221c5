// The request blocks the driver builds, each made with SubmitUrbSync.
#pragma once

#include <cstdint>
#include <span>

#include "device/PipeTable.h"
#include "UrbSubmit.h"

namespace vantrel::driver {

inline constexpr std::uint8_t kDescriptorDevice = 1;
inline constexpr std::uint8_t kDescriptorConfiguration = 2;
inline constexpr std::uint8_t kDescriptorString = 3;

// bmRequestType bits.
inline constexpr std::uint8_t kRequestDeviceToHost = 0x80;
inline constexpr std::uint8_t kRequestClass = 0x20;
inline constexpr std::uint8_t kRequestVendor = 0x40;

// A control request's data stage carries at most this many bytes.
inline constexpr std::size_t kMaxControlData = 0xFFFF;

// GET_DESCRIPTOR from the device into `buffer`, asking for its size (at most
// kMaxControlData bytes).
UrbResult GetDescriptor(const DeviceContext& context, std::uint8_t type, std::uint8_t index,
                        std::uint16_t language, std::span<std::uint8_t> buffer);

// A control request on the default pipe; the data stage is `data` (at most
// kMaxControlData bytes) and its direction comes from setup.requestType.
UrbResult ControlTransfer(const DeviceContext& context, std::uint8_t requestType,
                          std::uint8_t request, std::uint16_t value, std::uint16_t index,
                          std::span<std::uint8_t> data, bool shortTransferOk);

// A bulk or interrupt transfer on `pipe`, its direction from the endpoint
// address; a short IN transfer is fine.
UrbResult PipeTransfer(const DeviceContext& context, const PipeInformation& pipe,
                       std::span<std::uint8_t> data);

// Resets `pipe` (clears its halt): the status, a failure kept as LastUrbError.
std::uint32_t ResetPipeEndpoint(const DeviceContext& context, const PipeInformation& pipe);

// After `transfer` on `pipe`: a pipe that stalled is reset, so that the next
// transfer on it, whoever makes it, is not refused. Called while the
// transfer's channel is still held.
void ResetIfStalled(const DeviceContext& context, const PipeInformation& pipe,
                    const UrbResult& transfer);

}  // namespace vantrel::driver
