// How many connections each client user (the peer uid the kernel reports)
// may hold at once, counted across every socket that shares the quota.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <map>
#include <mutex>

namespace vantrel::driver {

class ConnectionQuota {
 public:
  // 0: no limit.
  explicit ConnectionQuota(std::size_t perUid) : perUid_(perUid) {}

  std::size_t PerUid() const { return perUid_; }
  // Takes one place for `uid`; false, taking nothing, when it holds all of
  // its places already.
  bool Take(uid_t uid);
  void Give(uid_t uid);
  std::size_t Held(uid_t uid) const;

 private:
  const std::size_t perUid_;
  mutable std::mutex mutex_;
  std::map<uid_t, std::size_t> held_;
};

}  // namespace vantrel::driver
