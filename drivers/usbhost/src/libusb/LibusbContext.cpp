#include "libusb/LibusbContext.h"

#include <stdexcept>
#include <string>

namespace vantrel::usbhost {

std::shared_ptr<LibusbContext> LibusbContext::Create() {
  libusb_context* context = nullptr;
  const int result = libusb_init(&context);
  if (result < 0)
    throw std::runtime_error(std::string("libusb cannot be initialised: ") +
                             libusb_error_name(result));
  return std::shared_ptr<LibusbContext>(new LibusbContext(context));
}

LibusbContext::LibusbContext(libusb_context* context) : context_(context) {
  thread_ = std::thread([this] { Run(); });
}

LibusbContext::~LibusbContext() {
  stopping_.store(true);
  libusb_interrupt_event_handler(context_);
  if (thread_.joinable()) thread_.join();
  libusb_exit(context_);
}

void LibusbContext::Run() {
  while (!stopping_.load()) {
    // The interruption ends a wait at once; the time-out only bounds the
    // wait should a wake-up ever be lost.
    timeval timeout{0, 250000};
    libusb_handle_events_timeout_completed(context_, &timeout, nullptr);
  }
}

}  // namespace vantrel::usbhost
