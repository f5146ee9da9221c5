#include "k27sim/CcTalkDevicePeer.h"

#include <algorithm>
#include <utility>

namespace vantrel::sim {

namespace {

constexpr std::uint8_t kBroadcast = 0;

namespace header {
constexpr std::uint8_t kReset = 1;
constexpr std::uint8_t kCommsRevision = 4;
constexpr std::uint8_t kRequestMasterInhibit = 227;
constexpr std::uint8_t kModifyMasterInhibit = 228;
constexpr std::uint8_t kReadBufferedCredit = 229;
constexpr std::uint8_t kRequestInhibitStatus = 230;
constexpr std::uint8_t kModifyInhibitStatus = 231;
constexpr std::uint8_t kSoftwareRevision = 241;
constexpr std::uint8_t kSerialNumber = 242;
constexpr std::uint8_t kProductCode = 244;
constexpr std::uint8_t kEquipmentCategory = 245;
constexpr std::uint8_t kManufacturerId = 246;
constexpr std::uint8_t kAddressClash = 252;
constexpr std::uint8_t kAddressPoll = 253;
constexpr std::uint8_t kSimplePoll = 254;
}  // namespace header

constexpr std::size_t kFrameOverhead = 5;
constexpr std::size_t kMaxData = 255;

std::uint8_t Sum(std::span<const std::uint8_t> bytes) {
  std::uint8_t sum = 0;
  for (std::uint8_t b : bytes) sum = static_cast<std::uint8_t>(sum + b);
  return sum;
}

std::vector<std::uint8_t> Text(const std::string& text) {
  const std::size_t n = std::min(text.size(), kMaxData);
  return {text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n)};
}

std::vector<std::uint8_t> Frame(std::uint8_t destination, std::uint8_t source, std::uint8_t head,
                                const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> frame{destination, static_cast<std::uint8_t>(data.size()), source,
                                  head};
  frame.insert(frame.end(), data.begin(), data.end());
  frame.push_back(static_cast<std::uint8_t>(-Sum(frame)));
  return frame;
}

}  // namespace

CcTalkDevicePeer::CcTalkDevicePeer(CcTalkDeviceOptions options) : options_(std::move(options)) {}

void CcTalkDevicePeer::SetPowered(bool powered) {
  std::lock_guard lock(mutex_);
  powered_ = powered;
  frame_.clear();
}

void CcTalkDevicePeer::SetLineFault(LineFault fault) {
  std::lock_guard lock(mutex_);
  lineFault_ = fault;
}

void CcTalkDevicePeer::SetReplyFault(ReplyFault fault) {
  std::lock_guard lock(mutex_);
  replyFault_ = fault;
}

bool CcTalkDevicePeer::Powered() const {
  std::lock_guard lock(mutex_);
  return powered_;
}

void CcTalkDevicePeer::AddEvent(std::uint8_t credit, std::uint8_t error) {
  std::lock_guard lock(mutex_);
  eventCounter_ = eventCounter_ == 255 ? 1 : static_cast<std::uint8_t>(eventCounter_ + 1);
  std::copy_backward(events_.begin(), events_.end() - 2, events_.end());
  events_[0] = credit;
  events_[1] = error;
}

std::array<std::uint8_t, 2> CcTalkDevicePeer::InhibitStatus() const {
  std::lock_guard lock(mutex_);
  return inhibit_;
}

std::uint8_t CcTalkDevicePeer::MasterInhibit() const {
  std::lock_guard lock(mutex_);
  return masterInhibit_;
}

std::uint64_t CcTalkDevicePeer::FramesAnswered() const {
  std::lock_guard lock(mutex_);
  return framesAnswered_;
}

void CcTalkDevicePeer::Reset() {
  eventCounter_ = 0;
  events_.fill(0);
  inhibit_.fill(0);
  masterInhibit_ = 0;
}

std::vector<LineByte> CcTalkDevicePeer::Transfer(std::span<const LineByte> sent,
                                                 std::uint32_t baud) {
  std::lock_guard lock(mutex_);
  std::vector<LineByte> out;
  if (!powered_) return out;
  for (std::size_t at = 0; at < sent.size(); ++at) {
    LineByte byte = sent[at];
    if (lineFault_ != LineFault::kNone && at + 1 == sent.size()) {
      // The last byte of the send is damaged on the wire.
      if (lineFault_ == LineFault::kLastByteLost) continue;
      byte.value = static_cast<std::uint8_t>(~byte.value);
    }
    out.push_back(byte);  // local echo on the single wire
    if (!frame_.empty() && byte.atMicros > lastByteMicros_ + kResyncGapMicros) frame_.clear();
    lastByteMicros_ = byte.atMicros;
    frame_.push_back(byte.value);
    if (frame_.size() < 2 || frame_.size() < frame_[1] + kFrameOverhead) continue;

    const std::vector<std::uint8_t> request = std::exchange(frame_, {});
    const std::optional<Answer> answer = AnswerFor(request);
    if (!answer) continue;
    ++framesAnswered_;
    if (answer->raw) {
      const std::uint64_t start = byte.atMicros + answer->rawDelayMicros;
      for (std::size_t i = 0; i < answer->data.size(); ++i)
        out.push_back({answer->data[i], start + LineMicros(i + 1, baud)});
      continue;
    }
    const std::uint8_t from = replyFault_ == ReplyFault::kWrongSource
                                  ? static_cast<std::uint8_t>(options_.address + 1)
                                  : options_.address;
    std::vector<std::uint8_t> reply = Frame(request[2], from, answer->header, answer->data);
    if (replyFault_ == ReplyFault::kBadChecksum) ++reply.back();
    const std::uint64_t start = byte.atMicros + options_.replyDelayMicros;
    for (std::size_t i = 0; i < reply.size(); ++i) {
      out.push_back({reply[i], start + LineMicros(i + 1, baud)});
    }
  }
  // Echoes of a later frame in the same run may come before an answer ends.
  std::stable_sort(out.begin(), out.end(),
                   [](const LineByte& a, const LineByte& b) { return a.atMicros < b.atMicros; });
  return out;
}

std::optional<CcTalkDevicePeer::Answer> CcTalkDevicePeer::AnswerFor(
    const std::vector<std::uint8_t>& frame) {
  if (Sum(frame) != 0) return std::nullopt;
  const std::uint8_t destination = frame[0];
  const std::uint8_t head = frame[3];
  const std::span<const std::uint8_t> data(frame.data() + 4, frame[1]);
  if (destination != options_.address &&
      !(destination == kBroadcast && head == header::kAddressPoll)) {
    return std::nullopt;
  }

  auto ack = [] { return Answer{kAck, {}}; };
  auto reply = [](std::vector<std::uint8_t> bytes) { return Answer{kAck, std::move(bytes)}; };
  switch (head) {
    case header::kSimplePoll:
      return ack();
    case header::kAddressPoll:
    case header::kAddressClash:
      // Not a frame: the address alone, later the higher the address, so
      // that devices sharing the bus answer one after the other.
      return Answer{kAck, {options_.address}, true, kAddressDelayMicros * options_.address};
    case header::kManufacturerId:
      return reply(Text(options_.manufacturerId));
    case header::kEquipmentCategory:
      return reply(Text(options_.equipmentCategory));
    case header::kProductCode:
      return reply(Text(options_.productCode));
    case header::kSerialNumber:
      return reply({options_.serialNumber.begin(), options_.serialNumber.end()});
    case header::kSoftwareRevision:
      return reply(Text(options_.softwareRevision));
    case header::kCommsRevision:
      return reply({options_.commsRevision.begin(), options_.commsRevision.end()});
    case header::kReadBufferedCredit: {
      std::vector<std::uint8_t> bytes{eventCounter_};
      bytes.insert(bytes.end(), events_.begin(), events_.end());
      return reply(std::move(bytes));
    }
    case header::kRequestInhibitStatus:
      return reply({inhibit_.begin(), inhibit_.end()});
    case header::kModifyInhibitStatus:
      if (data.size() != 2) break;
      inhibit_ = {data[0], data[1]};
      return ack();
    case header::kRequestMasterInhibit:
      return reply({masterInhibit_});
    case header::kModifyMasterInhibit:
      if (data.size() != 1) break;
      masterInhibit_ = static_cast<std::uint8_t>(data[0] & 1);
      return ack();
    case header::kReset:
      Reset();
      return ack();
    default:
      break;
  }
  return Answer{kNak, {}};
}

}  // namespace vantrel::sim
