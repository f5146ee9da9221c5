// libFuzzer entry point for the dictionary reader: arbitrary bytes are read
// as a dictionary file, and the items it makes must hang together whatever
// the file says.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "DictionaryStore.h"
#include "DictionaryText.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckSplit(std::string_view text) {
  const SplitText split = SplitDictionaryText(text);
  Check(split.shortText.find('\n') == std::string::npos);
  Check(split.fullText.empty() || split.shortText.ends_with(" ..."));
  Check(split.fullText.size() <= text.size() * 2);
}

void Walk(const DictionaryNode& node, std::size_t depth) {
  Check(depth < 8);  // dictionary, type/version/transactions, command, reply, data
  if (node.record != nullptr) {
    const DictionaryItem& record = *node.record;
    Check(record.owner != nullptr);
    Check(record.owner->owner == record.owner);  // owners are records
    Check(record.kind == DictionaryItem::kRecord || record.kind == DictionaryItem::kReplyItem ||
          record.kind == DictionaryItem::kDataItem);
    if (record.kind == DictionaryItem::kRecord) Check(LeadingNumber(record.code) != 0);
    Check(record.variable == 0);
    CheckSplit(record.owner->fullData);
    CheckSplit(record.owner->fullDescription);
  }
  for (const DictionaryNode& child : node.children) Walk(child, depth + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  CheckSplit(text);
  (void)LeadingNumber(text);

  DictionaryStore store;
  const auto top = LoadDictionaryBuffer(data, size, "fuzz.xml", store);
  for (const DictionaryNode& node : top) {
    Check(node.record == nullptr);
    Walk(node, 0);
  }
  return 0;
}
