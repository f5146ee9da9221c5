// Descriptor type codes and lengths of the USB standard.
#pragma once

#include <cstdint>

namespace vantrel::sim::usbdesc {

inline constexpr std::uint8_t kDevice = 1;
inline constexpr std::uint8_t kConfiguration = 2;
inline constexpr std::uint8_t kString = 3;
inline constexpr std::uint8_t kInterface = 4;
inline constexpr std::uint8_t kEndpoint = 5;

inline constexpr std::uint8_t kDeviceLength = 18;
inline constexpr std::uint8_t kConfigurationLength = 9;
inline constexpr std::uint8_t kInterfaceLength = 9;
inline constexpr std::uint8_t kEndpointLength = 7;

}  // namespace vantrel::sim::usbdesc
