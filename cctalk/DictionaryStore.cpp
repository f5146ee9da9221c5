#include "DictionaryStore.h"

#include <pugixml.hpp>

#include <algorithm>
#include <fstream>
#include <map>
#include <cstring>
#include <exception>
#include <new>
#include <system_error>

#include "DictionaryText.h"

DictionaryItem* DictionaryStore::MakeRecord(std::string code) {
  auto item = std::make_unique<DictionaryItem>();
  item->code = std::move(code);
  item->length.assign(1, '0');  // (assigning "0" trips a GCC 12 -O3 -Wrestrict false alarm)
  item->kind = DictionaryItem::kRecord;
  item->owner = item.get();
  items_.push_back(std::move(item));
  return items_.back().get();
}

DictionaryItem* DictionaryStore::MakeItem(DictionaryItem* owner, int kind, std::uint8_t isReply) {
  auto item = std::make_unique<DictionaryItem>();
  item->kind = kind;
  item->owner = owner;
  item->isReply = isReply;
  items_.push_back(std::move(item));
  return items_.back().get();
}

void DictionaryStore::Truncate(std::size_t count) {
  if (count < items_.size()) items_.resize(count);
}

namespace {

std::string LoadError(const std::string& path) {
  return "Error: unable to load XML:'" + path + "'";
}

DictionaryNode ErrorNode(std::string text) {
  return DictionaryNode{std::move(text), nullptr, false, {}};
}

// The first descendant element with this name, in document order.
pugi::xml_node FirstDescendant(pugi::xml_node node, const char* name) {
  return node.find_node([name](pugi::xml_node n) {
    return n.type() == pugi::node_element && std::strcmp(n.name(), name) == 0;
  });
}

std::vector<pugi::xml_node> Descendants(pugi::xml_node node, const char* name) {
  std::vector<pugi::xml_node> found;
  for (const auto& selected : node.select_nodes((std::string(".//") + name).c_str()))
    found.push_back(selected.node());
  return found;
}

// Text of a node's first child, as the reader takes names and descriptions.
std::string FirstChildText(pugi::xml_node node) { return node.first_child().value(); }

bool HasAttribute(pugi::xml_node node, const char* name) { return !node.attribute(name).empty(); }

// Counts what a file makes; going past a limit ends the file's reading.
class Budget {
 public:
  struct Exceeded {
    std::string what;
  };

  void Spend(std::size_t items, std::size_t textBytes) {
    items_ += items;
    textBytes_ += textBytes;
    if (items_ > kMaxDictionaryItems)
      throw Exceeded{"more than " + std::to_string(kMaxDictionaryItems) + " items"};
    if (textBytes_ > kMaxDictionaryTextBytes)
      throw Exceeded{"more than " + std::to_string(kMaxDictionaryTextBytes) + " bytes of text"};
  }

 private:
  std::size_t items_ = 0;
  std::size_t textBytes_ = 0;
};

class BranchBuilder {
 public:
  BranchBuilder(const std::string& path, DictionaryStore& store,
                std::vector<DictionaryNode>& errors)
      : path_(path), store_(store), errors_(errors) {}

  Budget& Spent() { return budget_; }

  DictionaryNode Build(pugi::xml_node dictionary) {
    IndexResponseHeaders(dictionary);
    DictionaryNode top = Node("Transaction Dictionary: '" + path_ + "'", nullptr, true);
    top.children.push_back(Node("Type = " + std::string(dictionary.attribute("type").value())));
    top.children.push_back(
        Node("Version = " + std::string(dictionary.attribute("version").value())));
    if (!HasAttribute(dictionary, "type") || !HasAttribute(dictionary, "version"))
      Unsupported("Transaction_Dictionary without type or version");

    DictionaryNode transactions = Node("Transactions", nullptr, true);
    for (pugi::xml_node transaction : Descendants(dictionary, "Transaction"))
      AddTransaction(transaction, transactions);
    // Descending codes; equal codes keep the order in which they were read.
    std::stable_sort(transactions.children.begin(), transactions.children.end(),
                     [](const DictionaryNode& a, const DictionaryNode& b) {
                       return LeadingNumber(a.record->code) > LeadingNumber(b.record->code);
                     });
    top.children.push_back(std::move(transactions));
    return top;
  }

 private:
  DictionaryNode Node(std::string text, DictionaryItem* record = nullptr, bool expanded = false) {
    budget_.Spend(1, text.size());
    return DictionaryNode{std::move(text), record, expanded, {}};
  }
  DictionaryItem* Record(const std::string& code) {
    budget_.Spend(1, code.size());
    return store_.MakeRecord(code);
  }
  DictionaryItem* Item(DictionaryItem* owner, int kind, std::uint8_t isReply) {
    budget_.Spend(1, 0);
    return store_.MakeItem(owner, kind, isReply);
  }
  SplitText Split(pugi::xml_node node) {
    SplitText split = SplitDictionaryText(FirstChildText(node));
    budget_.Spend(0, split.shortText.size() + split.fullText.size());
    return split;
  }
  void TakeDescription(pugi::xml_node description, DictionaryItem* record) {
    SplitText split = Split(description);
    record->shortDescription = std::move(split.shortText);
    record->fullDescription = std::move(split.fullText);
  }

  void Unsupported(const std::string& what) {
    budget_.Spend(1, what.size());
    errors_.push_back(ErrorNode("Error: unsupported dictionary:'" + path_ + "' { " + what + " }"));
  }

  // The first Response_Header of each code, as the look-up by code would find it.
  void IndexResponseHeaders(pugi::xml_node dictionary) {
    responseHeaders_.clear();
    for (pugi::xml_node header : Descendants(dictionary, "Response_Header"))
      if (HasAttribute(header, "code"))
        responseHeaders_.emplace(header.attribute("code").value(), header);
  }

  void AddTransaction(pugi::xml_node transaction, DictionaryNode& transactions) {
    const pugi::xml_node header = FirstDescendant(transaction, "Transmit_Header");
    if (!header || !HasAttribute(header, "code")) {
      Unsupported("Transaction without Transmit_Header code");
      return;
    }
    const std::string code = header.attribute("code").value();
    if (LeadingNumber(code) == 0) return;
    if (!header.first_child()) {
      Unsupported("Transmit_Header " + code + " without a name");
      return;
    }
    DictionaryItem* command = Record(code);
    DictionaryNode item = Node("Command [" + code + "] = " + FirstChildText(header), command);

    if (const pugi::xml_node data = FirstDescendant(transaction, "Transmit_Data");
        data && data.first_child())
      TakeData(data, command, 0, item);
    if (const pugi::xml_node description = FirstDescendant(transaction, "Transmit_Description");
        description && description.first_child())
      TakeDescription(description, command);

    for (pugi::xml_node receive : Descendants(transaction, "Receive")) AddReply(receive, item);
    transactions.children.push_back(std::move(item));
  }

  void AddReply(pugi::xml_node receive, DictionaryNode& command) {
    if (const pugi::xml_node header = FirstDescendant(receive, "Receive_Header")) {
      AddInlineReply(receive, header, command);
      return;
    }
    if (!HasAttribute(receive, "code") || !receive.first_child()) {
      Unsupported("Receive without code or name");
      return;
    }
    const std::string code = receive.attribute("code").value();
    DictionaryItem* reply = Record(code);
    DictionaryNode item = Node("Response [" + code + "]: " + FirstChildText(receive),
                               Item(reply, DictionaryItem::kReplyItem, 0));
    if (const auto found = responseHeaders_.find(code); found != responseHeaders_.end()) {
      const pugi::xml_node data = found->second.next_sibling();
      if (!data) {
        Unsupported("Response_Header " + code + " without its data");
      } else {
        if (data.first_child()) TakeData(data, reply, 1, item);
        if (const pugi::xml_node description = data.next_sibling();
            description && description.first_child())
          TakeDescription(description, reply);
      }
    }
    command.children.push_back(std::move(item));
  }

  void AddInlineReply(pugi::xml_node receive, pugi::xml_node header, DictionaryNode& command) {
    if (!HasAttribute(header, "code") || !header.first_child()) {
      Unsupported("Receive_Header without code or name");
      return;
    }
    const std::string code = header.attribute("code").value();
    DictionaryItem* reply = Record(code);
    DictionaryNode item = Node("Response [" + code + "]: " + FirstChildText(header),
                               Item(reply, DictionaryItem::kReplyItem, 0), true);
    if (const pugi::xml_node data = FirstDescendant(receive, "Receive_Data");
        data && data.first_child())
      TakeData(data, reply, 1, item);
    if (const pugi::xml_node description = FirstDescendant(receive, "Receive_Description");
        description && description.first_child())
      TakeDescription(description, reply);
    command.children.push_back(std::move(item));
  }

  // Fills the record's data texts from an element with a length and a text
  // and adds the data item under `parent`.
  void TakeData(pugi::xml_node data, DictionaryItem* record, std::uint8_t isReply,
                DictionaryNode& parent) {
    if (!HasAttribute(data, "length")) {
      Unsupported(std::string(data.name()) + " without length");
      return;
    }
    record->length = data.attribute("length").value();
    budget_.Spend(0, record->length.size());
    SplitText split = Split(data);
    record->shortData = std::move(split.shortText);
    record->fullData = std::move(split.fullText);
    parent.children.push_back(Node("Data [" + record->length + "] = { " + record->shortData + " }",
                                   Item(record, DictionaryItem::kDataItem, isReply)));
  }

  const std::string& path_;
  DictionaryStore& store_;
  std::vector<DictionaryNode>& errors_;
  std::map<std::string, pugi::xml_node> responseHeaders_;  // the first of each code wins
  Budget budget_;
};

// Depth of the element tree, walked without recursion.
unsigned Depth(const pugi::xml_document& document) {
  struct Walker : pugi::xml_tree_walker {
    unsigned deepest = 0;
    bool for_each(pugi::xml_node&) override {
      deepest = std::max(deepest, static_cast<unsigned>(depth()) + 1);
      return true;
    }
  } walker;
  const_cast<pugi::xml_document&>(document).traverse(walker);
  return walker.deepest;
}

}  // namespace

std::vector<DictionaryNode> LoadDictionaryBuffer(const void* data, std::size_t size,
                                                 const std::string& shownPath,
                                                 DictionaryStore& store) {
  std::vector<DictionaryNode> result;
  if (size > kMaxDictionaryBytes) {
    result.push_back(ErrorNode(LoadError(shownPath)));
    return result;
  }
  pugi::xml_document document;
  if (!document.load_buffer(data, size)) {
    result.push_back(ErrorNode(LoadError(shownPath)));
    return result;
  }
  if (Depth(document) > kMaxDictionaryDepth) {
    result.push_back(ErrorNode("Error: unsupported dictionary:'" + shownPath +
                               "' { nested deeper than " + std::to_string(kMaxDictionaryDepth) +
                               " levels }"));
    return result;
  }
  std::vector<DictionaryNode> errors;
  const std::size_t recordsBefore = store.Count();
  try {
    BranchBuilder builder(shownPath, store, errors);
    for (const auto& selected : document.select_nodes("//Transaction_Dictionary"))
      result.push_back(builder.Build(selected.node()));
  } catch (const Budget::Exceeded& exceeded) {
    // Nothing of the file stays: a half-read dictionary would mislead.
    result.clear();
    errors.clear();
    store.Truncate(recordsBefore);
    result.push_back(
        ErrorNode("Error: unsupported dictionary:'" + shownPath + "' { " + exceeded.what + " }"));
    return result;
  } catch (const std::exception&) {
    // Out of memory in the middle of a file: show that it could not be read.
    result.clear();
    errors.clear();
    store.Truncate(recordsBefore);
    return {ErrorNode(LoadError(shownPath))};
  }
  for (auto& error : errors) result.push_back(std::move(error));
  return result;
}

std::vector<DictionaryNode> LoadDictionaryFile(const std::filesystem::path& path,
                                               DictionaryStore& store) {
  const std::string shown = path.string();
  std::error_code ec;
  // Only plain files: a device or a pipe named *.xml could block or never end.
  const auto size =
      std::filesystem::is_regular_file(path, ec) ? std::filesystem::file_size(path, ec) : 0;
  if (ec || !std::filesystem::is_regular_file(path, ec) || size > kMaxDictionaryBytes)
    return {ErrorNode(LoadError(shown))};
  try {
    std::ifstream file(path, std::ios::binary);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    if (!file.read(bytes.data(), static_cast<std::streamsize>(bytes.size())))
      return {ErrorNode(LoadError(shown))};
    return LoadDictionaryBuffer(bytes.data(), bytes.size(), shown, store);
  } catch (const std::bad_alloc&) {
    return {ErrorNode(LoadError(shown))};
  }
}
