// The "Connection" group of the serial pages: port, baud rate, CTS output
// flow control and RTS control, each a drop-down list, and the line settings
// they stand for. The owner applies the settings when changed() is emitted
// (after each selection by the technician).
#pragma once

#include <QGroupBox>

#include <cstdint>

#include <vantrel/VantrelTypes.h>

class QComboBox;
class VantrelUSB;

class CSerialConnectionBox : public QGroupBox {
  Q_OBJECT

 public:
  // Template ids of the four lists (the objectNames are "id" + id) and of
  // the group itself (0: none).
  struct ControlIds {
    int port;
    int baud;
    int cts;
    int rts;
    int group = 0;
  };

  CSerialConnectionBox(const ControlIds& ids, QWidget* parent = nullptr);

  // Fills the lists and presets them: port B, 9600 baud, "OutxCtsFlow:
  // FALSE", "RtsControl: DISABLE". Emits nothing.
  void Initialise();

  // The serial configuration record for SetConfig: everything zero but the
  // baud rate, the CTS output flow flag and the RTS control field.
  _DCB Dcb() const;
  // SetConfig with the settings and `type`; when the board refuses, init(0)
  // once and SetConfig again. True when one of the two calls succeeded.
  bool Apply(VantrelUSB* board, _usbPortType type) const;

  _usbSerialPort Port() const { return static_cast<_usbSerialPort>(port_); }
  std::uint32_t BaudRate() const { return baudRate_; }
  int CtsFlow() const { return ctsFlow_; }
  int RtsControl() const { return rtsControl_; }

  QComboBox* PortList() const { return portList_; }
  QComboBox* BaudList() const { return baudList_; }
  QComboBox* CtsList() const { return ctsList_; }
  QComboBox* RtsList() const { return rtsList_; }

 signals:
  void changed();

 private:
  void PortSelected(int selection);
  void BaudSelected(int selection);
  void CtsSelected(int selection);
  void RtsSelected(int selection);
  // Refills the baud list for the current port; with translation first
  // carries the rate over from the other port.
  void FillBaudList(bool translate);

  int port_ = 1;
  std::uint32_t baudRate_ = 9600;
  int ctsFlow_ = 0;
  int rtsControl_ = 0;
  QComboBox* portList_;
  QComboBox* baudList_;
  QComboBox* ctsList_;
  QComboBox* rtsList_;
};
