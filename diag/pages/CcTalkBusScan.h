// A scan of the ccTalk bus: a simple poll to each address in turn, then the
// equipment category, product code and serial number of each device that
// answered. One exchange per timer tick, so that the window stays live.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <vector>

#include "pages/CcTalkExchange.h"

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

 signals:
  void progress(int done, int total);
  // A device was found or one of its details came in.
  void deviceChanged(int row);
  void finished(bool stopped);

 private:
  void Step();
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
};
