// Dictionary files written into a scratch folder for the tests.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace vantrel::test::dictionary {

class ScratchFolder {
 public:
  ScratchFolder() {
    std::random_device seed;
    root_ = std::filesystem::temp_directory_path() /
            ("k27-dictionary-" + std::to_string(seed()) + std::to_string(seed()));
    std::filesystem::create_directories(root_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::filesystem::path& Root() const { return root_; }

  std::filesystem::path Write(const std::filesystem::path& relative,
                              const std::string& text) const {
    const auto path = root_ / relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

 private:
  std::filesystem::path root_;
};

// A dictionary element with the given transactions.
inline std::string Dictionary(const std::string& transactions,
                              const std::string& type = "Coin Acceptor",
                              const std::string& version = "1.0") {
  return "<?xml version=\"1.0\"?>\n<Root><Transaction_Dictionary type=\"" + type + "\" version=\"" +
         version + "\">" + transactions + "</Transaction_Dictionary></Root>\n";
}

inline std::string Command(const std::string& code, const std::string& name,
                           const std::string& inner = {}) {
  return "<Transaction><Transmit_Header code=\"" + code + "\">" + name + "</Transmit_Header>" +
         inner + "</Transaction>";
}

}  // namespace vantrel::test::dictionary
