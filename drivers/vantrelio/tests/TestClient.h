// A minimal client of the daemon's control sockets, for the tests: one
// request per SOCK_SEQPACKET message, one reply back.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "k27/common/UniqueFd.h"

namespace vantrel::driver::test {

struct Reply {
  std::uint32_t status = 0;
  std::uint32_t information = 0;
  std::vector<std::uint8_t> output;  // the bytes after the reply header
};

class TestClient {
 public:
  // Connects; throws std::system_error when it cannot.
  explicit TestClient(const std::filesystem::path& socket);
  ~TestClient();
  TestClient(const TestClient&) = delete;
  TestClient& operator=(const TestClient&) = delete;

  // One well-formed request and its reply.
  Reply Control(std::uint32_t code, std::span<const std::uint8_t> in, std::uint32_t outLength);
  // Any bytes as one message, for malformed requests.
  void SendRaw(std::span<const std::uint8_t> message);
  // Sends without waiting; false when the socket cannot take it now.
  bool TrySend(std::span<const std::uint8_t> message);
  // Waits for one reply; throws std::runtime_error on time-out or when the
  // server closed the connection.
  Reply Receive(int timeoutMs = 10000);
  // True when the server ended the connection within the time.
  bool WaitForClose(int timeoutMs = 10000);
  void Close();

 private:
  vantrel::common::UniqueFd fd_;
};

// A request message: header and input.
std::vector<std::uint8_t> RequestMessage(std::uint32_t code, std::uint32_t inLength,
                                         std::uint32_t outLength,
                                         std::span<const std::uint8_t> input);

// A bulk-exchange block as the board API library builds it for channel c:
// OutPipe 2c-1, InPipe 2c-2, the command bytes in Data.
std::vector<std::uint8_t> ExchangeBlock(int channel, std::span<const std::uint8_t> command,
                                        std::uint32_t inLength = 65);
std::vector<std::uint8_t> ExchangeBlock(std::uint32_t outPipe, std::uint32_t inPipe,
                                        std::span<const std::uint8_t> command,
                                        std::uint32_t inLength);

// The response part of a returned block: InLength bytes of Data.
std::vector<std::uint8_t> ResponseOf(std::span<const std::uint8_t> block);

// A fresh, short folder under /tmp (socket paths have a small length limit).
std::filesystem::path MakeTempDir();

}  // namespace vantrel::driver::test
