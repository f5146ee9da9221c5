// The "Serial Port" page: a raw terminal on one of the board's two serial
// ports. The technician picks the port and line settings, sends the bytes of
// a byte editor, and sees every byte the port receives as it arrives; sent
// and received bytes are listed as dump lines.
#pragma once

#include <QString>
#include "pages/common/CActivePage.h"

#include <array>
#include <cstdint>

#include <vantrel/VantrelTypes.h>

class CColouredListBox;
class CHexBlockEdit;
class CSerialConnectionBox;
class CSerialSendTools;
class QGroupBox;
class QPushButton;
class VantrelUSB;

class SerialPortPage : public CActivePage {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 107;
  static constexpr int kPollMs = 100;
  static constexpr int kMaxBytesPerPoll = 64;
  // Colour of received lines.
  static constexpr std::int32_t kReceivedColour = (0 << 16) | (0 << 8) | 200;

  SerialPortPage(VantrelUSB* board, QWidget* parent = nullptr);
  ~SerialPortPage() override;

  // SetConfig with the chosen settings (retried once after init); 0 on
  // success, -1 on failure. Abandons a partly received line.
  int ApplyConfiguration();
  // What the "Send" button does.
  void SendBytes();
  // One poll of the receive timer: at most 64 bytes.
  void Poll();

  _usbSerialPort Port() const;
  std::uint32_t BaudRate() const;
  int CtsFlow() const;
  int RtsControl() const;
  // Bytes of the line now being received.
  int RxCount() const { return rxCount_; }
  bool Polling() const { return Ticking(); }
  CSerialSendTools* SendTools() const { return sendTools_; }

 private:
  void InitialiseDialog();
  void OnActivate() override;
  void OnTick() override;
  void AddDumpLines(std::uint32_t* offset, const std::uint8_t* bytes, int count,
                    std::int32_t colour);

  VantrelUSB* board_;  // not owned
  bool initialised_ = false;
  // Only a partial line (under 16 bytes) is kept between polls.
  std::array<std::uint8_t, 1024> rxLine_{};
  int rxCount_ = 0;
  std::uint32_t rxOffset_ = 0;
  std::uint32_t txOffset_ = 0;

  CSerialConnectionBox* connection_;
  QGroupBox* outputBox_;
  CHexBlockEdit* editor_;
  QPushButton* sendButton_;
  QGroupBox* transactionsBox_;
  CColouredListBox* list_;
  CSerialSendTools* sendTools_;  // history, text entry, dump times
};
