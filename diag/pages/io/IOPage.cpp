#include "pages/io/IOPage.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <vantrel/VantrelUSB.h>

#include "CSensitiveButton.h"
#include "DebuggerOutput.h"
#include "pages/io/CInputChangeLog.h"

namespace {

constexpr int kLampCount = 32;
constexpr int kRowLength = 8;

// Control ids in polling order: switch inputs 0-23, then dip switches 0-7.
constexpr std::array<int, IOPage::kInputCount> kInputIds{
    6002, 6003, 6004, 6005, 6006, 6007, 6008, 6009, 6010, 6012, 6013, 6014, 6015, 6016, 6017, 6018,
    6019, 6020, 6021, 6022, 6023, 6024, 6025, 6026, 6011, 6027, 6028, 6029, 6030, 6031, 6032, 6033};

// Control ids in reset order: lamps 0-31, then aux outputs 0-5.
constexpr std::array<int, IOPage::kOutputCount> kOutputIds{
    6034, 6035, 6036, 6037, 6038, 6039, 6040, 6041, 6042, 6046, 6047, 6048, 6049,
    6050, 6051, 6052, 6053, 6054, 6055, 6056, 6057, 6058, 6059, 6060, 6061, 6062,
    6063, 6064, 6065, 6066, 6067, 6068, 6043, 6069, 6070, 6071, 6072, 6073};

// A switch input as a check box that only polling sets: clicks and keys on
// it do nothing.
class InputIndicator : public QCheckBox {
 public:
  InputIndicator(const QString& text, QWidget* parent) : QCheckBox(text, parent) {
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents);
  }

 protected:
  bool hitButton(const QPoint&) const override { return false; }
};

QString TwoDigits(int n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); }

QString ControlName(int controlId) { return QStringLiteral("id%1").arg(controlId); }

// Byte and bit of input n (0-23) or dip switch n - 24 in a snapshot; of lamp
// n (0-31) or aux output n - 32 in an output image. Both put the 32nd entry
// on in bit 0 of byte 3 or 4 respectively.
struct BitPlace {
  int byte;
  int bit;
};
constexpr BitPlace InputPlace(int n) { return {n / kRowLength, n % kRowLength}; }
constexpr BitPlace OutputPlace(int n) {
  return n < kLampCount ? BitPlace{n / kRowLength, n % kRowLength} : BitPlace{4, n - kLampCount};
}

}  // namespace

IOPage::IOPage(VantrelUSB* board, QWidget* parent) : CActivePage(parent), board_(board) {
  setObjectName(QStringLiteral("id%1").arg(kTemplateId));

  auto* layout = new QGridLayout(this);
  layout->addWidget(BuildInputSwitches(), 0, 0);
  layout->addWidget(BuildDipSwitches(), 0, 1);
  layout->addWidget(BuildLinkedRow(), 1, 0);
  layout->addWidget(BuildAuxOutputs(), 1, 1);
  layout->addWidget(BuildOutputLamps(), 2, 0);
  layout->addWidget(BuildBrightness(), 2, 1);
  layout->addWidget(new CInputChangeLog(this), 3, 0, 1, 2);
  layout->setRowStretch(3, 1);
  layout->addWidget(Notice(), 4, 0, 1, 2);
}

IOPage::~IOPage() = default;

QString IOPage::BrightnessText(int level) {
  if (level >= kFullBrightness) return QStringLiteral("Lamp Brightness = 10 (on | on)");
  if (level <= 0) return QStringLiteral("Lamp Brightness = 0 (off | off)");
  return QStringLiteral("Lamp Brightness = %1 (on | off)").arg(level);
}

QCheckBox* IOPage::MakeInput(QWidget* parent, int controlId, int index, int label) {
  auto* box = new InputIndicator(TwoDigits(label), parent);
  box->setObjectName(ControlName(controlId));
  inputs_[static_cast<std::size_t>(index)] = box;
  return box;
}

CSensitiveButton* IOPage::MakeOutput(QWidget* parent, int controlId, int index, int label) {
  auto* button = new CSensitiveButton(TwoDigits(label), parent);
  button->setObjectName(ControlName(controlId));
  button->setCheckable(true);
  outputs_[static_cast<std::size_t>(index)] = button;
  connect(button, &QAbstractButton::clicked, this, [this, index] { ToggleOutput(index); });
  connect(button, &CSensitiveButton::pointedAt, this, [this, index] { ToggleOutput(index); });
  return button;
}

QGroupBox* IOPage::BuildInputSwitches() {
  auto* box = new QGroupBox(QStringLiteral("Input Switches"), this);
  auto* grid = new QGridLayout(box);
  for (int n = 0; n < 16; ++n) {
    grid->addWidget(MakeInput(box, kInputIds[static_cast<std::size_t>(n)], n, n), n / kRowLength,
                    n % kRowLength);
  }
  return box;
}

QGroupBox* IOPage::BuildDipSwitches() {
  auto* box = new QGroupBox(QStringLiteral("Dip Switches"), this);
  auto* grid = new QGridLayout(box);
  for (int k = 0; k < 8; ++k) {
    const int index = 24 + k;
    grid->addWidget(MakeInput(box, kInputIds[static_cast<std::size_t>(index)], index, k), k / 4,
                    k % 4);
  }
  return box;
}

// Inputs 16-23, each above the lamp (0-7) that it is paired with.
QGroupBox* IOPage::BuildLinkedRow() {
  auto* box = new QGroupBox(QStringLiteral("Linked Input Switches / Output Lamps"), this);
  auto* grid = new QGridLayout(box);
  for (int i = 0; i < kRowLength; ++i) {
    const int input = 16 + i;
    grid->addWidget(MakeInput(box, kInputIds[static_cast<std::size_t>(input)], input, input), 0, i);
    grid->addWidget(MakeOutput(box, kOutputIds[static_cast<std::size_t>(i)], i, i), 1, i);
  }
  return box;
}

QGroupBox* IOPage::BuildOutputLamps() {
  auto* box = new QGroupBox(QStringLiteral("Output Lamps"), this);
  auto* grid = new QGridLayout(box);
  for (int lamp = kRowLength; lamp < kLampCount; ++lamp) {
    const int row = lamp / kRowLength - 1;
    grid->addWidget(MakeOutput(box, kOutputIds[static_cast<std::size_t>(lamp)], lamp, lamp), row,
                    lamp % kRowLength);
  }
  return box;
}

QGroupBox* IOPage::BuildAuxOutputs() {
  auto* box = new QGroupBox(QStringLiteral("Aux Outputs"), this);
  auto* grid = new QGridLayout(box);
  for (int k = 0; k < kOutputCount - kLampCount; ++k) {
    const int index = kLampCount + k;
    grid->addWidget(MakeOutput(box, kOutputIds[static_cast<std::size_t>(index)], index, k), k / 3,
                    k % 3);
  }
  return box;
}

QGroupBox* IOPage::BuildBrightness() {
  brightnessBox_ = new QGroupBox(QStringLiteral("Lamp Brightness = 0"), this);
  brightnessBox_->setObjectName(QStringLiteral("id6044"));
  slider_ = new QSlider(Qt::Horizontal, brightnessBox_);
  slider_->setObjectName(QStringLiteral("id6001"));
  slider_->setRange(0, kFullBrightness);
  // Page keys move one level, as the arrow keys do; Home and End go to the ends.
  slider_->setSingleStep(1);
  slider_->setPageStep(1);
  slider_->setTickPosition(QSlider::TicksBelow);
  slider_->setTickInterval(1);
  auto* layout = new QVBoxLayout(brightnessBox_);
  layout->addWidget(slider_);
  connect(slider_, &QSlider::valueChanged, this, &IOPage::ApplyBrightness);
  return brightnessBox_;
}

void IOPage::SendImages(const usbOutput& on, const usbOutput& off) {
  BoardCall(QStringLiteral("VantrelUSB::SetOnPeriodOutputs ()"),
            [&] { return board_->SetOnPeriodOutputs(on); });
  BoardCall(QStringLiteral("VantrelUSB::SetOffPeriodOutputs ()"),
            [&] { return board_->SetOffPeriodOutputs(off); });
}

void IOPage::OnActivate() {
  onImage_ = usbOutput{};
  offImage_ = usbOutput{};
  SendImages(usbOutput{}, usbOutput{});
  for (CSensitiveButton* output : outputs_) output->setChecked(false);

  brightness_ = kFullBrightness;
  {
    const QSignalBlocker quiet(slider_);
    slider_->setRange(0, kFullBrightness);
    slider_->setValue(kFullBrightness);
  }
  brightnessBox_->setTitle(BrightnessText(kFullBrightness));
  BoardCall(QStringLiteral("VantrelUSB::SetOutputBrightness (10)"),
            [&] { return board_->SetOutputBrightness(kFullBrightness); });

  StartTicks(kPollMs);
}

void IOPage::OnTick() { Poll(); }

void IOPage::Poll() {
  usbInput snapshot{};
  if (BoardCall(QStringLiteral("VantrelUSB::GetInputs ()"),
                [&] { return board_->GetInputs(&snapshot); }) <= 0)
    return;
  for (int n = 0; n < kInputCount; ++n) {
    const BitPlace place = InputPlace(n);
    const bool bitSet = (snapshot.input[place.byte] >> place.bit) & 1;
    inputs_[static_cast<std::size_t>(n)]->setChecked(!bitSet);
  }
}

void IOPage::ToggleOutput(int index) {
  qCDebug(k27diagDebugger, "\nGot a click");
  CSensitiveButton* output = outputs_[static_cast<std::size_t>(index)];
  const bool on = !output->isChecked();
  output->setChecked(on);
  const BitPlace place = OutputPlace(index);
  const auto mask = static_cast<unsigned char>(1u << place.bit);
  unsigned char& byte = onImage_.output[place.byte];
  byte = on ? static_cast<unsigned char>(byte | mask) : static_cast<unsigned char>(byte & ~mask);
  SendImages(onImage_, offImage_);
}

void IOPage::ApplyBrightness(int level) {
  if (level < 0 || level > kFullBrightness || level == brightness_) return;
  if (level == kFullBrightness) {
    SendImages(onImage_, onImage_);
  } else if (level == 0) {
    SendImages(offImage_, offImage_);
  } else {
    SendImages(onImage_, offImage_);
    BoardCall(QStringLiteral("VantrelUSB::SetOutputBrightness (%1)").arg(level),
              [&] { return board_->SetOutputBrightness(static_cast<unsigned char>(level)); });
  }
  brightness_ = static_cast<std::uint8_t>(level);
  brightnessBox_->setTitle(BrightnessText(level));
}
