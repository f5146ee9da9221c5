// The start of a board device: its descriptors read, its configuration
// selected with the first interface, and the pipe table kept.
#pragma once

#include <cstdint>
#include <vector>

#include "usb/UrbSubmit.h"

namespace vantrel::driver {

// Returns the start's status; on success DeviceDesc, ConfigHandle and
// PipeTable hold what this start read and selected.
std::uint32_t StartBoardDevice(const DeviceContext& context);

// Selects the configuration described by `config` (a whole configuration
// descriptor) with its first interface, whatever that interface's number and
// alternate setting; on success keeps its pipe table.
std::uint32_t SelectBoardConfiguration(const DeviceContext& context,
                                       const std::vector<std::uint8_t>& config);

}  // namespace vantrel::driver
