// Files that are either whole or absent: content goes to a temporary file beside the
// target and is renamed into place only once it was written completely.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string_view>

namespace brenvik {

// A unique temporary name in the target's folder. The name is short and of its own,
// so a target whose name uses the whole 255 bytes still gets one.
std::filesystem::path TemporaryBeside(const std::filesystem::path& target);
// True for a name TemporaryBeside hands out (or that earlier versions handed out), with
// the id of the process that made it.
bool IsTemporaryName(const std::string& name, long& pid);
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
// holds the same bytes takes the place of the new file, which is removed; an empty file
// (what a power cut leaves of an unflushed image) is replaced. On failure the file is
// removed too.
KeptFile KeepWithoutLoss(const std::filesystem::path& file, const std::filesystem::path& target);
// "name (k).ext" of a path (k from 1), cut to fit the 255-byte name limit.
std::filesystem::path NumberedName(const std::filesystem::path& target, unsigned k);
// True when both are regular files (links not followed) with the same bytes.
bool SameContent(const std::filesystem::path& a, const std::filesystem::path& b);

// A file being written in a folder that has no name there until it is kept: a crash, a
// kill or a failed body leave nothing behind, and keeping it is a single step that never
// replaces a file. Where the file system cannot make a file without a name, it is a
// recorded temporary file beside its targets instead, with the same behaviour but for
// what a kill -9 leaves (which the next run sweeps).
class UnnamedFile {
  public:
    explicit UnnamedFile(const std::filesystem::path& folder);
    ~UnnamedFile();
    UnnamedFile(const UnnamedFile&) = delete;
    UnnamedFile& operator=(const UnnamedFile&) = delete;

    // Open for writing; -1 when the file could not be made.
    int Descriptor() const { return fd_; }
    // Why no file could be made (an error number); 0 when one was.
    int Error() const { return error_; }
    // Bytes written so far; 0 when it cannot tell.
    std::uintmax_t Size() const;
    // Gives the file its target name as KeepWithoutLoss does: "name (k).ext" when the
    // name holds other bytes; when it holds the same bytes, nothing more is written. An
    // empty file under the name (what a power cut leaves of an unflushed image) is
    // replaced. Afterwards the object holds no file.
    KeptFile Keep(const std::filesystem::path& target);

  private:
    bool LinkAt(const std::filesystem::path& name) const;
    bool TakePlaceOf(const std::filesystem::path& name) const;
    void Close();

    int fd_ = -1;
    int error_ = 0;
    std::filesystem::path named_;  // the temporary file's name where there is one
};

// Appends bytes to a file without following a link planted at its name; creates it when
// missing. False when the name is a link or the write fails.
bool AppendNoFollow(const std::filesystem::path& file, std::string_view bytes, mode_t mode = 0644);

}  // namespace brenvik
