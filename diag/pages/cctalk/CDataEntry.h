// The modal "Enter Command Data" dialog: the data bytes of a ccTalk command,
// entered in a byte editor, with the command's texts above it.
#pragma once

#include <QDialog>

#include <cstdint>
#include <vector>

#include "pages/cctalk/CXMLTreeView.h"

class CHexBlockEdit;
class ControlToolTip;
class QLabel;

class CDataEntry : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 105;

  // `bytes` holds the command's byte count of zeros; on OK it receives the
  // edited bytes (at most that many unless the length may change).
  CDataEntry(const CommandDataRequest& request, std::vector<std::uint8_t>& bytes,
             QWidget* parent = nullptr);
  ~CDataEntry() override;

  // Runs the dialog; true when confirmed.
  static bool Run(const CommandDataRequest& request, std::vector<std::uint8_t>& bytes,
                  QWidget* parent);

  ControlToolTip* DescriptionTip() const { return descriptionTip_; }
  ControlToolTip* DataTip() const { return dataTip_; }
  CHexBlockEdit* Editor() const { return editor_; }

 public slots:
  void accept() override;

 private:
  std::vector<std::uint8_t>& bytes_;
  const bool variable_;
  CHexBlockEdit* editor_;
  QLabel* descriptionLabel_;
  QLabel* dataLabel_;
  ControlToolTip* descriptionTip_;
  ControlToolTip* dataTip_;
};
