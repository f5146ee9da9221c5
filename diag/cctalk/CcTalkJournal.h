// The ccTalk page's transactions as records: when each was sent, the command,
// the request and reply bytes with their fields decoded, the outcome and the
// round-trip time; exported as JSON.
#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QString>

#include <cstdint>
#include <vector>

class CcctalkMessage;

struct CcTalkJournalEntry {
  QDateTime time;
  QString command;  // empty for an error outside a transaction
  QString description;
  std::vector<std::uint8_t> request;
  QString outcome;  // "reply", "timeout", "invalid", "error", "pending"
  std::vector<std::uint8_t> reply;
  QString error;
  double roundTripMs = -1;  // -1: no reply
};

class CcTalkJournal {
 public:
  // A transaction begins: its request is about to be sent.
  void Begin(const CcctalkMessage& request, const QString& command, const QString& description);
  // The transaction began last ends with what was received.
  void FinishReply(const CcctalkMessage& reply);
  void FinishError(const QString& error);
  // An error outside a transaction (configuration, drained bytes).
  void AddError(const QString& error);

  const std::vector<CcTalkJournalEntry>& Entries() const { return entries_; }
  QJsonDocument ToJson() const;
  bool SaveJson(const QString& path, QString* error = nullptr) const;

 private:
  std::vector<CcTalkJournalEntry> entries_;
  QElapsedTimer clock_;
};
