// Replacing a file so that no reader and no crash ever meets half of it: the
// new contents go to a temporary file in the same folder, are synced, and
// are renamed over the old name, whose folder is synced in turn.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

// Writes all of `bytes` to the descriptor, retrying short writes; false with
// errno set (ENOSPC for a write that makes no progress).
bool WriteAll(int fd, const void* data, size_t size);
bool WriteAll(int fd, const std::string& bytes);

// `temporaryName` is the temporary file's name in the target's folder and
// ends in "XXXXXX". Returns 0, or the errno of the step that failed; the old
// file is then untouched and no temporary file is left. `written`, when
// given, receives the new file's status as it was before its rename.
int ReplaceFile(const std::string& path, const std::string& bytes, mode_t mode,
                const std::string& temporaryName, struct stat* written = nullptr);
