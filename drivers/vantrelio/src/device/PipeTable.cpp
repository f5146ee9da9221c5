#include "PipeTable.h"

#include <algorithm>

#include "vantrel/protocol/ControlCodes.h"

namespace vantrel::driver {

std::size_t InterfaceInformation::Length() const {
  return PipeTableImage::kHeaderSize + PipeTableImage::kPipeSize * pipes.size();
}

void InterfaceInformation::WriteImage(std::span<std::uint8_t> out) const {
  using I = PipeTableImage;
  std::fill_n(out.begin(), Length(), std::uint8_t{0});
  std::uint8_t* header = out.data();
  StoreLe16(header + I::kLength, static_cast<std::uint16_t>(Length()));
  header[I::kInterfaceNumber] = interfaceNumber;
  header[I::kAlternateSetting] = alternateSetting;
  header[I::kClass] = interfaceClass;
  header[I::kSubClass] = interfaceSubClass;
  header[I::kProtocol] = interfaceProtocol;
  StoreLe32(header + I::kInterfaceHandle, 1);
  StoreLe32(header + I::kNumberOfPipes, static_cast<std::uint32_t>(pipes.size()));
  for (std::size_t i = 0; i < pipes.size(); ++i) {
    const PipeInformation& pipe = pipes[i];
    std::uint8_t* record = out.data() + I::kHeaderSize + I::kPipeSize * i;
    StoreLe16(record + I::kMaximumPacketSize, pipe.maximumPacketSize);
    record[I::kEndpointAddress] = pipe.endpointAddress;
    record[I::kInterval] = pipe.interval;
    StoreLe32(record + I::kPipeType, static_cast<std::uint32_t>(pipe.pipeType));
    StoreLe32(record + I::kPipeHandle, pipe.pipeHandle ? 1 : 0);
    StoreLe32(record + I::kMaximumTransferSize, pipe.maximumTransferSize);
  }
}

PipeTablePtr MakePipeTable(const usbhost::InterfaceInfo& selected) {
  auto table = std::make_shared<InterfaceInformation>();
  table->interfaceNumber = selected.number;
  table->alternateSetting = selected.alternateSetting;
  table->interfaceClass = selected.interfaceClass;
  table->interfaceSubClass = selected.interfaceSubClass;
  table->interfaceProtocol = selected.interfaceProtocol;
  table->pipes.reserve(selected.endpoints.size());
  for (const usbhost::EndpointInfo& endpoint : selected.endpoints) {
    PipeInformation pipe;
    pipe.endpointAddress = endpoint.address;
    pipe.pipeType = static_cast<PipeType>(static_cast<std::uint8_t>(endpoint.type) & 3);
    pipe.maximumTransferSize = kPipeMaximumTransferSize;
    pipe.pipeHandle = true;
    pipe.maximumPacketSize = endpoint.maxPacketSize;
    pipe.interval = endpoint.interval;
    table->pipes.push_back(pipe);
  }
  return table;
}

}  // namespace vantrel::driver
