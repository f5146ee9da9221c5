// The design shared by the EEPROM and SRAM pages: a start address (decimal or
// hex) and a byte count, "Update View" that reads the range into the page's
// buffer and shows it as a dump, and a log. Every byte typed into the dump is
// written to the board and read back. The buffer is read each time the page
// becomes the active tab and released when it stops being it.
#pragma once

#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>

class CColouredListBox;
class CHexEntryEdit;
class CMemoryView;
class LogKeeper;
class MemoryBuffer;
class QHBoxLayout;
class QLineEdit;
class QPushButton;
class VantrelUSB;

class CMemoryPage : public QWidget {
  Q_OBJECT

 public:
  // What tells the two pages apart.
  struct Kind {
    int templateId;
    QString rangeCaption;
    QString viewCaption;
    int addressId;
    int countId;
    int updateId;
    int viewId;
    int logId;
    std::uint32_t initialAddress;
    // Largest byte count read at once; larger counts are cut to it.
    std::uint32_t maxCount;
    QString initialisedLine;
  };

  static constexpr std::uint32_t kHighestAddress = 0xFFFF;

  ~CMemoryPage() override;

  // Reads the range that the address and count boxes give and shows it.
  void UpdateView();

  // The count box's text as a plain decimal conversion (leading blanks, an
  // optional sign, digits; none gives 0), 0 taken as 1 and anything above
  // maxCount, negative values included, cut to maxCount.
  static std::uint32_t CountOf(const QString& text, std::uint32_t maxCount);

  // Where a window at the address must end: at the memory's end
  // (memoryEnd), and in any case at the end of the 16-bit address space. A
  // window that starts past a smaller memory's end is held to the address
  // space only; none of its bytes can be read or typed into.
  static std::int64_t WindowEnd(std::uint32_t address, std::int64_t memoryEnd);

  // The log line that tells why a window was made smaller than asked.
  static QString CutLine(std::uint32_t count, std::uint32_t address, std::int64_t memoryEnd);

  MemoryBuffer* Buffer() const { return buffer_.get(); }
  LogKeeper* Keeper() const { return keeper_; }
  CColouredListBox* Log() const { return log_; }
  CMemoryView* View() const { return view_; }
  CHexEntryEdit* AddressEdit() const { return addressEdit_; }
  QLineEdit* CountEdit() const { return countEdit_; }
  QPushButton* UpdateButton() const { return updateButton_; }
  const Kind& PageKind() const { return kind_; }

 signals:
  // Update View read a window of another start or size than the one before.
  void WindowChanged();

 protected:
  // makeBuffer builds the page's buffer on the board and the page's log.
  using BufferFactory = std::unique_ptr<MemoryBuffer> (*)(VantrelUSB* board, CColouredListBox* log);
  CMemoryPage(VantrelUSB* board, Kind kind, BufferFactory makeBuffer, QWidget* parent);

  // Puts a panel of the page's own tools to the right of the view.
  void AddSidePanel(QWidget* panel);

  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void InitialiseDialog();

  VantrelUSB* board_;  // not owned
  Kind kind_;
  bool initialised_ = false;
  CHexEntryEdit* addressEdit_;
  QLineEdit* countEdit_;
  QPushButton* updateButton_;
  CMemoryView* view_;
  CColouredListBox* log_;
  QHBoxLayout* viewRow_;
  LogKeeper* keeper_;
  std::unique_ptr<MemoryBuffer> buffer_;
  // The window last read, to tell when it changes.
  std::uint32_t shownAddress_ = 0;
  std::uint32_t shownCount_ = 0;
};
