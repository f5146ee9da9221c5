// Every operation that takes a pointer, given a null one it needs: a failure
// with USB_MESSAGE_PARAMETER_OUT_OF_RANGE, nothing sent and nothing changed,
// never a crash. A null buffer with a length of 0 stays allowed.
#include <gtest/gtest.h>

#include <functional>

#include "shared/SharedState.h"
#include <vantrel/testsupport/ScriptedBoard.h>

namespace vantrel::testing {
namespace {

class NullArgumentTest : public ScriptedBoardTest {};

TEST_F(NullArgumentTest, EveryNeededPointerThatIsNullIsRefusedBeforeAnyExchange) {
  const auto a = USB_SERIAL_PORT_A;
  unsigned char bytes[VANTREL_RECEIVE_LIMIT] = {};
  unsigned long length = 0;
  int value = 0;
  usbOutput mask{};
  ReleaseHopperCoinsStatus hopper{};
  unsigned long number = 0;
  unsigned char byte = 0;

  struct Call {
    const char* name;
    std::function<int(VantrelUSB&)> call;
  };
  const Call calls[] = {
      {"GetDllVersion", [](VantrelUSB& b) { return b.GetDllVersion(nullptr); }},
      {"GetProductVersion", [](VantrelUSB& b) { return b.GetProductVersion(nullptr); }},
      {"Get8051Version", [](VantrelUSB& b) { return b.Get8051Version(nullptr); }},
      {"GetPICVersion", [](VantrelUSB& b) { return b.GetPICVersion(nullptr); }},
      {"GetPICSerialNumber", [](VantrelUSB& b) { return b.GetPICSerialNumber(nullptr); }},
      {"SetPICSerialNumber", [](VantrelUSB& b) { return b.SetPICSerialNumber(nullptr); }},
      {"ConfigureEEPROM", [](VantrelUSB& b) { return b.ConfigureEEPROM(nullptr); }},
      {"CheckEEPROM", [](VantrelUSB& b) { return b.CheckEEPROM(nullptr); }},
      {"ReadEEPROM", [](VantrelUSB& b) { return b.ReadEEPROM(8, nullptr, 10); }},
      {"WriteEEPROM", [](VantrelUSB& b) { return b.WriteEEPROM(8, nullptr, 10); }},
      {"ReadSRAM", [](VantrelUSB& b) { return b.ReadSRAM(0, nullptr, 10); }},
      {"WriteSRAM", [](VantrelUSB& b) { return b.WriteSRAM(0, nullptr, 10); }},
      {"GetInputs bytes",
       [](VantrelUSB& b) { return b.GetInputs(static_cast<unsigned char*>(nullptr)); }},
      {"GetInputs record",
       [](VantrelUSB& b) { return b.GetInputs(static_cast<usbInput*>(nullptr)); }},
      {"GetChangedInputs", [](VantrelUSB& b) { return b.GetChangedInputs(nullptr); }},
      {"GetRawInputs", [](VantrelUSB& b) { return b.GetRawInputs(nullptr); }},
      {"GetInputBit",
       [](VantrelUSB& b) { return b.GetInputBit(static_cast<_usbInputBitId>(0), nullptr); }},
      {"GetMultiplexedInputs", [](VantrelUSB& b) { return b.GetMultiplexedInputs(nullptr); }},
      {"ReadPulsedInputCounter",
       [](VantrelUSB& b) {
         return b.ReadPulsedInputCounter(static_cast<_usbInputBitId>(1), nullptr);
       }},
      {"GetParallelHopperStatus status",
       [&](VantrelUSB& b) {
         return b.GetParallelHopperStatus(static_cast<_usbInputBitId>(1), nullptr, &byte);
       }},
      {"GetParallelHopperStatus second",
       [&](VantrelUSB& b) {
         return b.GetParallelHopperStatus(static_cast<_usbInputBitId>(1), &hopper, nullptr);
       }},
      {"ModifyOutputs off", [&](VantrelUSB& b) { return b.ModifyOutputs(nullptr, &mask); }},
      {"ModifyOutputs on", [&](VantrelUSB& b) { return b.ModifyOutputs(&mask, nullptr); }},
      {"SetOutputs", [](VantrelUSB& b) { return b.SetOutputs(nullptr); }},
      {"PulseOutputResult",
       [&](VantrelUSB& b) { return b.PulseOutputResult(&byte, nullptr, &value); }},
      {"GetReelStatusEx", [](VantrelUSB& b) { return b.GetReelStatusEx(nullptr); }},
      {"GetReelStatus", [](VantrelUSB& b) { return b.GetReelStatus(nullptr); }},
      {"SetConfig", [&](VantrelUSB& b) { return b.SetConfig(a, nullptr, USB_PORT_TYPE_RS232); }},
      {"Send", [&](VantrelUSB& b) { return b.Send(a, nullptr, 10); }},
      {"Receive buffer", [&](VantrelUSB& b) { return b.Receive(a, nullptr, &length); }},
      {"Receive length", [&](VantrelUSB& b) { return b.Receive(a, bytes, nullptr); }},
      {"ReceiveByteWithTimestamp",
       [&](VantrelUSB& b) { return b.ReceiveByteWithTimestamp(a, &byte, nullptr, &value); }},
      {"GetParityErrors", [&](VantrelUSB& b) { return b.GetParityErrors(a, nullptr); }},
      {"ConfigureCCTalkPort", [&](VantrelUSB& b) { return b.ConfigureCCTalkPort(a, nullptr); }},
      {"ConfigureRS232Poll", [&](VantrelUSB& b) { return b.ConfigureRS232Poll(a, nullptr); }},
      {"ReceivePolledMessage buffer",
       [&](VantrelUSB& b) { return b.ReceivePolledMessage(a, 1, nullptr, &length, &value); }},
      {"ReceivePolledMessage length",
       [&](VantrelUSB& b) { return b.ReceivePolledMessage(a, 1, bytes, nullptr, &value); }},
      {"ReceivePolledMessage status",
       [&](VantrelUSB& b) { return b.ReceivePolledMessage(a, 1, bytes, &length, nullptr); }},
      {"GetClock", [](VantrelUSB& b) { return b.GetClock(nullptr); }},
      {"NextSecuritySwitchRead",
       [&](VantrelUSB& b) { return b.NextSecuritySwitchRead(&number, nullptr); }},
      {"ReadAndResetSecuritySwitchFlags",
       [&](VantrelUSB& b) { return b.ReadAndResetSecuritySwitchFlags(nullptr, &byte); }},
      {"CachedReadAndResetSecuritySwitchFlags",
       [&](VantrelUSB& b) { return b.CachedReadAndResetSecuritySwitchFlags(&byte, nullptr); }},
      {"GetRandomNumber", [](VantrelUSB& b) { return b.GetRandomNumber(nullptr); }},
      {"SendSPI data", [&](VantrelUSB& b) { return b.SendSPI(10, nullptr, 0, 8, bytes); }},
      {"SendSPI received", [&](VantrelUSB& b) { return b.SendSPI(8, bytes, 0, 8, nullptr); }},
      {"SendSEC data", [&](VantrelUSB& b) { return b.SendSEC(1, 2, 3, nullptr, 0, 1, bytes); }},
      {"SendSEC received", [&](VantrelUSB& b) { return b.SendSEC(1, 2, 3, bytes, 0, 1, nullptr); }},
  };
  // What the refusals must leave alone.
  std::uint8_t* eeprom = shared::Record(shared::State().eeproms, shared::kEepromConfigCopySize, 0);
  std::uint8_t* outputs = shared::Record(shared::State().outOnCopies, shared::kOutputCopySize, 0);
  const Bytes eepromBefore(eeprom, eeprom + shared::kEepromConfigCopySize);
  const Bytes outputsBefore(outputs, outputs + shared::kOutputCopySize);
  for (const Call& c : calls) {
    SCOPED_TRACE(c.name);
    board_.ClearErrors();
    length = 99;
    EXPECT_EQ(c.call(board_), 0);
    EXPECT_EQ(board_.GetLastError(), USB_MESSAGE_PARAMETER_OUT_OF_RANGE);
    EXPECT_TRUE(script_->All().empty());
    script_->Clear();
  }
  EXPECT_EQ(Bytes(eeprom, eeprom + shared::kEepromConfigCopySize), eepromBefore);
  EXPECT_EQ(Bytes(outputs, outputs + shared::kOutputCopySize), outputsBefore);
}

TEST_F(NullArgumentTest, NullBufferWithNothingToMoveIsStillAllowed) {
  const auto a = USB_SERIAL_PORT_A;
  EXPECT_NE(board_.Send(a, nullptr, 0), 0);
  EXPECT_NE(board_.ReadSRAM(0, nullptr, 0), 0);
  EXPECT_NE(board_.WriteSRAM(0, nullptr, 0), 0);
  EXPECT_NE(board_.ReadEEPROM(8, nullptr, 0), 0);
  EXPECT_NE(board_.WriteEEPROM(8, nullptr, 0), 0);
  EXPECT_TRUE(script_->All().empty());
  // Transfers with nothing to send or nothing to receive still go out.
  unsigned char received[62] = {};
  EXPECT_NE(board_.SendSPI(0, nullptr, 0, 8, received), 0);
  script_->Reply(7, 0x60, {0x60, 0, 0xAB});  // data nobody asked for is dropped
  EXPECT_NE(board_.SendSPI(8, received, 0, 0, nullptr), 0);
  EXPECT_NE(board_.SendSEC(1, 2, 0, nullptr, 0, 1, received), 0);
  EXPECT_EQ(script_->SentOn(7).size(), 3u);
  EXPECT_EQ(board_.GetLastError(), USB_MESSAGE_EXECUTION_SUCCESS);
}

}  // namespace
}  // namespace vantrel::testing
