#include "pages/serial/CSerialSendTools.h"

#include <QAction>
#include <QFontMetrics>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>

#include "CColouredListBox.h"
#include "CHexBlockEdit.h"
#include "LogKeeper.h"

CSerialSendTools::CSerialSendTools(CColouredListBox* dump, CHexBlockEdit* editor,
                                   std::function<void()> send, QWidget* parent)
    : QWidget(parent),
      dump_(dump),
      editor_(editor),
      send_(std::move(send)),
      keeper_(new LogKeeper(dump)),
      entry_(new QComboBox(this)),
      line_(new QComboBox(this)),
      problem_(new QLabel(this)),
      times_(new QCheckBox(QStringLiteral("Times"), this)) {
  setObjectName(QStringLiteral("serialSendTools"));
  entry_->setObjectName(QStringLiteral("entryMode"));
  entry_->addItems({QStringLiteral("Hex"), QStringLiteral("Text")});
  line_->setObjectName(QStringLiteral("sendLine"));
  line_->setEditable(true);
  line_->setInsertPolicy(QComboBox::NoInsert);
  line_->setToolTip(QStringLiteral("Bytes to send; the list holds the last 20 sends"));
  auto* sendLine = new QPushButton(QStringLiteral("Send line"), this);
  sendLine->setObjectName(QStringLiteral("sendLineButton"));
  sendLine->setAutoDefault(false);
  problem_->setObjectName(QStringLiteral("sendLineProblem"));
  problem_->setStyleSheet(QStringLiteral("color: red"));
  // Its room is kept while it is hidden, so that the row never shifts.
  const QFontMetrics metrics = problem_->fontMetrics();
  problem_->setFixedWidth(std::max(metrics.horizontalAdvance(QStringLiteral("not hex")),
                                   metrics.horizontalAdvance(QStringLiteral("bad text"))) +
                          metrics.horizontalAdvance(QLatin1Char(' ')));
  QSizePolicy keepRoom = problem_->sizePolicy();
  keepRoom.setRetainSizeWhenHidden(true);
  problem_->setSizePolicy(keepRoom);
  problem_->hide();
  times_->setObjectName(QStringLiteral("dumpTimes"));
  times_->setToolTip(QStringLiteral("Show the time each dump line came"));

  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->addWidget(entry_);
  row->addWidget(line_, 1);
  row->addWidget(sendLine);
  row->addWidget(problem_);
  row->addWidget(times_);

  auto* timesAction = new QAction(QStringLiteral("Show times"), keeper_);
  timesAction->setCheckable(true);
  keeper_->AddMenuAction(timesAction);
  connect(timesAction, &QAction::toggled, times_, &QCheckBox::setChecked);
  connect(times_, &QCheckBox::toggled, timesAction, &QAction::setChecked);
  connect(times_, &QCheckBox::toggled, this, &CSerialSendTools::ShowTimes);
  connect(entry_, &QComboBox::currentIndexChanged, this, [this] { FillHistory(); });
  connect(sendLine, &QPushButton::clicked, this, [this] { SendLine(line_->currentText()); });
  connect(line_->lineEdit(), &QLineEdit::returnPressed, this,
          [this] { SendLine(line_->currentText()); });
}

std::optional<QByteArray> CSerialSendTools::ParseHex(const QString& text) {
  QString digits;
  for (const QString& word :
       text.split(QRegularExpression(QStringLiteral("[\\s,]+")), Qt::SkipEmptyParts)) {
    QString w = word;
    if (w.startsWith(QStringLiteral("0x"), Qt::CaseInsensitive)) w = w.mid(2);
    if (w.size() % 2 != 0) w.prepend(QLatin1Char('0'));
    digits += w;
  }
  QByteArray bytes;
  for (qsizetype i = 0; i < digits.size(); i += 2) {
    bool ok = false;
    const uint value = digits.mid(i, 2).toUInt(&ok, 16);
    if (!ok) return std::nullopt;
    bytes.append(static_cast<char>(value));
  }
  return bytes;
}

QString CSerialSendTools::ToHex(const QByteArray& bytes) {
  return QString::fromLatin1(bytes.toHex(' ')).toUpper();
}

std::optional<QByteArray> CSerialSendTools::ParseText(const QString& text) {
  QByteArray bytes;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (c == QLatin1Char('\\') && i + 1 < text.size()) {
      const QChar e = text[++i];
      if (e == QLatin1Char('r')) {
        bytes.append('\r');
      } else if (e == QLatin1Char('n')) {
        bytes.append('\n');
      } else if (e == QLatin1Char('t')) {
        bytes.append('\t');
      } else if (e == QLatin1Char('x')) {
        bool ok = false;
        const uint value = text.mid(i + 1, 2).toUInt(&ok, 16);
        if (!ok || text.mid(i + 1, 2).size() != 2) return std::nullopt;
        bytes.append(static_cast<char>(value));
        i += 2;
      } else {
        bytes.append(static_cast<char>(e.unicode() & 0xFF));
        if (e.unicode() > 0xFF) return std::nullopt;
      }
      continue;
    }
    if (c.unicode() > 0xFF) return std::nullopt;
    bytes.append(static_cast<char>(c.unicode()));
  }
  return bytes;
}

QString CSerialSendTools::ToText(const QByteArray& bytes) {
  QString text;
  for (const char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    if (b == '\\')
      text += QStringLiteral("\\\\");
    else if (b == '\r')
      text += QStringLiteral("\\r");
    else if (b == '\n')
      text += QStringLiteral("\\n");
    else if (b == '\t')
      text += QStringLiteral("\\t");
    else if (b < 0x20 || b == 0x7F)
      text += QStringLiteral("\\x%1").arg(b, 2, 16, QLatin1Char('0'));
    else
      text += QChar(b);
  }
  return text;
}

void CSerialSendTools::SetEntry(Entry entry) { entry_->setCurrentIndex(static_cast<int>(entry)); }

CSerialSendTools::Entry CSerialSendTools::CurrentEntry() const {
  return entry_->currentIndex() == 1 ? Entry::kText : Entry::kHex;
}

bool CSerialSendTools::SendLine(const QString& line) {
  const std::optional<QByteArray> bytes =
      CurrentEntry() == Entry::kHex ? ParseHex(line) : ParseText(line);
  if (!bytes) {
    problem_->setText(CurrentEntry() == Entry::kHex ? QStringLiteral("not hex")
                                                    : QStringLiteral("bad text"));
    problem_->show();
    return false;
  }
  problem_->hide();
  editor_->SetData(*bytes);
  send_();
  return true;
}

void CSerialSendTools::RecordSent(const QByteArray& bytes) {
  std::erase(history_, bytes);
  history_.push_front(bytes);
  while (history_.size() > kHistoryLength) history_.pop_back();
  FillHistory();
}

void CSerialSendTools::FillHistory() {
  const QString typed = line_->currentText();
  line_->clear();
  for (const QByteArray& bytes : history_)
    line_->addItem(CurrentEntry() == Entry::kHex ? ToHex(bytes) : ToText(bytes));
  line_->setEditText(history_.empty() ? typed : line_->itemText(0));
}

void CSerialSendTools::ShowTimes(bool on) {
  if (!on) {
    dump_->SetLinePrefix({});
    return;
  }
  dump_->SetLinePrefix([this](int index) {
    const QDateTime time = LogKeeper::StampOf(dump_->model()->index(index, 0));
    return time.isValid() ? time.toString(QStringLiteral("HH:mm:ss.zzz "))
                          : QString(13, QLatin1Char(' '));
  });
}
