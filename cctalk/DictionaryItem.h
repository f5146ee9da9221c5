// The record behind an item of the command tree: a command, a reply, or an
// item (reply line or data line) that belongs to one of them.
#pragma once

#include <cstdint>
#include <string>

struct DictionaryItem {
  static constexpr int kReplyItem = 0;
  static constexpr int kRecord = 1;  // a command or reply record
  static constexpr int kDataItem = 2;

  std::uint8_t isReply = 0;  // 1 only for the data item under a reply
  std::string code;          // the code attribute (command and reply records)
  std::string length;        // the length attribute; "0" in a record until one is read
  int kind = kRecord;
  DictionaryItem* owner = nullptr;  // the record this item belongs to; a record points to itself
  std::string fullDescription;
  std::string shortDescription;
  std::string fullData;
  std::string shortData;
  std::uint8_t variable = 0;  // never set by the reader

  // True for the record of a command (what BuildCommand looks for).
  bool IsCommandRecord() const {
    return kind == kRecord && owner != nullptr && owner->isReply == 0;
  }
};
