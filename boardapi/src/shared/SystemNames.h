// Names of the system objects behind the shared state. Every process that
// uses the library must arrive at the same names, so the optional namespace
// comes from the environment: VANTREL_SHARED_NAMESPACE=<ns> turns
// "K27SharedMemory" into "/<ns>.K27SharedMemory", letting tests and
// side-by-side installations keep apart. The names written into the shared
// heap itself never carry the namespace.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vantrel::shared {

inline constexpr const char* kNamespaceVariable = "VANTREL_SHARED_NAMESPACE";
inline constexpr std::size_t kMaxNamespaceLength = 100;

// Letters, digits, '-', '_' and '.', 1 to kMaxNamespaceLength characters.
bool IsValidNamespace(std::string_view ns);

// The namespace in force, or "" when the variable is unset, empty or invalid.
std::string CurrentNamespace();

// The POSIX shared memory name of the object called `name`.
std::string SystemObjectName(std::string_view name);

}  // namespace vantrel::shared
