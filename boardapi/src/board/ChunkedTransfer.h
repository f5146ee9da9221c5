// Long memory transfers cut into exchanges: reads of at most 62 bytes, writes
// of at most 60, each chunk at (start + offset) modulo 65,536.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include <vantrel/VantrelTypes.h>

namespace vantrel {

constexpr std::uint32_t kReadChunk = 62;
constexpr std::uint32_t kWriteChunk = 60;

// Exchange(command, channel, payload, payloadLength, reply, replyLength) -> int,
// as PerformUSBIO. OnEmpty(): records the failure of a reply that carried no data.
template <typename Exchange, typename OnEmpty>
int ChunkedRead(Exchange&& exchange, OnEmpty&& onEmpty, std::uint8_t command, int channel,
                std::uint16_t address, unsigned char* buffer, std::uint32_t length) {
  for (std::uint32_t offset = 0; offset < length;) {
    const std::uint32_t chunk = std::min(length - offset, kReadChunk);
    const std::uint16_t at = static_cast<std::uint16_t>(address + offset);
    unsigned char request[3] = {static_cast<unsigned char>(chunk),
                                static_cast<unsigned char>(at & 0xFF),
                                static_cast<unsigned char>(at >> 8)};
    unsigned char reply[kReadChunk];
    unsigned long got = 0;
    if (!exchange(command, channel, request, sizeof request, reply, &got)) return 0;
    // A board that returns more than asked must not write past the caller's
    // buffer; one that returns nothing would never finish.
    got = std::min<unsigned long>(got, chunk);
    if (got == 0) {
      onEmpty();
      return 0;
    }
    std::memcpy(buffer + offset, reply, got);
    offset += static_cast<std::uint32_t>(got);
  }
  return 1;
}

template <typename Exchange>
int ChunkedWrite(Exchange&& exchange, std::uint8_t command, int channel, std::uint16_t address,
                 const unsigned char* data, std::uint32_t length) {
  for (std::uint32_t offset = 0; offset < length;) {
    const std::uint32_t chunk = std::min(length - offset, kWriteChunk);
    const std::uint16_t at = static_cast<std::uint16_t>(address + offset);
    unsigned char request[3 + kWriteChunk];
    request[0] = static_cast<unsigned char>(chunk);
    request[1] = static_cast<unsigned char>(at & 0xFF);
    request[2] = static_cast<unsigned char>(at >> 8);
    std::memcpy(request + 3, data + offset, chunk);
    unsigned long got = 0;
    if (!exchange(command, channel, request, 3 + chunk, nullptr, &got)) return 0;
    offset += chunk;
  }
  return 1;
}

}  // namespace vantrel
