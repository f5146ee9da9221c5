#include "ByteRing.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace vantrel::driver {

std::shared_ptr<ByteRing> ByteRing::Create(std::size_t size) {
  try {
    return std::make_shared<ByteRing>(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  } catch (const std::length_error&) {
    return nullptr;
  }
}

bool ByteRing::Fits(std::size_t length) const { return length <= storage_.size() - Count(); }

std::size_t ByteRing::Write(std::span<const std::uint8_t> source) {
  const std::size_t length = source.size();
  if (!Fits(length) || length == 0) return 0;
  const std::size_t first = std::min(length, storage_.size() - writePosition_);
  std::memcpy(storage_.data() + writePosition_, source.data(), first);
  if (first < length) std::memcpy(storage_.data(), source.data() + first, length - first);
  writePosition_ = (writePosition_ + length) % storage_.size();
  // Publishes the bytes to the reader.
  count_.fetch_add(length, std::memory_order_acq_rel);
  return length;
}

std::size_t ByteRing::Read(std::span<std::uint8_t> destination) {
  const std::size_t held = Count();
  if (destination.size() > storage_.size() || held == 0 || destination.empty()) return 0;
  const std::size_t n = std::min(destination.size(), held);
  const std::size_t first = std::min(n, storage_.size() - readPosition_);
  std::memcpy(destination.data(), storage_.data() + readPosition_, first);
  if (first < n) std::memcpy(destination.data() + first, storage_.data(), n - first);
  readPosition_ = (readPosition_ + n) % storage_.size();
  // Hands the space back to the writer only once the bytes are copied.
  count_.fetch_sub(n, std::memory_order_acq_rel);
  return n;
}

}  // namespace vantrel::driver
