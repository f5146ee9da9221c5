#include "libusb/LibusbTransfer.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "libusb/LibusbDevice.h"
#include "libusb/LibusbStatus.h"

namespace vantrel::usbhost {

LibusbTransfer::~LibusbTransfer() {
  // Only a transfer that never went to libusb still has one here: a
  // submitted transfer is kept alive by its device until its callback ran.
  if (transfer_ != nullptr) libusb_free_transfer(transfer_);
}

bool LibusbTransfer::WaitFor(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return done_.wait_for(lock, timeout, [this] { return completed_; });
}

void LibusbTransfer::Wait() {
  std::unique_lock lock(mutex_);
  done_.wait(lock, [this] { return completed_; });
}

bool LibusbTransfer::Completed() const {
  std::lock_guard lock(mutex_);
  return completed_;
}

void LibusbTransfer::Cancel() {
  std::lock_guard lock(mutex_);
  // The callback frees the transfer under this lock, so it is still there.
  // LIBUSB_ERROR_NOT_FOUND (already ending) needs nothing more.
  if (!completed_ && submitted_ && transfer_ != nullptr) libusb_cancel_transfer(transfer_);
}

bool LibusbTransfer::In() const {
  return request_.type == TransferType::Control ? (request_.setup.requestType & 0x80) != 0
                                                : (request_.endpoint & 0x80) != 0;
}

std::uint32_t LibusbTransfer::Prepare(libusb_device_handle* handle, LibusbDevice* owner) {
  owner_ = owner;
  const TransferRequest& r = request_;
  switch (r.type) {
    case TransferType::Control: {
      // The data buffer's size is the data stage's length (wLength).
      if (r.data.size() > 0xFFFF) return USBD_STATUS_INVALID_PARAMETER;
      transfer_ = libusb_alloc_transfer(0);
      if (transfer_ == nullptr) return USBD_STATUS_NO_MEMORY;
      buffer_.assign(LIBUSB_CONTROL_SETUP_SIZE + r.data.size(), 0);
      libusb_fill_control_setup(buffer_.data(), r.setup.requestType, r.setup.request, r.setup.value,
                                r.setup.index, static_cast<std::uint16_t>(r.data.size()));
      if (!In() && !r.data.empty())
        std::memcpy(buffer_.data() + LIBUSB_CONTROL_SETUP_SIZE, r.data.data(), r.data.size());
      libusb_fill_control_transfer(transfer_, handle, buffer_.data(), &LibusbTransfer::OnDone, this,
                                   0);
      return USBD_STATUS_SUCCESS;
    }
    case TransferType::Bulk:
    case TransferType::Interrupt: {
      if (r.data.size() > static_cast<std::size_t>(INT_MAX)) return USBD_STATUS_INVALID_PARAMETER;
      transfer_ = libusb_alloc_transfer(0);
      if (transfer_ == nullptr) return USBD_STATUS_NO_MEMORY;
      const int length = static_cast<int>(r.data.size());
      if (r.type == TransferType::Bulk)
        libusb_fill_bulk_transfer(transfer_, handle, r.endpoint, r.data.data(), length,
                                  &LibusbTransfer::OnDone, this, 0);
      else
        libusb_fill_interrupt_transfer(transfer_, handle, r.endpoint, r.data.data(), length,
                                       &LibusbTransfer::OnDone, this, 0);
      return USBD_STATUS_SUCCESS;
    }
    case TransferType::Isochronous: {
      // libusb starts every isochronous transfer as soon as possible and
      // places packet i right after packet i-1; the packets are gathered from
      // and scattered to their offsets in the caller's buffer.
      if (!r.startAsap || r.isoPackets.empty() ||
          r.isoPackets.size() > static_cast<std::size_t>(INT_MAX))
        return USBD_STATUS_INVALID_PARAMETER;
      std::size_t total = 0;
      for (const IsoPacket& p : r.isoPackets) {
        if (static_cast<std::size_t>(p.offset) + p.length > r.data.size())
          return USBD_STATUS_INVALID_PARAMETER;
        total += p.length;
      }
      if (total > static_cast<std::size_t>(INT_MAX)) return USBD_STATUS_INVALID_PARAMETER;
      const int packets = static_cast<int>(r.isoPackets.size());
      transfer_ = libusb_alloc_transfer(packets);
      if (transfer_ == nullptr) return USBD_STATUS_NO_MEMORY;
      buffer_.assign(total, 0);
      std::size_t at = 0;
      for (const IsoPacket& p : r.isoPackets) {
        if (!In() && p.length != 0)
          std::memcpy(buffer_.data() + at, r.data.data() + p.offset, p.length);
        at += p.length;
      }
      libusb_fill_iso_transfer(transfer_, handle, r.endpoint, buffer_.data(),
                               static_cast<int>(total), packets, &LibusbTransfer::OnDone, this, 0);
      for (int i = 0; i < packets; ++i)
        transfer_->iso_packet_desc[i].length = r.isoPackets[static_cast<std::size_t>(i)].length;
      return USBD_STATUS_SUCCESS;
    }
  }
  return USBD_STATUS_INVALID_PARAMETER;
}

int LibusbTransfer::Submit() {
  std::lock_guard lock(mutex_);
  const int result = libusb_submit_transfer(transfer_);
  if (result == LIBUSB_SUCCESS) submitted_ = true;
  return result;
}

void LibusbTransfer::CompleteNow(std::uint32_t status) {
  TransferResult result;
  result.status = status;
  result.isoPackets = request_.isoPackets;
  for (IsoPacket& p : result.isoPackets) {
    p.actualLength = 0;
    p.status = status;
  }
  Publish(std::move(result));
}

TransferResult LibusbTransfer::Collect(const libusb_transfer& transfer) {
  TransferResult result;
  const std::size_t actual = static_cast<std::size_t>(std::max(0, transfer.actual_length));
  const bool in = In();
  switch (request_.type) {
    case TransferType::Control: {
      const std::size_t moved = std::min(actual, request_.data.size());
      if (in && moved != 0)
        std::memcpy(request_.data.data(), buffer_.data() + LIBUSB_CONTROL_SETUP_SIZE, moved);
      result.transferred = moved;
      break;
    }
    case TransferType::Bulk:
    case TransferType::Interrupt:
      result.transferred = std::min(actual, request_.data.size());
      break;
    case TransferType::Isochronous: {
      result.isoPackets = request_.isoPackets;
      std::size_t at = 0;
      for (std::size_t i = 0; i < result.isoPackets.size(); ++i) {
        IsoPacket& p = result.isoPackets[i];
        const libusb_iso_packet_descriptor& d = transfer.iso_packet_desc[i];
        p.actualLength = std::min(d.actual_length, p.length);
        p.status = LibusbIsoPacketStatus(d.status);
        if (in && p.actualLength != 0)
          std::memcpy(request_.data.data() + p.offset, buffer_.data() + at, p.actualLength);
        at += p.length;
        result.transferred += p.actualLength;
      }
      break;
    }
  }
  // An isochronous transfer counts its short packets as normal.
  const bool shortOk = request_.shortTransferOk || request_.type == TransferType::Isochronous;
  result.status = LibusbTransferStatus(
      transfer.status, in, shortOk, result.transferred,
      request_.type == TransferType::Isochronous ? result.transferred : request_.data.size());
  return result;
}

void LibusbTransfer::Publish(TransferResult result) {
  std::lock_guard lock(mutex_);
  if (completed_) return;
  if (transfer_ != nullptr) libusb_free_transfer(transfer_);
  transfer_ = nullptr;
  result_ = std::move(result);
  completed_ = true;
  done_.notify_all();
}

void LIBUSB_CALL LibusbTransfer::OnDone(libusb_transfer* transfer) {
  auto* self = static_cast<LibusbTransfer*>(transfer->user_data);
  TransferResult result = self->Collect(*transfer);
  // The device lets go of the transfer here; `keep` holds it until it is
  // published, and the device is not touched after Retire.
  bool gone = false;
  const std::shared_ptr<LibusbTransfer> keep = self->owner_->Retire(self, &gone);
  if (gone && result.status == USBD_STATUS_CANCELED) {
    result.status = USBD_STATUS_DEVICE_GONE;
    for (IsoPacket& p : result.isoPackets)
      if (p.status == USBD_STATUS_CANCELED) p.status = USBD_STATUS_DEVICE_GONE;
  }
  self->Publish(std::move(result));
}

}  // namespace vantrel::usbhost
