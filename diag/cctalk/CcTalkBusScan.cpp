#include "cctalk/CcTalkBusScan.h"

#include <algorithm>

CcTalkBusScan::CcTalkBusScan(Exchange exchange, QObject* parent)
    : QObject(parent), exchange_(std::move(exchange)) {
  timer_.setInterval(0);
  connect(&timer_, &QTimer::timeout, this, &CcTalkBusScan::Step);
}

void CcTalkBusScan::Start(std::uint8_t host, int first, int last) {
  host_ = host;
  next_ = std::clamp(first, 1, 255);
  last_ = std::clamp(last, next_, 255);
  detailDevice_ = 0;
  detailStep_ = 0;
  done_ = 0;
  total_ = last_ - next_ + 1;
  devices_.clear();
  failure_.clear();
  failedAddress_ = 0;
  emit progress(done_, total_);
  timer_.start();
}

void CcTalkBusScan::Stop() {
  if (!timer_.isActive()) return;
  timer_.stop();
  emit finished(true);
}

QString CcTalkBusScan::TextOf(const CcTalkExchangeResult& result) {
  if (result.outcome != CcTalkExchangeResult::Outcome::kGood) return QStringLiteral("-");
  return QString::fromLatin1(CcTalkData(result.reply));
}

QString CcTalkBusScan::SerialOf(const CcTalkExchangeResult& result) {
  const std::string data = CcTalkData(result.reply);
  if (result.outcome != CcTalkExchangeResult::Outcome::kGood || data.empty())
    return QStringLiteral("-");
  std::uint64_t serial = 0;
  for (std::size_t i = std::min<std::size_t>(data.size(), 8); i-- > 0;)
    serial = (serial << 8) | static_cast<std::uint8_t>(data[i]);
  return QString::number(serial);
}

bool CcTalkBusScan::Failed(const CcTalkExchangeResult& result, std::uint8_t address) {
  if (result.outcome != CcTalkExchangeResult::Outcome::kFailed) return false;
  failure_ = QString::fromLatin1(result.error);
  failedAddress_ = address;
  ++done_;
  emit progress(done_, total_);
  timer_.stop();
  emit finished(false);
  return true;
}

void CcTalkBusScan::Step() {
  CcctalkMessage request;
  if (next_ <= last_) {
    // The poll of one address.
    const auto address = static_cast<std::uint8_t>(next_++);
    request.build(address, 0, host_, kSimplePoll);
    const CcTalkExchangeResult result = exchange_(request);
    if (Failed(result, address)) return;
    if (result.outcome == CcTalkExchangeResult::Outcome::kGood) {
      devices_.push_back(Device{address, {}, {}, {}});
      total_ += 3;
      emit deviceChanged(static_cast<int>(devices_.size()) - 1);
    }
  } else if (detailDevice_ < devices_.size()) {
    // One detail of one device found.
    Device& device = devices_[detailDevice_];
    static constexpr std::uint8_t kHeaders[] = {kEquipmentCategory, kProductCode, kSerialNumber};
    request.build(device.address, 0, host_, kHeaders[detailStep_]);
    const CcTalkExchangeResult result = exchange_(request);
    if (Failed(result, device.address)) return;
    if (detailStep_ == 0) device.category = TextOf(result);
    if (detailStep_ == 1) device.productCode = TextOf(result);
    if (detailStep_ == 2) device.serialNumber = SerialOf(result);
    emit deviceChanged(static_cast<int>(detailDevice_));
    if (++detailStep_ == 3) {
      detailStep_ = 0;
      ++detailDevice_;
    }
  }
  ++done_;
  emit progress(done_, total_);
  if (done_ >= total_) {
    timer_.stop();
    emit finished(false);
  }
}
