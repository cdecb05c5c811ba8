// Files that are either whole or absent: content goes to a temporary file beside the
// target and is renamed into place only once it was written completely.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string_view>

namespace brenvik {

// A unique temporary name in the target's folder.
std::filesystem::path TemporaryBeside(const std::filesystem::path& target);
// Writes the whole content and renames it over the target; false (and no temporary
// left behind) when any step fails.
bool WriteFileAtomically(const std::filesystem::path& target, std::string_view content,
                         mode_t mode = 0644);

}  // namespace brenvik
