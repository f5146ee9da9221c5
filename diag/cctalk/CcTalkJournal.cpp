#include "cctalk/CcTalkJournal.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QSaveFile>

#include "CcctalkMessage.h"
#include "LogKeeper.h"

namespace {

QString Hex(const std::vector<std::uint8_t>& bytes) {
  QStringList out;
  for (std::uint8_t b : bytes) out << QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0'));
  return out.join(QLatin1Char(' '));
}

std::vector<std::uint8_t> BytesOf(const CcctalkMessage& message) {
  const auto bytes = message.bytes();
  return {bytes.begin(), bytes.end()};
}

// The fields of a frame; a frame too short for a field leaves it out.
QJsonObject Fields(const std::vector<std::uint8_t>& frame) {
  QJsonObject fields;
  if (frame.size() >= 1) fields[QStringLiteral("destination")] = frame[0];
  if (frame.size() >= 2) fields[QStringLiteral("dataCount")] = frame[1];
  if (frame.size() >= 3) fields[QStringLiteral("source")] = frame[2];
  if (frame.size() >= 4) fields[QStringLiteral("header")] = frame[3];
  if (frame.size() >= 5) {
    const std::size_t count = std::min<std::size_t>(frame[1], frame.size() - 5);
    const std::vector<std::uint8_t> data(frame.begin() + 4,
                                         frame.begin() + 4 + static_cast<std::ptrdiff_t>(count));
    fields[QStringLiteral("data")] = Hex(data);
    fields[QStringLiteral("checksum")] = frame.back();
    std::uint8_t sum = 0;
    for (std::uint8_t b : frame) sum = static_cast<std::uint8_t>(sum + b);
    fields[QStringLiteral("checksumValid")] = sum == 0 && frame.size() == frame[1] + 5u;
  }
  return fields;
}

}  // namespace

void CcTalkJournal::Begin(const CcctalkMessage& request, const QString& command,
                          const QString& description) {
  CcTalkJournalEntry entry;
  entry.time = QDateTime::currentDateTime();
  entry.command = command;
  entry.description = description;
  entry.request = BytesOf(request);
  entry.outcome = QStringLiteral("pending");
  entries_.push_back(std::move(entry));
  clock_.start();
}

void CcTalkJournal::FinishReply(const CcctalkMessage& reply) {
  if (entries_.empty() || entries_.back().outcome != QStringLiteral("pending")) return;
  CcTalkJournalEntry& entry = entries_.back();
  entry.roundTripMs = static_cast<double>(clock_.nsecsElapsed()) / 1e6;
  entry.reply = BytesOf(reply);
  CcctalkMessage check = reply;
  if (check.validate() == CcctalkMessage::kOk)
    entry.outcome = QStringLiteral("reply");
  else
    entry.outcome = reply.length() == 0 ? QStringLiteral("timeout") : QStringLiteral("invalid");
  if (entry.outcome == QStringLiteral("timeout")) entry.roundTripMs = -1;
}

void CcTalkJournal::FinishError(const QString& error) {
  if (entries_.empty() || entries_.back().outcome != QStringLiteral("pending")) return;
  entries_.back().outcome = QStringLiteral("error");
  entries_.back().error = error;
}

void CcTalkJournal::AddError(const QString& error) {
  CcTalkJournalEntry entry;
  entry.time = QDateTime::currentDateTime();
  entry.outcome = QStringLiteral("error");
  entry.error = error;
  entries_.push_back(std::move(entry));
}

QJsonDocument CcTalkJournal::ToJson() const {
  QJsonArray list;
  for (const CcTalkJournalEntry& entry : entries_) {
    QJsonObject item;
    item[QStringLiteral("time")] = LogKeeper::StampText(entry.time);
    item[QStringLiteral("outcome")] = entry.outcome;
    if (!entry.command.isEmpty() || !entry.request.empty()) {
      item[QStringLiteral("command")] = entry.command;
      item[QStringLiteral("description")] = entry.description;
      item[QStringLiteral("request")] = Hex(entry.request);
      item[QStringLiteral("requestFields")] = Fields(entry.request);
    }
    if (!entry.reply.empty()) {
      item[QStringLiteral("reply")] = Hex(entry.reply);
      item[QStringLiteral("replyFields")] = Fields(entry.reply);
    }
    if (entry.roundTripMs >= 0) item[QStringLiteral("roundTripMs")] = entry.roundTripMs;
    if (!entry.error.isEmpty()) item[QStringLiteral("error")] = entry.error;
    list.append(item);
  }
  QJsonObject root;
  root[QStringLiteral("transactions")] = list;
  return QJsonDocument(root);
}

bool CcTalkJournal::SaveJson(const QString& path, QString* error) const {
  QSaveFile file(path);
  const QByteArray json = ToJson().toJson(QJsonDocument::Indented);
  if (!file.open(QIODevice::WriteOnly) || file.write(json) != json.size() || !file.commit()) {
    if (error != nullptr) *error = file.errorString();
    return false;
  }
  return true;
}
