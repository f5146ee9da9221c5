// A control server with a board socket for each handler, "ezusb-N" for
// handlers[N], as the device manager names them.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "server/ControlServer.h"
#include "vantrel/protocol/ControlProtocol.h"

namespace vantrel::driver::test {

inline std::unique_ptr<ControlServer> MakeBoardServer(const std::filesystem::path& deviceDir,
                                                      const std::vector<ControlHandler*>& handlers,
                                                      ControlServer::Log log = {}) {
  auto server = std::make_unique<ControlServer>(deviceDir, std::move(log));
  for (std::size_t n = 0; n < handlers.size(); ++n)
    server->AddEndpoint(std::string(ControlProtocol::kSocketPrefix) + std::to_string(n),
                        handlers[n]);
  return server;
}

}  // namespace vantrel::driver::test
