#include "CcTalkDictionary.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>

#include "DictionaryDiscovery.h"
#include "DictionaryStore.h"
#include "DictionaryText.h"

namespace {

// "Command [254] = Simple poll" and "Response [0]: ACK" as the reader builds
// them: the part between the brackets and the part after the separator.
bool SplitItemText(const std::string& text, const std::string& prefix, const std::string& separator,
                   std::string& code, std::string& name) {
  if (text.rfind(prefix, 0) != 0) return false;
  const std::size_t close = text.find(separator, prefix.size());
  if (close == std::string::npos) return false;
  code = text.substr(prefix.size(), close - prefix.size());
  name = text.substr(close + separator.size());
  return true;
}

std::string Normalised(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    out += lower == '-' || lower == '_' ? ' ' : lower;
  }
  return out;
}

void ReadCommand(const DictionaryNode& node, std::vector<CcTalkCommand>& commands) {
  std::string code, name;
  if (node.record == nullptr || !node.record->IsCommandRecord() ||
      !SplitItemText(node.text, "Command [", "] = ", code, name))
    return;
  CcTalkCommand command;
  command.header = static_cast<std::uint8_t>(LeadingNumber(code) & 0xFF);
  command.name = name;
  command.dataLength =
      static_cast<unsigned>(std::min<unsigned long>(LeadingNumber(node.record->length), 255));
  command.data = node.record->shortData;
  command.description = node.record->shortDescription;
  for (const auto& child : node.children) {
    CcTalkReply reply;
    if (child.record == nullptr ||
        !SplitItemText(child.text, "Response [", "]: ", reply.code, reply.name))
      continue;
    reply.data = child.record->owner != nullptr ? child.record->owner->shortData : std::string();
    command.replies.push_back(std::move(reply));
  }
  commands.push_back(std::move(command));
}

void Walk(const DictionaryNode& node, std::vector<CcTalkCommand>& commands,
          std::vector<std::string>& warnings) {
  if (node.text.rfind("Error:", 0) == 0) warnings.push_back(node.text);
  ReadCommand(node, commands);
  for (const auto& child : node.children) Walk(child, commands, warnings);
}

}  // namespace

CcTalkDictionary::CcTalkDictionary(const std::vector<std::filesystem::path>& folders) {
  DictionaryStore store;
  for (const auto& file : DiscoverDictionaryFiles(folders))
    for (const auto& node : LoadDictionaryFile(file, store)) Walk(node, commands_, warnings_);
}

std::filesystem::path CcTalkDictionary::InstalledFolder() {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return "/usr/share/k27diag/dictionaries";
  return (program.parent_path() / ".." / "share" / "k27diag" / "dictionaries").lexically_normal();
}

const CcTalkCommand* CcTalkDictionary::Find(const std::string& headerOrName) const {
  if (!headerOrName.empty() && std::isdigit(static_cast<unsigned char>(headerOrName[0])))
    return nullptr;
  const std::string wanted = Normalised(headerOrName);
  for (const auto& command : commands_)
    if (Normalised(command.name) == wanted) return &command;
  return nullptr;
}

const CcTalkCommand* CcTalkDictionary::FindHeader(std::uint8_t header) const {
  for (const auto& command : commands_)
    if (command.header == header) return &command;
  return nullptr;
}

const CcTalkReply* CcTalkDictionary::Reply(const CcTalkCommand* command, std::uint8_t header) {
  if (command == nullptr) return nullptr;
  for (const auto& reply : command->replies)
    if (LeadingNumber(reply.code) == header && !reply.code.empty() &&
        std::isdigit(static_cast<unsigned char>(reply.code[0])))
      return &reply;
  return nullptr;
}

std::string CcTalkDictionary::ReplyName(const CcTalkCommand* command, std::uint8_t header) {
  if (const CcTalkReply* reply = Reply(command, header)) return reply->name;
  switch (header) {
    case 0:
      return "ACK";
    case 5:
      return "NAK";
    case 6:
      return "BUSY";
    default:
      return "";
  }
}
