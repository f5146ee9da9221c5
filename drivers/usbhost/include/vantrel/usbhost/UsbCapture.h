// A capture of every USB transfer in the Linux usbmon pcap format
// (LINKTYPE_USB_LINUX_MMAPPED), which Wireshark and tshark decode: setup
// packets, bulk data, statuses.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "vantrel/usbhost/UsbHost.h"

namespace vantrel::usbhost {

class UsbCapture : public std::enable_shared_from_this<UsbCapture> {
 public:
  // Creates (or truncates) the file and writes its header. Throws
  // std::runtime_error when it cannot.
  static std::shared_ptr<UsbCapture> Open(const std::string& path);
  ~UsbCapture();
  UsbCapture(const UsbCapture&) = delete;
  UsbCapture& operator=(const UsbCapture&) = delete;

  // A device whose every transfer is recorded: its submission, and its
  // completion once a caller has seen it complete.
  std::shared_ptr<UsbDevice> Wrap(std::shared_ptr<UsbDevice> device);

  // Writes one record; thread-safe. `submit` chooses 'S' or 'C'.
  void Record(std::uint64_t id, bool submit, std::uint8_t deviceNumber, std::uint16_t bus,
              const TransferRequest& request, const TransferResult* result);
  std::uint64_t NextId();
  std::uint64_t Records() const;

 private:
  explicit UsbCapture(std::FILE* file) : file_(file) {}
  mutable std::mutex mutex_;
  std::FILE* file_;
  std::uint64_t nextId_ = 1;
  std::uint64_t records_ = 0;
  std::uint8_t nextDevice_ = 2;
};

}  // namespace vantrel::usbhost
