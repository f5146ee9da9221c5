#include "libusb/PlugTracker.h"

#include <algorithm>

namespace vantrel::usbhost {

PlugTracker::Arrival PlugTracker::Arrive(const Plug& plug) {
  auto [it, inserted] = plugs_.try_emplace(plug.location, Entry{plug.address, false});
  if (inserted) return Arrival::New;
  Entry& entry = it->second;
  if (entry.address == plug.address) return Arrival::Duplicate;
  const bool reported = !entry.dropped;
  entry = Entry{plug.address, false};
  return reported ? Arrival::Replaces : Arrival::New;
}

void PlugTracker::Drop(const Plug& plug) { plugs_[plug.location] = Entry{plug.address, true}; }

bool PlugTracker::Depart(const Plug& plug) {
  auto it = plugs_.find(plug.location);
  if (it == plugs_.end() || it->second.address != plug.address) return false;
  const bool reported = !it->second.dropped;
  plugs_.erase(it);
  return reported;
}

std::vector<Plug> PlugTracker::Missing(const std::vector<Plug>& present) const {
  std::vector<Plug> missing;
  for (const auto& tracked : plugs_) {
    const std::string& location = tracked.first;
    const auto address = tracked.second.address;
    const bool there = std::any_of(present.begin(), present.end(), [&](const Plug& p) {
      return p.location == location && p.address == address;
    });
    if (!there) missing.push_back({location, address});
  }
  return missing;
}

}  // namespace vantrel::usbhost
