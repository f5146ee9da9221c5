// The SHA-256 of a memory image, which dump, load and compare report so that
// a test station can record what it wrote or found. Nettle's SHA-256
// (Debian: nettle-dev): small, and nothing but the hash.
#pragma once

#include <nettle/sha2.h>

#include <cstdint>
#include <span>
#include <string>

namespace vantrel::ctl {

// Hashes the bytes of one image given in pieces (the segments of an Intel
// HEX file, in address order), as if they were one run.
class ImageDigest {
 public:
  ImageDigest() { sha256_init(&context_); }
  void Add(std::span<const std::uint8_t> bytes) {
    sha256_update(&context_, bytes.size(), bytes.data());
  }
  // 64 lower-case hex digits, as sha256sum prints them.
  std::string Hex() const;

 private:
  sha256_ctx context_;
};

}  // namespace vantrel::ctl
