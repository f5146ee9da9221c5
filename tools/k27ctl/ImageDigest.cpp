#include "ImageDigest.h"

#include <cstdio>

namespace vantrel::ctl {

std::string ImageDigest::Hex() const {
  // Taking the digest resets the context: take it from a copy.
  sha256_ctx copy = context_;
  std::uint8_t digest[SHA256_DIGEST_SIZE];
  sha256_digest(&copy, sizeof digest, digest);
  std::string text;
  char pair[3];
  for (const std::uint8_t b : digest) {
    std::snprintf(pair, sizeof pair, "%02x", b);
    text += pair;
  }
  return text;
}

}  // namespace vantrel::ctl
