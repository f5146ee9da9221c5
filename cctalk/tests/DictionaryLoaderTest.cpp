// Reading dictionary files into the command tree's items, and finding them.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "DictionaryDiscovery.h"
#include "DictionaryStore.h"
#include "DictionaryTestFiles.h"
#include "DictionaryText.h"

namespace {

using vantrel::test::dictionary::Command;
using vantrel::test::dictionary::Dictionary;
using vantrel::test::dictionary::ScratchFolder;
namespace fs = std::filesystem;

std::vector<DictionaryNode> Load(const std::string& xml, DictionaryStore& store,
                                 const std::string& name = "d.xml") {
  return LoadDictionaryBuffer(xml.data(), xml.size(), name, store);
}

// The "Transactions" item of the first branch.
const DictionaryNode& Transactions(const std::vector<DictionaryNode>& top) {
  return top.at(0).children.at(2);
}

std::vector<std::string> Texts(const std::vector<DictionaryNode>& nodes) {
  std::vector<std::string> texts;
  for (const auto& node : nodes) texts.push_back(node.text);
  return texts;
}

TEST(DictionaryText, SplitKeepsFirstLineShortAndJoinsAllLinesWithoutLeadingTabs) {
  const SplitText three = SplitDictionaryText("Poll the device\n\t\tsecond  line\tkept\n third");
  EXPECT_EQ(three.shortText, "Poll the device ...");
  EXPECT_EQ(three.fullText, "Poll the device\r\nsecond  line\tkept\r\n third");

  const SplitText one = SplitDictionaryText("\t\tSingle line");
  EXPECT_EQ(one.shortText, "Single line");
  EXPECT_EQ(one.fullText, "");

  // A line feed ends a line; it does not start an empty one.
  EXPECT_EQ(SplitDictionaryText("Ends here\n").fullText, "");
  EXPECT_EQ(SplitDictionaryText("").shortText, "");

  // Written on the lines between its tags: the layout around the text goes.
  const SplitText own = SplitDictionaryText("\n\t\t[ inhibit 1 ]\n\t\t[ inhibit 2 ]\n\t");
  EXPECT_EQ(own.shortText, "[ inhibit 1 ] ...");
  EXPECT_EQ(own.fullText, "[ inhibit 1 ]\r\n[ inhibit 2 ]");
  const SplitText single = SplitDictionaryText("\r\n    Reads the level sensors.  \r\n  ");
  EXPECT_EQ(single.shortText, "Reads the level sensors.");
  EXPECT_EQ(single.fullText, "");
  EXPECT_EQ(SplitDictionaryText(" \n\t ").shortText, "");
}

TEST(DictionaryText, LeadingNumberReadsDigitsOnly) {
  EXPECT_EQ(LeadingNumber("254"), 254u);
  EXPECT_EQ(LeadingNumber("3 bytes"), 3u);
  EXPECT_EQ(LeadingNumber("variable"), 0u);
  EXPECT_EQ(LeadingNumber(" 5"), 0u);
  EXPECT_EQ(LeadingNumber("-5"), 0u);
  EXPECT_EQ(LeadingNumber("99999999999999999999999999"), std::numeric_limits<unsigned long>::max());
}

TEST(DictionaryLoader, BranchHasTypeVersionAndCommandsInDescendingCodeOrder) {
  DictionaryStore store;
  const auto top =
      Load(Dictionary(Command("1", "Reset device") + Command("254", "Simple poll") +
                      Command("255", "Factory set-up") + Command("254", "Second poll") +
                      Command("0", "Dropped", "<Receive code=\"0\">ACK</Receive>") +
                      Command("x1", "Not a number")),
           store, "/dicts/coin.xml");
  ASSERT_EQ(top.size(), 1u);
  EXPECT_EQ(top[0].text, "Transaction Dictionary: '/dicts/coin.xml'");
  EXPECT_TRUE(top[0].expanded);
  EXPECT_EQ(Texts(top[0].children),
            (std::vector<std::string>{"Type = Coin Acceptor", "Version = 1.0", "Transactions"}));
  EXPECT_TRUE(Transactions(top).expanded);
  EXPECT_EQ(
      Texts(Transactions(top).children),
      (std::vector<std::string>{"Command [255] = Factory set-up", "Command [254] = Simple poll",
                                "Command [254] = Second poll", "Command [1] = Reset device"}));
  // Code 0 and a non-numeric code leave no record, and their replies are not read.
  EXPECT_EQ(store.Count(), 4u);
  const DictionaryItem* poll = Transactions(top).children[1].record;
  EXPECT_EQ(poll->code, "254");
  EXPECT_EQ(poll->length, "0");
  EXPECT_EQ(poll->kind, DictionaryItem::kRecord);
  EXPECT_EQ(poll->owner, poll);
  EXPECT_TRUE(poll->IsCommandRecord());
}

TEST(DictionaryLoader, EachDictionaryElementIsItsOwnBranch) {
  DictionaryStore store;
  const std::string xml =
      "<R><Transaction_Dictionary type=\"A\" version=\"1\">" + Command("4", "Comms revision") +
      "</Transaction_Dictionary><X><Transaction_Dictionary type=\"B\" version=\"2\">" +
      Command("254", "Poll") + "</Transaction_Dictionary></X></R>";
  const auto top = Load(xml, store);
  ASSERT_EQ(top.size(), 2u);
  EXPECT_EQ(top[1].children[0].text, "Type = B");
  EXPECT_EQ(Texts(top[1].children[2].children), std::vector<std::string>{"Command [254] = Poll"});
}

TEST(DictionaryLoader, CommandDataAndDescriptionAreSplitIntoTheRecord) {
  DictionaryStore store;
  const auto top =
      Load(Dictionary(Command(
               "231", "Modify inhibit status",
               "<Transmit_Description>Sets the inhibits\n\tone bit a coin</Transmit_Description>"
               "<Transmit_Data length=\"2\">[ inhibit 1 ]\n\t[ inhibit 2 ]</Transmit_Data>")),
           store);
  const DictionaryNode& command = Transactions(top).children.at(0);
  const DictionaryItem* record = command.record;
  EXPECT_EQ(record->length, "2");
  EXPECT_EQ(record->shortDescription, "Sets the inhibits ...");
  EXPECT_EQ(record->fullDescription, "Sets the inhibits\r\none bit a coin");
  EXPECT_EQ(record->fullData, "[ inhibit 1 ]\r\n[ inhibit 2 ]");
  ASSERT_EQ(command.children.size(), 1u);
  EXPECT_EQ(command.children[0].text, "Data [2] = { [ inhibit 1 ] ... }");
  EXPECT_EQ(command.children[0].record->kind, DictionaryItem::kDataItem);
  EXPECT_EQ(command.children[0].record->owner, record);
  EXPECT_EQ(command.children[0].record->isReply, 0);
  EXPECT_FALSE(command.expanded);
}

TEST(DictionaryLoader, DataWithoutTextIsIgnoredAndVariableLengthReadsAsText) {
  DictionaryStore store;
  const auto top =
      Load(Dictionary(Command("10", "No text", "<Transmit_Data length=\"3\"/>") +
                      Command("9", "Variable",
                              "<Transmit_Data length=\"variable\">bytes</Transmit_Data>")),
           store);
  EXPECT_TRUE(Transactions(top).children[0].children.empty());
  EXPECT_EQ(Transactions(top).children[0].record->length, "0");
  EXPECT_EQ(Transactions(top).children[1].children.at(0).text, "Data [variable] = { bytes }");
}

TEST(DictionaryLoader, InlineReplyCarriesItsOwnDataAndDescription) {
  DictionaryStore store;
  const auto top =
      Load(Dictionary(Command(
               "245", "Request equipment category id",
               "<Receive><Receive_Header code=\"0\">ACK</Receive_Header>"
               "<Receive_Data length=\"13\">ASCII text</Receive_Data>"
               "<Receive_Description>The category\nas text</Receive_Description></Receive>")),
           store);
  const DictionaryNode& command = Transactions(top).children.at(0);
  ASSERT_EQ(command.children.size(), 1u);
  const DictionaryNode& reply = command.children[0];
  EXPECT_EQ(reply.text, "Response [0]: ACK");
  EXPECT_TRUE(reply.expanded);
  EXPECT_EQ(reply.record->kind, DictionaryItem::kReplyItem);
  const DictionaryItem* replyRecord = reply.record->owner;
  EXPECT_EQ(replyRecord->kind, DictionaryItem::kRecord);
  EXPECT_EQ(replyRecord->code, "0");
  EXPECT_EQ(replyRecord->length, "13");
  EXPECT_EQ(replyRecord->fullDescription, "The category\r\nas text");
  ASSERT_EQ(reply.children.size(), 1u);
  EXPECT_EQ(reply.children[0].text, "Data [13] = { ASCII text }");
  EXPECT_EQ(reply.children[0].record->isReply, 1);
  EXPECT_EQ(reply.children[0].record->owner, replyRecord);
}

TEST(DictionaryLoader, SharedReplyIsLookedUpByCodeAnywhereInTheDictionary) {
  DictionaryStore store;
  const std::string replies =
      "<Replies><Response_Header code=\"0\">ACK</Response_Header>"
      "<Anything length=\"2\">[ lsb ]\n[ msb ]</Anything><Other>Acknowledge\n\twith data</Other>"
      "<Response_Header code=\"0\">later duplicate</Response_Header><Ignored "
      "length=\"9\">x</Ignored>"
      "<Response_Header code=\"5\">NAK</Response_Header><NoData/></Replies>";
  const auto top =
      Load(Dictionary(Command("230", "Request inhibit status",
                              "<Receive code=\"0\">ACK</Receive><Receive code=\"5\">NAK</Receive>"
                              "<Receive code=\"6\">BUSY</Receive>") +
                      replies),
           store);
  const DictionaryNode& command = Transactions(top).children.at(0);
  ASSERT_EQ(
      Texts(command.children),
      (std::vector<std::string>{"Response [0]: ACK", "Response [5]: NAK", "Response [6]: BUSY"}));
  const DictionaryItem* ack = command.children[0].record->owner;
  EXPECT_EQ(ack->length, "2");
  EXPECT_EQ(ack->fullData, "[ lsb ]\r\n[ msb ]");
  EXPECT_EQ(ack->fullDescription, "Acknowledge\r\nwith data");
  EXPECT_EQ(Texts(command.children[0].children),
            std::vector<std::string>{"Data [2] = { [ lsb ] ... }"});
  // A sibling without text gives no data; an unknown code gives nothing more.
  EXPECT_TRUE(command.children[1].children.empty());
  EXPECT_TRUE(command.children[2].children.empty());
  EXPECT_EQ(command.children[2].record->owner->length, "0");
  EXPECT_EQ(top.size(), 1u);
}

TEST(DictionaryLoader, CodeWithQuotesIsMatchedAsTextNotAsAnExpression) {
  DictionaryStore store;
  const auto top =
      Load(Dictionary(
               Command("7", "Odd", "<Receive code='a\"] | //*[\"'>Odd reply</Receive>") +
               "<Response_Header code='a\"] | //*[\"'>x</Response_Header><D length=\"1\">one</D>"),
           store);
  const DictionaryNode& reply = Transactions(top).children.at(0).children.at(0);
  EXPECT_EQ(Texts(reply.children), std::vector<std::string>{"Data [1] = { one }"});
}

TEST(DictionaryLoader, MissingRequiredItemsDropThatPartAndShowAnErrorItem) {
  DictionaryStore store;
  const auto top = Load(
      Dictionary(
          "<Transaction><Transmit_Data length=\"1\">x</Transmit_Data></Transaction>" +
          Command("254", "") +
          Command("253", "Address poll", "<Receive>no code</Receive><Receive code=\"1\"/>") +
          Command("252", "Address clash",
                  "<Receive><Receive_Header>no code</Receive_Header></Receive>") +
          Command("251", "Shared",
                  "<Receive code=\"3\">three</Receive><Transmit_Data>no length</Transmit_Data>") +
          "<Response_Header code=\"3\">last</Response_Header>"),
      store, "bad.xml");
  // What could be read stands; each gap has its error item after the branch.
  EXPECT_EQ(Texts(Transactions(top).children),
            (std::vector<std::string>{"Command [253] = Address poll",
                                      "Command [252] = Address clash", "Command [251] = Shared"}));
  EXPECT_TRUE(Transactions(top).children[0].children.empty());
  EXPECT_EQ(Texts(Transactions(top).children[2].children),
            std::vector<std::string>{"Response [3]: three"});
  const std::vector<std::string> all = Texts(top);
  const std::vector<std::string> errors(all.begin() + 1, all.end());
  EXPECT_EQ(
      errors,
      (std::vector<std::string>{
          "Error: unsupported dictionary:'bad.xml' { Transaction without Transmit_Header code }",
          "Error: unsupported dictionary:'bad.xml' { Transmit_Header 254 without a name }",
          "Error: unsupported dictionary:'bad.xml' { Receive without code or name }",
          "Error: unsupported dictionary:'bad.xml' { Receive without code or name }",
          "Error: unsupported dictionary:'bad.xml' { Receive_Header without code or name }",
          "Error: unsupported dictionary:'bad.xml' { Transmit_Data without length }",
          "Error: unsupported dictionary:'bad.xml' { Response_Header 3 without its data }"}));

  DictionaryStore other;
  const auto noType = Load("<Transaction_Dictionary version=\"1\">" + Command("1", "Reset") +
                               "</Transaction_Dictionary>",
                           other, "t.xml");
  ASSERT_EQ(noType.size(), 2u);
  EXPECT_EQ(noType[0].children[0].text, "Type = ");
  EXPECT_EQ(
      noType[1].text,
      "Error: unsupported dictionary:'t.xml' { Transaction_Dictionary without type or version }");
}

TEST(DictionaryLoader, UnreadableOrHostileFilesGiveOneErrorItem) {
  ScratchFolder folder;
  DictionaryStore store;
  const auto notXml =
      folder.Write("broken.xml", "<Transaction_Dictionary type=\"a\" version=\"1\"><Transaction>");
  EXPECT_EQ(Texts(LoadDictionaryFile(notXml, store)),
            std::vector<std::string>{"Error: unable to load XML:'" + notXml.string() + "'"});
  EXPECT_EQ(Texts(LoadDictionaryFile(folder.Root() / "missing.xml", store)),
            std::vector<std::string>{"Error: unable to load XML:'" +
                                     (folder.Root() / "missing.xml").string() + "'"});

  const std::string padding(kMaxDictionaryBytes, ' ');
  const auto huge = folder.Write("huge.xml", Dictionary(Command("254", "Poll")) + padding);
  EXPECT_EQ(Texts(LoadDictionaryFile(huge, store)),
            std::vector<std::string>{"Error: unable to load XML:'" + huge.string() + "'"});

  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<Transaction>";
  deep = "<Transaction_Dictionary type=\"a\" version=\"1\">" + deep +
         "<Transmit_Header code=\"1\">x</Transmit_Header>";
  for (int i = 0; i < 100000; ++i) deep += "</Transaction>";
  deep += "</Transaction_Dictionary>";
  EXPECT_EQ(Texts(Load(deep, store, "deep.xml")),
            std::vector<std::string>{
                "Error: unsupported dictionary:'deep.xml' { nested deeper than 64 levels }"});

  // Nested transactions below the depth limit, each with replies: every
  // transaction also collects the replies of those inside it, so the items
  // grow with the product of nesting and size. Refused whole, nothing kept.
  {
    std::string nested;
    const std::string replies = [] {
      std::string r;
      for (int i = 0; i < 60; ++i) r += "<Receive code=\"0\">ACK</Receive>";
      return r;
    }();
    constexpr int kLevels = 50;
    for (int i = 0; i < kLevels; ++i)
      nested += "<Transaction><Transmit_Header code=\"1\">x</Transmit_Header>" + replies;
    for (int i = 0; i < kLevels; ++i) nested += "</Transaction>";
    std::string wide;
    for (int i = 0; i < 20; ++i) wide += nested;
    const std::size_t before = store.Count();
    EXPECT_EQ(Texts(Load("<Transaction_Dictionary type=\"a\" version=\"1\">" + wide +
                             "</Transaction_Dictionary>",
                         store, "nested.xml")),
              std::vector<std::string>{"Error: unsupported dictionary:'nested.xml' { more than " +
                                       std::to_string(kMaxDictionaryItems) + " items }"});
    EXPECT_EQ(store.Count(), before);
  }
  // One long shared description copied into every reply that names it.
  {
    std::string commands;
    for (int i = 0; i < 2000; ++i)
      commands += Command("9", "x", "<Receive code=\"0\">ACK</Receive>");
    const std::string text =
        "<Response_Header code=\"0\">ACK</Response_Header><D length=\"0\"/><E>" +
        std::string(1'000'000, 'a') + "\nb</E>";
    EXPECT_EQ(
        Texts(Load("<Transaction_Dictionary type=\"a\" version=\"1\">" + commands + text +
                       "</Transaction_Dictionary>",
                   store, "copies.xml")),
        std::vector<std::string>{"Error: unsupported dictionary:'copies.xml' { more than " +
                                 std::to_string(kMaxDictionaryTextBytes) + " bytes of text }"});
  }

  // A pipe named like a dictionary would block a reader for ever.
  const auto pipe = folder.Root() / "pipe.xml";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  EXPECT_EQ(Texts(LoadDictionaryFile(pipe, store)),
            std::vector<std::string>{"Error: unable to load XML:'" + pipe.string() + "'"});
  EXPECT_EQ(store.Count(), 0u);

  EXPECT_TRUE(Load("<Other/>", store).empty());
}

TEST(DictionaryDiscovery, XmlFilesFirstThenFoldersWithoutADotDepthFirst) {
  ScratchFolder folder;
  const auto& root = folder.Root();
  folder.Write("b.xml", "");
  folder.Write("a.XML", "");
  folder.Write("notes.txt", "");
  folder.Write("sub/c.xml", "");
  folder.Write("sub/deeper/d.xml", "");
  folder.Write("sub.old/e.xml", "");
  folder.Write("other/f.xml", "");
  std::filesystem::create_directories(root / "dir.xml");
  EXPECT_EQ(DiscoverDictionaryFiles({root}),
            (std::vector<fs::path>{root / "a.XML", root / "b.xml", root / "other/f.xml",
                                   root / "sub/c.xml", root / "sub/deeper/d.xml"}));
}

TEST(DictionaryDiscovery, FolderReachedTwiceIsSearchedOnce) {
  ScratchFolder folder;
  const auto& root = folder.Root();
  folder.Write("top.xml", "");
  folder.Write("sub/inner.xml", "");
  fs::create_directory_symlink(root, root / "sub" / "loop");
  fs::create_directory_symlink(root / "sub", root / "again");
  EXPECT_EQ(DiscoverDictionaryFiles({root, root / "sub", root / "missing"}),
            (std::vector<fs::path>{root / "top.xml", root / "again/inner.xml"}));
}

}  // namespace

namespace {

// The dictionaries shipped with the program read without a single error and
// carry the commands a technician uses every day.
TEST(ShippedDictionaries, ReadCleanlyAndHaveTheDailyCommands) {
  const auto files = DiscoverDictionaryFiles({K27_SHIPPED_DICTIONARIES});
  ASSERT_GE(files.size(), 2u);
  DictionaryStore store;
  std::vector<std::string> commands;
  for (const auto& file : files) {
    const auto top = LoadDictionaryFile(file, store);
    ASSERT_EQ(top.size(), 1u) << file << ": " << top.back().text;
    for (const auto& command : Transactions(top).children) {
      commands.push_back(command.record->code);
      EXPECT_FALSE(command.record->shortDescription.empty()) << command.text;
      EXPECT_FALSE(command.children.empty()) << command.text << " has no reply";
      EXPECT_LE(LeadingNumber(command.record->length), 255u) << command.text;
    }
  }
  for (const char* daily :
       {"254", "253", "252", "247", "246", "245", "244", "242", "241", "240", "236",
        "232", "231", "230", "229", "228", "227", "213", "210", "209", "197", "196",
        "195", "192", "171", "168", "167", "161", "160", "4",   "1"})
    EXPECT_NE(std::find(commands.begin(), commands.end(), daily), commands.end()) << daily;
}

}  // namespace
