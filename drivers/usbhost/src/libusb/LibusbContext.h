// One libusb context and the one thread that handles its events: transfer
// completions and hotplug callbacks run on that thread, so they never block.
// Devices keep the context alive, so that libusb_exit comes only after the
// last handle has been closed (cancel, reap, close, exit).
#pragma once

#include <libusb.h>

#include <atomic>
#include <memory>
#include <thread>

namespace vantrel::usbhost {

class LibusbContext {
 public:
  // Throws std::runtime_error when libusb cannot be initialised.
  static std::shared_ptr<LibusbContext> Create();
  // Stops the event thread and exits libusb. Never runs on the event thread:
  // nothing that runs there holds the last reference.
  ~LibusbContext();
  LibusbContext(const LibusbContext&) = delete;
  LibusbContext& operator=(const LibusbContext&) = delete;

  libusb_context* Get() const { return context_; }
  bool OnEventThread() const { return std::this_thread::get_id() == thread_.get_id(); }

 private:
  explicit LibusbContext(libusb_context* context);
  void Run();

  libusb_context* const context_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace vantrel::usbhost
