#include "DictionaryDiscovery.h"

#include <algorithm>
#include <set>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

namespace {

bool HasXmlExtension(const fs::path& name) {
  std::string ext = name.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext == ".xml";
}

void Discover(const fs::path& folder, std::set<fs::path>& visited, std::vector<fs::path>& found) {
  std::error_code ec;
  const fs::path identity = fs::canonical(folder, ec);
  if (ec || !visited.insert(identity).second) return;

  std::vector<fs::directory_entry> entries;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    entries.push_back(*it);
  std::sort(entries.begin(), entries.end(),
            [](const fs::directory_entry& a, const fs::directory_entry& b) {
              return a.path().filename() < b.path().filename();
            });

  for (const auto& entry : entries) {
    const fs::path name = entry.path().filename();
    if (HasXmlExtension(name) && !entry.is_directory(ec)) found.push_back(folder / name);
  }
  for (const auto& entry : entries) {
    const std::string name = entry.path().filename().string();
    if (name.find('.') != std::string::npos) continue;  // also skips "." and ".."
    if (entry.is_directory(ec)) Discover(folder / name, visited, found);
  }
}

}  // namespace

std::vector<fs::path> DiscoverDictionaryFiles(const std::vector<fs::path>& roots) {
  std::set<fs::path> visited;
  std::vector<fs::path> found;
  for (const auto& root : roots) Discover(root, visited, found);
  return found;
}
