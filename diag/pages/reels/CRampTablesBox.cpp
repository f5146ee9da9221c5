#include "pages/reels/CRampTablesBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QPushButton>
#include <QSignalBlocker>

#include "CHexBlockEdit.h"

namespace {

constexpr int kEditorBytesPerRow = 10;
constexpr int kMaxRampLength = 10;  // entries the length lists offer

QString ControlName(int id) { return QStringLiteral("id%1").arg(id); }

}  // namespace

CRampTablesBox::CRampTablesBox(QWidget* parent) : QGroupBox(QStringLiteral("Ramp Tables"), parent) {
  auto* grid = new QGridLayout(this);
  shareBox_ = new QCheckBox(QStringLiteral("Share ramp tables"), this);
  shareBox_->setObjectName(ControlName(2025));
  reelList_ = new QComboBox(this);
  reelList_->setObjectName(ControlName(2027));
  reelList_->addItems(
      {QStringLiteral("Reel 1"), QStringLiteral("Reel 2"), QStringLiteral("Reel 3")});
  grid->addWidget(shareBox_, 0, 0);
  grid->addWidget(reelList_, 0, 1);

  const struct {
    RampTables::Side side;
    int listId;
    int editorId;
    const char* prefix;
  } sides[] = {{RampTables::kUp, 2029, 2026, "Up: %1"}, {RampTables::kDown, 2030, 2028, "Dn: %1"}};
  int row = 1;
  for (const auto& s : sides) {
    auto* list = new QComboBox(this);
    list->setObjectName(ControlName(s.listId));
    for (int n = 1; n <= kMaxRampLength; ++n) list->addItem(QString::fromLatin1(s.prefix).arg(n));
    auto* editor = new CHexBlockEdit(false, this);
    editor->setObjectName(ControlName(s.editorId));
    editor->setMaximumHeight(editor->fontMetrics().height() * 3);
    lengthLists_[s.side] = list;
    editors_[s.side] = editor;
    grid->addWidget(list, row, 0);
    grid->addWidget(editor, row, 1);
    const RampTables::Side side = s.side;
    connect(list, &QComboBox::currentIndexChanged, this,
            [this, side](int index) { LengthChanged(side, index); });
    ++row;
  }
  auto* apply = new QPushButton(QStringLiteral("Apply Ramps"), this);
  apply->setObjectName(ControlName(2031));
  apply->setAutoDefault(false);
  grid->addWidget(apply, row, 1);
  grid->setColumnStretch(1, 1);

  connect(shareBox_, &QCheckBox::clicked, this, &CRampTablesBox::ShareClicked);
  connect(reelList_, &QComboBox::currentIndexChanged, this, &CRampTablesBox::ReelChanged);
  connect(apply, &QPushButton::clicked, this, &CRampTablesBox::applyClicked);
}

void CRampTablesBox::Reset() {
  // The box is checked again below: the tables are shared from here on, and
  // the editors show reel 1's tables.
  shared_ = true;
  selectedReel_ = 0;
  {
    const QSignalBlocker quiet(reelList_);
    reelList_->setCurrentIndex(selectedReel_);
  }
  reelList_->setEnabled(false);
  shareBox_->setChecked(true);
  ramps_.LoadDefaults();
  SelectLengths(0);

  for (CHexBlockEdit* editor : editors_) {
    editor->SetOptions(false, true, false, false);
    editor->SetInsertDelete(false);
    editor->SetBytesPerRow(kEditorBytesPerRow);
    editor->SetMaxLength(RampTables::kRoom);
  }
  LoadEditors(0);
}

void CRampTablesBox::SaveEditors() {
  for (const RampTables::Side side : {RampTables::kUp, RampTables::kDown}) {
    const QByteArray bytes = editors_[side]->Bytes();
    if (shared_)
      ramps_.StoreAll(side, bytes);
    else
      ramps_.Store(side, selectedReel_, bytes);
  }
}

void CRampTablesBox::LoadEditors(int reel) {
  for (const RampTables::Side side : {RampTables::kUp, RampTables::kDown})
    editors_[side]->SetData(ramps_.Entries(side, reel));
}

void CRampTablesBox::SelectLengths(int reel) {
  for (const RampTables::Side side : {RampTables::kUp, RampTables::kDown}) {
    const QSignalBlocker quiet(lengthLists_[side]);
    lengthLists_[side]->setCurrentIndex(ramps_.Count(side, reel) - 1);
  }
}

void CRampTablesBox::ShareClicked(bool checked) {
  for (const RampTables::Side side : {RampTables::kUp, RampTables::kDown})
    ramps_.StoreAll(side, editors_[side]->Bytes());
  if (checked) {
    shared_ = true;
    reelList_->setEnabled(false);
    selectedReel_ = 0;
    const QSignalBlocker quiet(reelList_);
    reelList_->setCurrentIndex(0);
  } else {
    shared_ = false;
    reelList_->setEnabled(true);
  }
}

void CRampTablesBox::ReelChanged(int index) {
  if (index < 0 || index >= RampTables::kReels) return;
  const int old = selectedReel_;
  selectedReel_ = index;
  if (shared_ || index == old) return;
  for (const RampTables::Side side : {RampTables::kUp, RampTables::kDown})
    ramps_.Store(side, old, editors_[side]->Bytes());
  LoadEditors(index);
  SelectLengths(index);
}

void CRampTablesBox::LengthChanged(RampTables::Side side, int index) {
  const int n = index + 1;
  CHexBlockEdit* editor = editors_[side];
  if (n == editor->Length()) return;
  const QByteArray bytes = editor->Bytes();
  const int reel = shared_ ? 0 : selectedReel_;
  if (shared_) {
    ramps_.StoreAll(side, bytes);
    ramps_.SetCountAll(side, n);
  } else {
    ramps_.Store(side, reel, bytes);
    ramps_.SetCount(side, reel, n);
  }
  editor->SetData(ramps_.Entries(side, reel));
}
