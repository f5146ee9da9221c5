// What a file means for a board memory before anything is sent: whether its
// bytes lie inside the memory and inside the page's window, and, after the
// board has been read, where board and file differ.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "MemoryFile.h"

namespace vantrel::diag::memoryplan {

// Addresses [first, end).
struct Span {
  std::int64_t first = 0;
  std::int64_t end = 0;
};

std::int64_t TotalBytes(const std::vector<vantrel::memfile::Segment>& segments);

// The lowest and one past the highest address the segments cover; an empty
// span for no bytes.
Span Extent(const std::vector<vantrel::memfile::Segment>& segments);

// Whether every byte of the segments lies inside the span.
bool Inside(const std::vector<vantrel::memfile::Segment>& segments, Span span);

struct Difference {
  std::uint32_t address = 0;
  std::uint8_t board = 0;
  std::uint8_t file = 0;
};

struct Comparison {
  std::vector<Difference> first;  // in address order, at most the number asked for
  std::vector<int> addresses;     // every differing address
  std::int64_t count = 0;
};

// Compares the file's segments with the board's bytes read for the same
// segments (same addresses and sizes), keeping the first `keep` differences.
Comparison Compare(const std::vector<vantrel::memfile::Segment>& file,
                   const std::vector<vantrel::memfile::Segment>& board, std::size_t keep);

}  // namespace vantrel::diag::memoryplan
