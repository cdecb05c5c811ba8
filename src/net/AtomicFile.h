// Files that are either whole or absent: content goes to a temporary file beside the
// target and is renamed into place only once it was written completely.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string_view>

namespace brenvik {

// A unique temporary name in the target's folder. The name is short and of its own,
// so a target whose name uses the whole 255 bytes still gets one.
std::filesystem::path TemporaryBeside(const std::filesystem::path& target);
// True for a name TemporaryBeside hands out (or that earlier versions handed out), with
// the id of the process that made it.
bool IsTemporaryName(const std::string& name, long& pid);
// True for a name TemporaryBeside handed out in this process: a file no one else writes.
bool IsOwnTemporary(const std::filesystem::path& file);
// Removes temporary files of processes that no longer run from a folder (not below it):
// what a killed run left behind. Returns how many went.
int SweepStaleTemporaries(const std::filesystem::path& folder);

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

// Where a finished file went when it was put in place without loss.
struct KeptFile {
    bool ok = false;
    bool alreadyThere = false;  // a file of the same content held the name; the new one went
    std::filesystem::path path;
};
// Moves a finished file to the target without ever replacing a file of other content:
// a taken name gives way to "name (1).ext", "name (2).ext", ...; a name that already
// holds the same bytes takes the place of the new file, which is removed. On failure the
// file is removed too.
KeptFile KeepWithoutLoss(const std::filesystem::path& file, const std::filesystem::path& target);
// "name (k).ext" of a path (k from 1), cut to fit the 255-byte name limit.
std::filesystem::path NumberedName(const std::filesystem::path& target, unsigned k);
// True when both are regular files (links not followed) with the same bytes.
bool SameContent(const std::filesystem::path& a, const std::filesystem::path& b);

// Appends bytes to a file without following a link planted at its name; creates it when
// missing. False when the name is a link or the write fails.
bool AppendNoFollow(const std::filesystem::path& file, std::string_view bytes, mode_t mode = 0644);

}  // namespace brenvik
