// Finds the dictionary files: in each folder its "*.xml" files first, then
// its sub-folders without a dot in their names, depth first.
#pragma once

#include <filesystem>
#include <vector>

// Searches the roots in turn. A folder met again (through a symbolic link,
// or as a later root) is not searched twice. Names within a folder are taken
// in sorted order, so the result does not depend on the file system.
std::vector<std::filesystem::path> DiscoverDictionaryFiles(
    const std::vector<std::filesystem::path>& roots);
