#include "shared/SystemNames.h"

#include <cstdlib>

namespace vantrel::shared {

bool IsValidNamespace(std::string_view ns) {
  if (ns.empty() || ns.size() > kMaxNamespaceLength) return false;
  for (char c : ns) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    const bool digit = c >= '0' && c <= '9';
    if (!letter && !digit && c != '-' && c != '_' && c != '.') return false;
  }
  return true;
}

std::string CurrentNamespace() {
  const char* value = std::getenv(kNamespaceVariable);
  if (value == nullptr || !IsValidNamespace(value)) return {};
  return value;
}

std::string SystemObjectName(std::string_view name) {
  const std::string ns = CurrentNamespace();
  std::string result = "/";
  if (!ns.empty()) {
    result += ns;
    result += '.';
  }
  result += name;
  return result;
}

}  // namespace vantrel::shared
