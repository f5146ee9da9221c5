// A scan of the ccTalk bus: a simple poll to each address in turn, then the
// equipment category, product code and serial number of each device that
// answered. One exchange per timer tick, so that the window stays live.
// A scan that cannot talk on the bus (no echo or no 12 V, the port refused,
// the board gone) stops at the first such exchange and says why, rather than
// going on to report an empty bus.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <vector>

#include "cctalk/CcTalkExchange.h"

class CcTalkBusScan : public QObject {
  Q_OBJECT

 public:
  using Exchange = std::function<CcTalkExchangeResult(const CcctalkMessage&)>;

  struct Device {
    std::uint8_t address = 0;
    QString category;
    QString productCode;
    QString serialNumber;  // decimal; the three bytes come least significant first
  };

  static constexpr std::uint8_t kSimplePoll = 254;
  static constexpr std::uint8_t kEquipmentCategory = 245;
  static constexpr std::uint8_t kProductCode = 244;
  static constexpr std::uint8_t kSerialNumber = 242;

  explicit CcTalkBusScan(Exchange exchange, QObject* parent = nullptr);

  // Scans addresses first..last from host address `host`.
  void Start(std::uint8_t host, int first = 1, int last = 255);
  void Stop();
  bool Running() const { return timer_.isActive(); }

  const std::vector<Device>& Devices() const { return devices_; }
  // Steps done and steps known so far (each device found adds three).
  int Done() const { return done_; }
  int Total() const { return total_; }
  // Why the last scan stopped early, or empty when it did not fail.
  QString Failure() const { return failure_; }
  // The address whose exchange failed.
  int FailedAddress() const { return failedAddress_; }

 signals:
  void progress(int done, int total);
  // A device was found or one of its details came in.
  void deviceChanged(int row);
  void finished(bool stopped);

 private:
  void Step();
  // Stops the scan when the exchange could not use the bus.
  bool Failed(const CcTalkExchangeResult& result, std::uint8_t address);
  // The reply's data as text, or "-" with no good reply.
  static QString TextOf(const CcTalkExchangeResult& result);
  static QString SerialOf(const CcTalkExchangeResult& result);

  Exchange exchange_;
  QTimer timer_;
  std::uint8_t host_ = 1;
  int next_ = 1;
  int last_ = 255;
  std::size_t detailDevice_ = 0;
  int detailStep_ = 0;
  int done_ = 0;
  int total_ = 0;
  std::vector<Device> devices_;
  QString failure_;
  int failedAddress_ = 0;
};
