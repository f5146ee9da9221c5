// Reads transaction dictionary files into a neutral tree of items, without
// any window: the command tree shows it, the fuzzer feeds it arbitrary bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "DictionaryItem.h"

// One item of the command tree as the reader builds it.
struct DictionaryNode {
  std::string text;
  DictionaryItem* record = nullptr;  // owned by the DictionaryStore; null for plain items
  bool expanded = false;
  std::vector<DictionaryNode> children;
};

// Owns every record the reader makes; the tree items point into it.
class DictionaryStore {
 public:
  DictionaryItem* MakeRecord(std::string code);  // command or reply record, owner itself
  DictionaryItem* MakeItem(DictionaryItem* owner, int kind, std::uint8_t isReply);
  std::size_t Count() const { return items_.size(); }
  // Destroys the records made after the first `count`.
  void Truncate(std::size_t count);

 private:
  std::vector<std::unique_ptr<DictionaryItem>> items_;
};

// Files beyond these limits are refused with an error item instead of being
// allowed to exhaust memory or time.
inline constexpr std::uintmax_t kMaxDictionaryBytes = 4u * 1024u * 1024u;
inline constexpr unsigned kMaxDictionaryDepth = 64;
// What one file may make: tree items and records together, and the bytes of
// text copied into them (nested transactions and shared replies can make a
// small file copy the same elements and texts many times over).
inline constexpr std::size_t kMaxDictionaryItems = 50000;
inline constexpr std::size_t kMaxDictionaryTextBytes = 16u * 1024u * 1024u;

// The top-level items for one file: one branch per Transaction_Dictionary,
// then an error item for each part that could not be read.
std::vector<DictionaryNode> LoadDictionaryFile(const std::filesystem::path& path,
                                               DictionaryStore& store);

// The same for a file already in memory; `shownPath` names it in the items.
std::vector<DictionaryNode> LoadDictionaryBuffer(const void* data, std::size_t size,
                                                 const std::string& shownPath,
                                                 DictionaryStore& store);
