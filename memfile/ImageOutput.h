// Where a memory dump goes: standard output ("-"), an existing regular file
// rewritten in place, or a new file. Nothing else: a dump never replaces a
// device node, a FIFO or a symbolic link, and a file that exists keeps its
// inode, so its mode, owner, links and ACLs stay as they were.
#pragma once

#include <string>
#include <string_view>

namespace vantrel::memfile {

class ImageOutput {
 public:
  // Checks the target at once, before the memory is read, and throws
  // WriteError (MemoryFile.h) naming the path and the reason when it cannot
  // take a dump: not a regular file (a symbolic link is followed to what it
  // names), not writable, or a new file in a folder that is missing or not
  // writable. An existing file is opened now but changed only by Write.
  explicit ImageOutput(std::string path);
  ~ImageOutput();
  ImageOutput(const ImageOutput&) = delete;
  ImageOutput& operator=(const ImageOutput&) = delete;

  bool IsStandardOutput() const { return path_ == "-"; }
  const std::string& Path() const { return path_; }

  // Writes the whole content, once. An existing file gets its space first,
  // so that a full disk leaves it as it was, then is overwritten from the
  // start, cut to the new length and synced. A new file is created with
  // mode 0666 less the umask (as the shell's > makes one) and removed again
  // when the write fails. Throws WriteError.
  void Write(std::string_view content);

 private:
  void WriteExisting(std::string_view content);
  void WriteNew(std::string_view content);

  std::string path_;
  int fd_ = -1;  // the existing file, from the check on
};

}  // namespace vantrel::memfile
