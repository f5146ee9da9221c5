#include "pages/memory/MemoryFilePlan.h"

#include <algorithm>

namespace vantrel::diag::memoryplan {

std::int64_t TotalBytes(const std::vector<vantrel::memfile::Segment>& segments) {
  std::int64_t total = 0;
  for (const auto& segment : segments) total += static_cast<std::int64_t>(segment.bytes.size());
  return total;
}

Span Extent(const std::vector<vantrel::memfile::Segment>& segments) {
  Span span{0, 0};
  bool any = false;
  for (const auto& segment : segments) {
    if (segment.bytes.empty()) continue;
    const std::int64_t first = segment.address;
    const std::int64_t end = first + static_cast<std::int64_t>(segment.bytes.size());
    span.first = any ? std::min(span.first, first) : first;
    span.end = any ? std::max(span.end, end) : end;
    any = true;
  }
  return span;
}

bool Inside(const std::vector<vantrel::memfile::Segment>& segments, Span span) {
  return std::all_of(
      segments.begin(), segments.end(), [span](const vantrel::memfile::Segment& segment) {
        const std::int64_t first = segment.address;
        const std::int64_t end = first + static_cast<std::int64_t>(segment.bytes.size());
        return segment.bytes.empty() || (first >= span.first && end <= span.end);
      });
}

Comparison Compare(const std::vector<vantrel::memfile::Segment>& file,
                   const std::vector<vantrel::memfile::Segment>& board, std::size_t keep) {
  Comparison result;
  const std::size_t segments = std::min(file.size(), board.size());
  for (std::size_t s = 0; s < segments; ++s) {
    const auto& want = file[s].bytes;
    const auto& have = board[s].bytes;
    const std::size_t n = std::min(want.size(), have.size());
    for (std::size_t i = 0; i < n; ++i) {
      if (want[i] == have[i]) continue;
      const std::uint32_t address = file[s].address + static_cast<std::uint32_t>(i);
      ++result.count;
      result.addresses.push_back(static_cast<int>(address));
      if (result.first.size() < keep) result.first.push_back({address, have[i], want[i]});
    }
  }
  return result;
}

}  // namespace vantrel::diag::memoryplan
