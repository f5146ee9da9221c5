// Everything k27ctl writes to standard output or to a file it is given goes
// through here, so that no failed write passes unnoticed: a write that fails
// throws OutputFailure (exit status 1, with the reason), and
// FinishStandardOutput checks the final flush and close, where a full disk
// often shows first. "-" names standard input or output wherever a file is
// named.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Failure.h"

namespace vantrel::ctl {

// A write to standard output or to a named file failed.
struct OutputFailure : Failure {
  explicit OutputFailure(const std::string& message) : Failure(message, "OUTPUT_FAILED") {}
};
// A named file could not be opened or read.
struct InputFailure : Failure {
  explicit InputFailure(const std::string& message) : Failure(message, "INPUT_FAILED") {}
};

// Descriptors 0-2 that are closed get /dev/null opened read-only in their
// place: a write to it fails as it should, and no socket or file opened
// later takes the number and receives what was meant for the terminal.
void GuardStandardStreams();

// One line to standard output, flushed at once (watch lines reach a pipe
// without delay); throws OutputFailure.
void PrintLine(std::string_view line);
// Bytes to standard output as they are; throws OutputFailure.
void PrintBytes(const void* bytes, std::size_t count);
// Flushes and closes standard output; throws OutputFailure. Nothing may be
// written after it.
void FinishStandardOutput();
// False once a write to standard output has failed: an error report then
// goes to standard error only.
bool StandardOutputWorks();

// "-" for standard input or output.
bool IsStandardStream(const std::string& path);
// The whole content of `path`, or of standard input for "-"; throws
// InputFailure naming the file and the reason.
std::vector<std::uint8_t> ReadInput(const std::string& path);
// Throws InputFailure when `path` cannot be opened for reading ("-" can).
void RequireReadable(const std::string& path);
// Writes `bytes` to the open descriptor `fd` whole, retrying short writes;
// throws OutputFailure naming `what`.
void WriteAll(int fd, const void* bytes, std::size_t count, const std::string& what);

}  // namespace vantrel::ctl
