// The standard requests of endpoint 0, answered from a device's descriptors,
// and the device state they change: the configuration, the interfaces'
// settings and the halted endpoints. Not thread-safe: its owner locks.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <span>

#include "k27sim/SimUsb.h"
#include "k27sim/UsbDescriptorBlock.h"

namespace vantrel::sim {

class UsbStandardRequests {
 public:
  explicit UsbStandardRequests(UsbDescriptors descriptors);

  const UsbDescriptors& Descriptors() const { return descriptors_; }

  // GET_DESCRIPTOR (device, configuration, string), SET_CONFIGURATION,
  // GET_CONFIGURATION, SET_INTERFACE and CLEAR_FEATURE(ENDPOINT_HALT); any
  // other request stalls.
  UsbTransferOutcome Handle(const UsbSetup& setup, std::span<std::uint8_t> data);

  // The endpoint with that address in the selected configuration and
  // interface settings; nullptr when unconfigured or there is none.
  const UsbEndpointInfo* ActiveEndpoint(std::uint8_t address) const;
  bool Halted(std::uint8_t address) const { return halted_.contains(address); }
  void Halt(std::uint8_t address) { halted_.insert(address); }
  std::uint8_t Configuration() const { return configuration_; }

  // Back to the default state: unconfigured, nothing halted.
  void Reset();

 private:
  UsbTransferOutcome GetDescriptor(const UsbSetup& setup, std::span<std::uint8_t> data) const;
  UsbTransferOutcome SetConfiguration(const UsbSetup& setup);
  UsbTransferOutcome SetInterface(const UsbSetup& setup);
  UsbTransferOutcome ClearFeature(const UsbSetup& setup);

  UsbDescriptors descriptors_;
  std::uint8_t configuration_ = 0;
  std::map<std::uint8_t, std::uint8_t> alternates_;  // interface number -> selected setting
  std::set<std::uint8_t> halted_;
};

}  // namespace vantrel::sim
