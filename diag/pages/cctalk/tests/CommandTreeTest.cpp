// The command tree over the dictionaries: items, tips and BuildCommand.
#include <gtest/gtest.h>

#include <QApplication>

#include <string>
#include <vector>

#include "pages/cctalk/CXMLTreeView.h"
#include "CcctalkMessage.h"
#include "DictionaryTestFiles.h"

namespace {

using vantrel::test::dictionary::Command;
using vantrel::test::dictionary::Dictionary;
using vantrel::test::dictionary::ScratchFolder;
using Bytes = std::vector<std::uint8_t>;

Bytes Of(const CcctalkMessage& m) { return Bytes(m.bytes().begin(), m.bytes().end()); }

class CommandTree : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string replies =
        "<Response_Header code=\"0\">ACK</Response_Header><Data length=\"1\">[ address ]\n[ more "
        "]</Data>"
        "<Description>Acknowledge</Description>";
    const auto file = folder_.Write(
        "coin.xml",
        Dictionary(
            Command("254", "Simple poll",
                    "<Transmit_Description>Checks that the device answers</Transmit_Description>"
                    "<Receive code=\"0\">ACK</Receive>") +
            Command(
                "231", "Modify inhibit status",
                "<Transmit_Data length=\"3\">[ inhibit 1 ]\n[ inhibit 2 ]\n[ spare "
                "]</Transmit_Data>"
                "<Transmit_Description>Sets the inhibits\n\tone bit a coin</Transmit_Description>"
                "<Receive><Receive_Header code=\"0\">ACK</Receive_Header>"
                "<Receive_Data length=\"1\">one line</Receive_Data></Receive>") +
            Command("300", "Wide code", "<Transmit_Data length=\"variable\">any</Transmit_Data>") +
            Command("5", "Too long", "<Transmit_Data length=\"400\">bytes</Transmit_Data>") +
            replies));
    tree_.LoadDictionary(file);
  }

  QTreeWidgetItem* Top() { return tree_.topLevelItem(0); }
  QTreeWidgetItem* CommandItem(int index) { return Top()->child(2)->child(index); }

  ScratchFolder folder_;
  CXMLTreeView tree_;
};

TEST_F(CommandTree, ShowsTheBranchExpandedAndTheCommandsClosed) {
  ASSERT_EQ(tree_.topLevelItemCount(), 1);
  EXPECT_TRUE(Top()->isExpanded());
  EXPECT_TRUE(Top()->child(2)->isExpanded());
  EXPECT_EQ(CommandItem(0)->text(0), "Command [300] = Wide code");
  EXPECT_EQ(CommandItem(1)->text(0), "Command [254] = Simple poll");
  EXPECT_FALSE(CommandItem(1)->isExpanded());
  EXPECT_EQ(CommandItem(1)->child(0)->text(0), "Response [0]: ACK");
  EXPECT_EQ(CommandItem(1)->child(0)->child(0)->text(0), "Data [1] = { [ address ] ... }");
}

TEST_F(CommandTree, TipsComeFromTheOwnersDescriptionsAndData) {
  EXPECT_EQ(CXMLTreeView::ToolTipFor(Top()), "");
  EXPECT_EQ(CXMLTreeView::ToolTipFor(Top()->child(0)), "");
  // Single-line description: the short text stands in.
  EXPECT_EQ(CXMLTreeView::ToolTipFor(CommandItem(1)), "Checks that the device answers");
  EXPECT_EQ(CXMLTreeView::ToolTipFor(CommandItem(1)->child(0)), "Acknowledge");
  EXPECT_EQ(CXMLTreeView::ToolTipFor(CommandItem(1)->child(0)->child(0)),
            "[ address ]\r\n[ more ]");
  QTreeWidgetItem* inhibit = CommandItem(2);
  EXPECT_EQ(CXMLTreeView::ToolTipFor(inhibit), "Sets the inhibits\r\none bit a coin");
  EXPECT_EQ(CXMLTreeView::ToolTipFor(inhibit->child(0)),
            "[ inhibit 1 ]\r\n[ inhibit 2 ]\r\n[ spare ]");
  // A one-line data text has no full text: no tip; a reply without description neither.
  EXPECT_EQ(CXMLTreeView::ToolTipFor(inhibit->child(1)->child(0)), "");
  EXPECT_EQ(CXMLTreeView::ToolTipFor(inhibit->child(1)), "");
}

TEST_F(CommandTree, BuildsNothingWithoutACommandSelected) {
  CcctalkMessage message;
  EXPECT_EQ(tree_.BuildCommand(2, 1, message), -1);
  for (QTreeWidgetItem* item : {Top(), Top()->child(0), Top()->child(1), Top()->child(2)}) {
    tree_.setCurrentItem(item);
    EXPECT_EQ(tree_.BuildCommand(2, 1, message), -1) << item->text(0).toStdString();
  }
  EXPECT_EQ(message.length(), 0u);
}

TEST_F(CommandTree, BuildsTheCommandAboveTheSelectedReplyOrData) {
  int asked = 0;
  tree_.SetDataEntry([&](const CommandDataRequest&, Bytes&) { return ++asked, true; });
  for (QTreeWidgetItem* item :
       {CommandItem(1), CommandItem(1)->child(0), CommandItem(1)->child(0)->child(0)}) {
    tree_.setCurrentItem(item);
    CcctalkMessage message;
    ASSERT_EQ(tree_.BuildCommand(2, 1, message), 0);
    EXPECT_EQ(Of(message), (Bytes{0x02, 0x00, 0x01, 0xFE, 0xFF}));
    EXPECT_EQ(tree_.SelectedCommandText(), "Command [254] = Simple poll");
    EXPECT_EQ(tree_.SelectedDescription(), "Checks that the device answers");
  }
  EXPECT_EQ(asked, 0);
}

TEST_F(CommandTree, CommandWithDataAsksForItsBytes) {
  CommandDataRequest seen;
  std::size_t offered = 0;
  tree_.SetDataEntry([&](const CommandDataRequest& request, Bytes& bytes) {
    seen = request;
    offered = bytes.size();
    EXPECT_EQ(bytes, (Bytes{0, 0, 0}));
    bytes = {0xFF, 0x7F, 0x01};
    return true;
  });
  tree_.setCurrentItem(CommandItem(2)->child(0));
  CcctalkMessage message;
  ASSERT_EQ(tree_.BuildCommand(2, 1, message), 0);
  EXPECT_EQ(offered, 3u);
  EXPECT_EQ(seen.commandText, "Command [231] = Modify inhibit status");
  EXPECT_EQ(seen.shortDescription, "Sets the inhibits ...");
  EXPECT_EQ(seen.fullData, "[ inhibit 1 ]\r\n[ inhibit 2 ]\r\n[ spare ]");
  EXPECT_FALSE(seen.variable);
  EXPECT_EQ(Of(message), (Bytes{0x02, 0x03, 0x01, 0xE7, 0xFF, 0x7F, 0x01, 0x94}));
  EXPECT_EQ(message.validate(), CcctalkMessage::kOk);
  EXPECT_EQ(tree_.SelectedDescription(), "Sets the inhibits\r\none bit a coin");
}

TEST_F(CommandTree, CancelledDataEntryBuildsNothingToSend) {
  tree_.SetDataEntry([](const CommandDataRequest&, Bytes&) { return false; });
  tree_.setCurrentItem(CommandItem(2));
  CcctalkMessage message;
  EXPECT_EQ(tree_.BuildCommand(2, 1, message), -1);
}

TEST_F(CommandTree, VariableLengthSendsNoDataAndWideCodesKeepTheirLowByte) {
  tree_.SetDataEntry([](const CommandDataRequest&, Bytes&) { return ADD_FAILURE(), false; });
  tree_.setCurrentItem(CommandItem(0));
  CcctalkMessage message;
  ASSERT_EQ(tree_.BuildCommand(2, 1, message), 0);
  EXPECT_EQ(message.header(), 300 % 256);
  EXPECT_EQ(message.dataCount(), 0);
}

TEST_F(CommandTree, LengthBeyondAFrameIsCutTo255Bytes) {
  std::size_t offered = 0;
  tree_.SetDataEntry(
      [&](const CommandDataRequest&, Bytes& bytes) { return offered = bytes.size(), true; });
  tree_.setCurrentItem(CommandItem(3));
  CcctalkMessage message;
  ASSERT_EQ(tree_.BuildCommand(2, 1, message), 0);
  EXPECT_EQ(offered, 255u);
  EXPECT_EQ(message.length(), 260u);
  EXPECT_EQ(message.validate(), CcctalkMessage::kOk);
}

TEST(CommandTreeFiles, LoadsEveryFileFoundAndKeepsGoingPastBadOnes) {
  ScratchFolder folder;
  folder.Write("a.xml", Dictionary(Command("254", "Poll")));
  folder.Write("b.xml", "<unclosed>");
  folder.Write("sub/c.xml", Dictionary(Command("1", "Reset")));
  CXMLTreeView tree;
  tree.LoadDictionaries({folder.Root()});
  ASSERT_EQ(tree.topLevelItemCount(), 3);
  EXPECT_EQ(tree.topLevelItem(1)->text(0).toStdString(),
            "Error: unable to load XML:'" + (folder.Root() / "b.xml").string() + "'");
  EXPECT_EQ(tree.topLevelItem(2)->text(0).toStdString(),
            "Transaction Dictionary: '" + (folder.Root() / "sub/c.xml").string() + "'");
  EXPECT_EQ(tree.RecordCount(), 2u);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
