// Which device the bus has reported on each plug (bus and port path).
// Hotplug can report one arrival twice (once from the enumeration at start and
// once as an event) and a departure without an arrival; a device that
// re-enumerates, such as a bare EZ-USB part after its download, comes back on
// the same plug with a new bus address. The tracker turns these reports into
// one arrival and one departure per device.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vantrel::usbhost {

struct Plug {
  std::string location;  // DeviceIdentity::Location()
  std::uint8_t address = 0;
};

class PlugTracker {
 public:
  enum class Arrival {
    New,        // report it
    Duplicate,  // already reported (or already dropped): ignore it
    Replaces,   // a new device where a reported one still sits: that one has left unseen
  };
  // Records an arrival; with New or Replaces the plug holds this device from
  // now on, as reported.
  Arrival Arrive(const Plug& plug);
  // An arrival that could not be opened: repeats of it are ignored until the
  // device leaves.
  void Drop(const Plug& plug);
  // Records a departure. True when it ends a reported device (report the
  // departure); false for a device never reported, a dropped one, or an older
  // device of the plug.
  bool Depart(const Plug& plug);
  // The tracked devices (reported or dropped) that are not among `present`:
  // departures that a poll of the bus found.
  std::vector<Plug> Missing(const std::vector<Plug>& present) const;
  bool Empty() const { return plugs_.empty(); }

 private:
  struct Entry {
    std::uint8_t address = 0;
    bool dropped = false;
  };
  std::map<std::string, Entry> plugs_;
};

}  // namespace vantrel::usbhost
