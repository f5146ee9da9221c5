#include "SimConsoleHandler.h"

#include <algorithm>
#include <string>
#include <vector>

#include "vantrel/protocol/SimConsoleProtocol.h"

namespace vantrel::driver {

ControlResult SimConsoleHandler::Control(std::uint32_t code, std::span<const std::uint8_t> in,
                                         std::span<std::uint8_t> out) {
  if (code != kSimConsoleCode || out.empty()) return {STATUS_INVALID_PARAMETER, 0};
  std::vector<std::string> items;
  std::string current;
  for (std::uint8_t byte : in) {
    if (byte == '\n') {
      items.push_back(std::move(current));
      current.clear();
    } else {
      current.push_back(static_cast<char>(byte));
    }
  }
  if (!current.empty() || items.empty()) return {STATUS_INVALID_PARAMETER, 0};
  int board = -1;
  try {
    std::size_t used = 0;
    board = std::stoi(items[0], &used);
    if (used != items[0].size()) board = -1;
  } catch (const std::exception&) {
    board = -1;
  }
  std::vector<std::string> words(items.begin() + 1, items.end());
  const vantrel::sim::ConsoleReply reply = console_.Run(board, words);

  out[0] = static_cast<std::uint8_t>('0' + reply.status);
  const std::size_t text = std::min(reply.text.size(), out.size() - 1);
  std::copy_n(reply.text.begin(), text, out.begin() + 1);
  return {STATUS_SUCCESS, static_cast<std::uint32_t>(1 + text)};
}

}  // namespace vantrel::driver
