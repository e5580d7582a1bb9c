// Replacing a file so that no reader and no crash ever meets half of it: the
// new contents are written to a file with no name (or, where the file system
// cannot make one, a temporary name in the same folder), synced, and only
// then put in place under the target's name, whose folder is synced in turn.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

// Writes all of `bytes` to the descriptor, retrying short writes; false with
// errno set (ENOSPC for a write that makes no progress).
bool WriteAll(int fd, const void* data, size_t size);
bool WriteAll(int fd, const std::string& bytes);

// A file that appears under its name only whole. Dropped before Commit, it
// leaves nothing behind: an unnamed file vanishes with its descriptor, a
// named temporary one is removed.
class CAtomicFile {
 public:
  CAtomicFile() = default;
  ~CAtomicFile();
  CAtomicFile(const CAtomicFile&) = delete;
  CAtomicFile& operator=(const CAtomicFile&) = delete;

  // Opens the file that is to become `path`, created with `mode` as open()
  // creates a file (the umask applies).
  // `temporaryName`, ending in "XXXXXX", names the temporary file where one is
  // needed; empty: the target's own name, hidden, shortened where needed so
  // that it fits wherever the target's name does. Returns 0 or an errno.
  int Open(const std::string& path, mode_t mode, const std::string& temporaryName = {});
  int Descriptor() const { return m_fd; }
  // Syncs the file and puts it in place, replacing a file of that name only
  // with `replace` (EEXIST otherwise, however late that file appeared).
  // Returns 0 or the errno of the step that failed; the old file is then
  // untouched and nothing is left behind. `written`, when given, receives the
  // file's status as it was before it was put in place.
  int Commit(bool replace, struct stat* written = nullptr);

 private:
  int LinkUnnamed(bool replace);
  int PlaceNamed(bool replace);
  void Abandon();
  void Disarm();

  std::string m_path;
  std::string m_folder;
  std::string m_temporary;  // the named temporary file, or the pattern for one
  bool m_named = false;     // m_temporary exists on disk
  int m_fd = -1;
  int m_signalSlot = -1;    // where a signal handler finds m_temporary, or -1
};

// The start of every temporary name that CAtomicFile gives `path` when the
// caller names none: "." + the name, shortened to fit, + "."; six letters or
// digits follow. Whoever knows a killed writer's target can clear what it left.
std::string TemporaryNamePrefix(const std::string& path);

// From now on SIGINT, SIGTERM and SIGHUP remove the named temporary files
// open at that moment, then end the process by the signal as before. For a
// program, not a library: it takes those signals over, unless they are
// ignored or already handled.
void RemoveTemporaryFilesOnSignal();

// Tests switch unnamed files off to take the way of file systems without them.
void UseUnnamedFilesForTesting(bool use);

// ENAMETOOLONG when `path` or its last name is longer than its folder takes,
// else 0: a name to be written is checked before any work is done for it.
int CheckNewFileName(const std::string& path);

// Replaces `path` with `bytes` through a CAtomicFile, with exactly `mode`.
int ReplaceFile(const std::string& path, const std::string& bytes, mode_t mode,
                const std::string& temporaryName, struct stat* written = nullptr);
