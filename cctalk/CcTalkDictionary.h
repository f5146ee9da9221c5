// The ccTalk commands of the shipped transaction dictionaries, looked up by
// header number or by name, for k27ctl and the Python module.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct CcTalkReply {
  std::string code;  // as the dictionary gives it
  std::string name;
  std::string data;  // short text of the data layout
};

struct CcTalkCommand {
  std::uint8_t header = 0;
  std::string name;
  unsigned dataLength = 0;  // 0: none, or variable
  std::string data;         // short text of the data layout
  std::string description;  // short text
  std::vector<CcTalkReply> replies;
};

class CcTalkDictionary {
 public:
  // Reads every dictionary file below the folders; warnings (files that
  // could not be read) are collected, not fatal.
  explicit CcTalkDictionary(const std::vector<std::filesystem::path>& folders);

  // The folder of the dictionaries installed with k27ctl.
  static std::filesystem::path InstalledFolder();

  // A header number (decimal or 0x hex) or a command name: case does not
  // matter, and '-' or '_' stand for blanks ("simple-poll").
  const CcTalkCommand* Find(const std::string& headerOrName) const;
  const CcTalkCommand* FindHeader(std::uint8_t header) const;
  // The name of reply header `header` to `command` (may be null): from the
  // dictionary, else ACK, NAK or BUSY, else empty.
  static std::string ReplyName(const CcTalkCommand* command, std::uint8_t header);
  static const CcTalkReply* Reply(const CcTalkCommand* command, std::uint8_t header);

  const std::vector<std::string>& Warnings() const { return warnings_; }
  const std::vector<CcTalkCommand>& Commands() const { return commands_; }
  std::size_t Size() const { return commands_.size(); }

 private:
  std::vector<CcTalkCommand> commands_;
  std::vector<std::string> warnings_;
};
