// ccTalk transactions on a board serial port, with the commands of the
// transaction dictionaries reachable by name.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Bindings.h"
#include "CcTalkDictionary.h"
#include "CcTalkTransaction.h"
#include "Conversions.h"

namespace vantrel::python {

namespace {

// The dictionaries, read on first use from the folders the package names.
// Touched only with the GIL held.
struct Dictionaries {
  std::vector<std::filesystem::path> folders;
  std::unique_ptr<CcTalkDictionary> loaded;

  const CcTalkDictionary& Get() {
    if (!loaded) loaded = std::make_unique<CcTalkDictionary>(folders);
    return *loaded;
  }
  std::string FolderList() const {
    std::string list;
    for (const auto& folder : folders) list += (list.empty() ? "" : ", ") + folder.string();
    return list.empty() ? "(no folder)" : list;
  }
};

Dictionaries& SharedDictionaries() {
  static Dictionaries dictionaries;
  return dictionaries;
}

// A header number or a command name to the header and its entry (null for a
// number the dictionaries do not know).
std::pair<std::uint8_t, const CcTalkCommand*> Resolve(const py::object& header) {
  auto& dictionaries = SharedDictionaries();
  if (PyLong_Check(header.ptr())) {
    const auto number = Byte(header.cast<std::int64_t>(), "header");
    return {number, dictionaries.Get().FindHeader(number)};
  }
  if (!py::isinstance<py::str>(header))
    throw py::type_error("header must be an int (0-255) or a command name, not " +
                         std::string(py::str(header.get_type().attr("__name__"))));
  const auto name = header.cast<std::string>();
  const CcTalkDictionary& dictionary = dictionaries.Get();
  if (const CcTalkCommand* command = dictionary.Find(name)) return {command->header, command};
  if (dictionary.Size() == 0)
    throw py::value_error("no ccTalk dictionary found in " + dictionaries.FolderList() +
                          " to look up '" + name +
                          "' (install k27-cctalk-dictionaries, or give the header as a number)");
  throw py::value_error("no ccTalk command named '" + name + "' in the dictionaries in " +
                        dictionaries.FolderList() + " (" + std::to_string(dictionary.Size()) +
                        " commands read)");
}

py::object FrameBytes(const CcctalkMessage& message) {
  return ToBytes(message.bytes().data(), message.length());
}

py::object Transaction(BoardObject& self, std::int64_t port, const py::object& header,
                       const py::object& data, std::int64_t destination, std::int64_t source,
                       std::int64_t baudRate) {
  const auto which = static_cast<_usbSerialPort>(InRange(port, "port", 0, 1));
  // Plain variables, not a structured binding: the lambda below captures
  // the header, which clang before 16 refuses for a binding.
  const auto resolved = Resolve(header);
  const std::uint8_t number = resolved.first;
  const CcTalkCommand* command = resolved.second;
  const auto bytes = BytesOf(data, "data", CcctalkMessage::kMaximumData);
  if (command != nullptr && command->dataLength > 0 && bytes.size() != command->dataLength)
    throw py::value_error(command->name + " takes " + std::to_string(command->dataLength) +
                          " data byte(s) (" + command->data + "), not " +
                          std::to_string(bytes.size()));
  const auto to = Byte(destination, "destination");
  const auto from = Byte(source, "source");
  _DCB settings{};
  settings.DCBlength = sizeof settings;
  settings.BaudRate = static_cast<std::uint32_t>(InRange(baudRate, "baud_rate", 1, 1000000));
  settings.ByteSize = 8;
  self.Run("SetConfig",
           [&](VantrelUSB& b) { return b.SetConfig(which, &settings, USB_PORT_TYPE_CCTALK); });
  usbErrorCode code = USB_MESSAGE_EXECUTION_SUCCESS;
  const CcTalkTransaction transaction = self.Exchange([&](VantrelUSB& b) {
    CcTalkTransaction result = RunCcTalkTransaction(b, which, from, to, number, bytes);
    if (result.failedCall != nullptr) code = b.GetLastError();
    return result;
  });
  if (transaction.failedCall != nullptr) RaiseBoardError(transaction.failedCall, code);
  if (transaction.outcome != CcTalkTransaction::Outcome::kGood) {
    PyErr_SetObject(K27("CcTalkError").ptr(),
                    py::make_tuple(transaction.error, FrameBytes(transaction.request),
                                   transaction.replied ? FrameBytes(transaction.reply) : py::none())
                        .ptr());
    throw py::error_already_set();
  }
  const CcctalkMessage& reply = transaction.reply;
  const CcTalkReply* entry = CcTalkDictionary::Reply(command, reply.header());
  const auto replyData = CcTalkDataOf(reply);
  return K27("CcTalkReply")(reply.destination(), reply.source(), reply.header(),
                            CcTalkDictionary::ReplyName(command, reply.header()),
                            ToBytes(replyData.data(), replyData.size()),
                            entry != nullptr ? entry->data : std::string(), FrameBytes(reply));
}

}  // namespace

void BindCcTalk(py::module_& module, BoardClass& board) {
  board.def("cctalk", &Transaction, py::arg("port"), py::arg("header"),
            py::arg("data") = py::bytes(), py::arg("destination") = 2, py::arg("source") = 1,
            py::arg("baud_rate") = 9600,
            "One ccTalk transaction on serial port `port`, set to ccTalk at `baud_rate`:\n"
            "sends `header` (0-255, or a command name from the transaction dictionaries\n"
            "such as \"simple poll\") with `data` to `destination`, checks the local echo\n"
            "and returns the decoded reply (CcTalkReply). No reply, a bad one or a bad\n"
            "echo raises CcTalkError; a failed board call raises BoardError.");
  module.def(
      "set_cctalk_dictionary_folders",
      [](const py::iterable& folders) {
        std::vector<std::filesystem::path> paths;
        for (const auto& folder : folders) paths.emplace_back(py::str(folder).cast<std::string>());
        auto& dictionaries = SharedDictionaries();
        dictionaries.folders = std::move(paths);
        dictionaries.loaded.reset();
      },
      py::arg("folders"), "Reads the ccTalk dictionaries below these folders from now on.");
  module.def(
      "cctalk_commands",
      []() {
        py::list commands;
        for (const auto& command : SharedDictionaries().Get().Commands())
          commands.append(K27("CcTalkCommand")(command.header, command.name, command.dataLength,
                                               command.data, command.description));
        return commands;
      },
      "The commands of the ccTalk dictionaries, as `k27ctl cctalk names` lists them.");
}

}  // namespace vantrel::python
