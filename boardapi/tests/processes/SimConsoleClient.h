// Commands to the simulated daemon's console socket, as k27simctl sends them.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <vantrel/protocol/SimConsoleProtocol.h>

#include "link/SocketDeviceLink.h"

namespace vantrel::test {

// The console's answer to one command, or "<no console>" / "<refused>".
inline std::string Console(const std::filesystem::path& socket,
                           const std::vector<std::string>& words) {
  auto link = SocketDeviceLink::Connect(socket.string());
  if (!link) return "<no console>";
  std::string request = "0\n";
  for (const auto& w : words) request += w + "\n";
  std::vector<std::uint8_t> reply(4096);
  std::uint32_t returned = 0;
  if (!link->Control(driver::kSimConsoleCode,
                     {reinterpret_cast<const std::uint8_t*>(request.data()), request.size()}, reply,
                     &returned) ||
      returned == 0 || reply[0] != '0')
    return "<refused>";
  return std::string(reply.begin() + 1, reply.begin() + returned);
}

}  // namespace vantrel::test
