#include "vantrel/loader/DownloadReport.h"

#include <cstdio>

namespace vantrel::loader {

using usbhost::UsbdFailed;

namespace {

constexpr std::uint16_t kCpuCs = 0x7F92;

std::string Hex8(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
  return text;
}

std::string Hex4(std::uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(value));
  return text;
}

std::string StatusText(std::uint32_t status) {
  return UsbdFailed(status) ? "failed " + Hex8(status) : "ok";
}

std::string PassText(const PassReport& pass) {
  std::string text = std::to_string(pass.sent);
  if (pass.failure)
    text += " (stopped at " + Hex4(pass.failedAddress) + ": " + Hex8(*pass.failure) + ")";
  return text;
}

std::string ImageText(const ImageReport& image) {
  return "external " + PassText(image.external) + ", hold " + StatusText(image.holdStatus) +
         ", internal " + PassText(image.internal) + " -> " + StatusText(image.status);
}

bool ImageComplete(const ImageReport& image) {
  return !image.external.failure && !image.internal.failure && !UsbdFailed(image.holdStatus);
}

bool Tried(const DownloadReport& report, LoadStep step) {
  return report.stepsTried >= static_cast<int>(step);
}

std::string Request(std::uint8_t request, std::uint16_t address) {
  char text[48];
  std::snprintf(text, sizeof text, "request 0x%02X at address 0x%04X",
                static_cast<unsigned>(request), static_cast<unsigned>(address));
  return text;
}

std::string Status(std::uint32_t status) { return "USB status " + Hex8(status); }

// The image's first failure, or empty.
std::string ImageFailure(const char* name, const ImageReport& image) {
  if (image.external.failure)
    return "writing " + std::string(name) +
           " into external memory: " + Request(0xA3, image.external.failedAddress) + ", " +
           Status(*image.external.failure);
  if (UsbdFailed(image.holdStatus))
    return "holding the 8051 before " + std::string(name) +
           "'s internal memory: " + Request(0xA0, kCpuCs) + ", " + Status(image.holdStatus);
  if (image.internal.failure)
    return "writing " + std::string(name) +
           " into internal memory: " + Request(0xA0, image.internal.failedAddress) + ", " +
           Status(*image.internal.failure);
  return {};
}

std::string StepName(int step) {
  switch (static_cast<LoadStep>(step)) {
    case LoadStep::Hold:
      return "holding the 8051 in reset";
    case LoadStep::LoaderImage:
      return "writing the first-stage loader";
    case LoadStep::Run:
      return "starting the first-stage loader";
    case LoadStep::BoardImage:
      return "writing the board firmware";
    case LoadStep::HoldAgain:
      return "holding the 8051 before the board firmware starts";
    case LoadStep::RunBoard:
      return "starting the board firmware";
  }
  return "before the first step";
}

bool LeftStatus(std::uint32_t status) { return status == usbhost::USBD_STATUS_DEVICE_GONE; }

bool ImageLeft(const ImageReport& image) {
  return (image.external.failure && LeftStatus(*image.external.failure)) ||
         LeftStatus(image.holdStatus) ||
         (image.internal.failure && LeftStatus(*image.internal.failure));
}

}  // namespace

bool DownloadReport::ToleratedEnd() const {
  return !unanswered && stepsTried == static_cast<int>(LoadStep::RunBoard) &&
         UsbdFailed(runBoard) && !UsbdFailed(hold) && ImageComplete(loader) && !UsbdFailed(run) &&
         ImageComplete(board) && !UsbdFailed(holdAgain);
}

bool DownloadReport::Complete() const { return Failure().empty(); }

bool DownloadReport::PartLeft() const {
  return LeftStatus(hold) || ImageLeft(loader) || LeftStatus(run) || ImageLeft(board) ||
         LeftStatus(holdAgain) || (LeftStatus(runBoard) && !ToleratedEnd());
}

std::string DownloadReport::Failure() const {
  if (unanswered)
    return StepName(stepsTried) + ": " + Request(unanswered->request, unanswered->address) +
           " not answered within " + std::to_string(unanswered->limit.count()) +
           " ms (cancelled, " + Status(unanswered->status) + ")";
  if (UsbdFailed(hold))
    return "holding the 8051 in reset: " + Request(0xA0, kCpuCs) + ", " + Status(hold);
  if (auto failure = ImageFailure("the first-stage loader", loader); !failure.empty())
    return failure;
  if (UsbdFailed(run))
    return "starting the first-stage loader: " + Request(0xA0, kCpuCs) + ", " + Status(run);
  if (auto failure = ImageFailure("the board firmware", board); !failure.empty()) return failure;
  if (UsbdFailed(holdAgain))
    return "holding the 8051 before the board firmware starts: " + Request(0xA0, kCpuCs) + ", " +
           Status(holdAgain);
  if (stepsTried < static_cast<int>(LoadStep::RunBoard)) return "the download did not finish";
  return {};  // a failed final run write is the part leaving the bus
}

std::string DownloadReport::Describe() const {
  auto step = [this](LoadStep s, const std::string& text) {
    return Tried(*this, s) ? text : std::string("not tried");
  };
  std::string text = "hold " + step(LoadStep::Hold, StatusText(hold)) +
                     "; loader image: " + step(LoadStep::LoaderImage, ImageText(loader)) +
                     "; run " + step(LoadStep::Run, StatusText(run)) +
                     "; board firmware: " + step(LoadStep::BoardImage, ImageText(board)) +
                     "; hold " + step(LoadStep::HoldAgain, StatusText(holdAgain)) + "; run " +
                     step(LoadStep::RunBoard, StatusText(runBoard));
  if (ToleratedEnd()) text += " (tolerated: the part leaves the bus to come back as the board)";
  return text;
}

}  // namespace vantrel::loader
