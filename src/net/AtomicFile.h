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

// Temporary files are recorded while they exist, so an end that cannot wait for their
// writers (a second Ctrl-C) still removes them. CreateTemporary opens a new file for
// writing (-1 when that fails or such an end has begun); ForgetTemporary is called once
// the file was renamed into place or removed.
int CreateTemporary(const std::filesystem::path& temp, mode_t mode = 0644);
void ForgetTemporary(const std::filesystem::path& temp);
// Removes every recorded temporary file and refuses new ones from then on.
void RemoveTemporariesForExit();

}  // namespace brenvik
