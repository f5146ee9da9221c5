// A small JSON writer: objects and arrays built in order, keys as given.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel::ctl {

class Json {
 public:
  static Json Object();
  static Json Array();

  // Members of an object (in the order added) ...
  Json& Add(std::string_view key, const Json& value);
  Json& Add(std::string_view key, std::string_view value);
  Json& Add(std::string_view key, const char* value) { return Add(key, std::string_view(value)); }
  Json& Add(std::string_view key, std::int64_t value);
  Json& Add(std::string_view key, int value) { return Add(key, std::int64_t(value)); }
  Json& Add(std::string_view key, unsigned value) { return Add(key, std::int64_t(value)); }
  Json& Add(std::string_view key, bool value);
  Json& AddNull(std::string_view key);
  // ... and elements of an array.
  Json& Push(const Json& value);
  Json& Push(std::string_view value);
  Json& Push(std::int64_t value);

  // Compact, on one line.
  std::string Text() const;

 private:
  explicit Json(char open) : open_(open) {}
  void Separate();
  void Key(std::string_view key);

  char open_;
  std::string body_;
  bool empty_ = true;
};

// The text as a JSON string literal, quotes included.
std::string JsonString(std::string_view text);

}  // namespace vantrel::ctl
