#include "Json.h"

#include <cstdio>

namespace vantrel::ctl {

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (byte < 0x20 || byte >= 0x7F) {
          // Bytes outside ASCII are not valid UTF-8 on their own: escape
          // them as the Latin-1 characters they are.
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

Json Json::Object() { return Json('{'); }
Json Json::Array() { return Json('['); }

void Json::Separate() {
  if (!empty_) body_ += ',';
  empty_ = false;
}

void Json::Key(std::string_view key) {
  Separate();
  body_ += JsonString(key);
  body_ += ':';
}

Json& Json::Add(std::string_view key, const Json& value) {
  Key(key);
  body_ += value.Text();
  return *this;
}
Json& Json::Add(std::string_view key, std::string_view value) {
  Key(key);
  body_ += JsonString(value);
  return *this;
}
Json& Json::Add(std::string_view key, std::int64_t value) {
  Key(key);
  body_ += std::to_string(value);
  return *this;
}
Json& Json::Add(std::string_view key, bool value) {
  Key(key);
  body_ += value ? "true" : "false";
  return *this;
}
Json& Json::AddNull(std::string_view key) {
  Key(key);
  body_ += "null";
  return *this;
}
Json& Json::Push(const Json& value) {
  Separate();
  body_ += value.Text();
  return *this;
}
Json& Json::Push(std::string_view value) {
  Separate();
  body_ += JsonString(value);
  return *this;
}
Json& Json::Push(std::int64_t value) {
  Separate();
  body_ += std::to_string(value);
  return *this;
}

std::string Json::Text() const {
  return std::string(1, open_) + body_ + (open_ == '{' ? '}' : ']');
}

}  // namespace vantrel::ctl
