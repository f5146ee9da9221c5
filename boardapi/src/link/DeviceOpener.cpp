#include "link/DeviceLink.h"

#include <mutex>

#include "link/SocketDeviceLink.h"

namespace vantrel {
namespace {

std::mutex& OpenerMutex() {
  static std::mutex mutex;
  return mutex;
}

DeviceOpener& InstalledOpener() {
  static DeviceOpener opener;
  return opener;
}

}  // namespace

std::unique_ptr<DeviceLink> OpenDevice(int deviceIndex) {
  DeviceOpener opener;
  {
    std::lock_guard lock(OpenerMutex());
    opener = InstalledOpener();
  }
  if (opener) return opener(deviceIndex);
  return SocketDeviceLink::Open(deviceIndex);
}

void SetDeviceOpener(DeviceOpener opener) {
  std::lock_guard lock(OpenerMutex());
  InstalledOpener() = std::move(opener);
}

}  // namespace vantrel
