#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <random>

namespace {

bool g_useUnnamedFiles = true;

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// "." + name + "." within the folder's longest name less the six random
// characters: a name that fits there keeps a temporary name that fits too,
// however long it is.
std::string HiddenPrefix(const std::string& path, const std::string& folder) {
  const size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const long longest = ::pathconf(folder.c_str(), _PC_NAME_MAX);
  constexpr size_t kAdded = 8;  // the dot in front and ".XXXXXX"
  const size_t room = longest > static_cast<long>(kAdded) ? static_cast<size_t>(longest) - kAdded
                                                          : 255 - kAdded;
  if (name.size() > room) name.resize(room);
  return "." + name + ".";
}

// The named temporary files open now, where a signal handler can reach them
// without allocating or locking. A slot is filled, then armed; the handler
// takes an armed slot for good, so its name is never rewritten under it.
enum keSlotState : int { keSlotFree, keSlotFilling, keSlotArmed, keSlotTaken };
struct CSignalSlot {
  std::atomic<int> state{keSlotFree};
  char name[PATH_MAX];
};
static_assert(std::atomic<int>::is_always_lock_free, "the handler needs lock-free slots");
// A program writes its files one or two at a time; past this they are only
// not removed on a signal.
constexpr int kSignalSlots = 4;
CSignalSlot g_signalSlots[kSignalSlots];

int ArmForSignals(const std::string& name) {
  if (name.size() >= PATH_MAX) return -1;
  for (int i = 0; i < kSignalSlots; ++i) {
    int expected = keSlotFree;
    if (!g_signalSlots[i].state.compare_exchange_strong(expected, keSlotFilling)) continue;
    std::memcpy(g_signalSlots[i].name, name.c_str(), name.size() + 1);
    g_signalSlots[i].state.store(keSlotArmed);
    return i;
  }
  return -1;
}

// A slot the handler took stays taken: the process is ending anyway.
void DisarmForSignals(int slot) {
  if (slot < 0) return;
  int expected = keSlotArmed;
  g_signalSlots[slot].state.compare_exchange_strong(expected, keSlotFree);
}

constexpr int kCleanedSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void RemoveTemporariesAndDie(int signal) {
  const int savedErrno = errno;
  for (CSignalSlot& slot : g_signalSlots) {
    int expected = keSlotArmed;
    if (slot.state.compare_exchange_strong(expected, keSlotTaken)) ::unlink(slot.name);
  }
  // Ended by the signal itself, so a calling shell sees what stopped us.
  ::signal(signal, SIG_DFL);
  ::raise(signal);
  errno = savedErrno;
}

// The pattern's X's replaced by random letters.
std::string FilledPattern(std::string pattern) {
  static constexpr char kLetters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::random_device device;
  std::uniform_int_distribution<size_t> pick(0, sizeof kLetters - 2);
  for (size_t i = pattern.size(); i > 0 && pattern[i - 1] == 'X'; --i) {
    pattern[i - 1] = kLetters[pick(device)];
  }
  return pattern;
}

void SyncFolder(const std::string& folder) {
  const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd >= 0) {
    ::fsync(folderFd);
    ::close(folderFd);
  }
}

}  // namespace

bool WriteAll(int fd, const void* data, size_t size) {
  const char* bytes = static_cast<const char*>(data);
  size_t done = 0;
  while (done < size) {
    const ssize_t wrote = ::write(fd, bytes + done, size - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      if (wrote == 0) errno = ENOSPC;
      return false;
    }
    done += static_cast<size_t>(wrote);
  }
  return true;
}

bool WriteAll(int fd, const std::string& bytes) { return WriteAll(fd, bytes.data(), bytes.size()); }

CAtomicFile::~CAtomicFile() { Abandon(); }

void CAtomicFile::Abandon() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
  if (m_named) ::unlink(m_temporary.c_str());
  m_named = false;
  Disarm();
}

void CAtomicFile::Disarm() {
  DisarmForSignals(m_signalSlot);
  m_signalSlot = -1;
}

int CAtomicFile::Open(const std::string& path, mode_t mode, const std::string& temporaryName) {
  Abandon();
  m_path = path;
  m_folder = FolderOf(path);
  m_temporary = m_folder + "/" +
                (temporaryName.empty() ? HiddenPrefix(path, m_folder) + "XXXXXX" : temporaryName);
  // Unnamed, a file killed half-written is gone with the process. It is put
  // in place through /proc, so both must be there.
  if (g_useUnnamedFiles && ::access("/proc/self/fd", X_OK) == 0) {
    m_fd = ::open(m_folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (m_fd >= 0) return 0;
    // Other errors (no folder, no right to write) are the target's own.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return errno;
  }
  // Made here rather than by mkstemp, whose private mode would outlive the
  // rename: the creation mode goes through the umask like any new file's.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string temporary = FilledPattern(m_temporary);
    m_fd = ::open(temporary.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, mode);
    if (m_fd >= 0) {
      m_temporary = temporary;
      m_named = true;
      m_signalSlot = ArmForSignals(m_temporary);
      return 0;
    }
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

// An unnamed file gets the target's name by a link, which never replaces:
// where replacing is wanted, an existing target is replaced by linking under
// a temporary name and renaming that over it.
int CAtomicFile::LinkUnnamed(bool replace) {
  const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
  if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, m_path.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
  if (errno != EEXIST || !replace) return errno;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string temporary = FilledPattern(m_temporary);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temporary.c_str(), AT_SYMLINK_FOLLOW) != 0) {
      if (errno == EEXIST) continue;
      return errno;
    }
    const int slot = ArmForSignals(temporary);
    const int error = ::rename(temporary.c_str(), m_path.c_str()) == 0 ? 0 : errno;
    if (error != 0) ::unlink(temporary.c_str());
    DisarmForSignals(slot);
    return error;
  }
  return EEXIST;
}

// A named temporary file is renamed over the target, or, where nothing may
// be replaced, linked to its name, which fails on an existing file.
int CAtomicFile::PlaceNamed(bool replace) {
  if (replace) return ::rename(m_temporary.c_str(), m_path.c_str()) == 0 ? 0 : errno;
  if (::link(m_temporary.c_str(), m_path.c_str()) != 0) return errno;
  ::unlink(m_temporary.c_str());
  return 0;
}

int CAtomicFile::Commit(bool replace, struct stat* written) {
  if (m_fd < 0) return EBADF;
  int error = 0;
  if (::fsync(m_fd) != 0) error = errno;
  if (error == 0 && written && ::fstat(m_fd, written) != 0) error = errno;
  if (error == 0 && !m_named) error = LinkUnnamed(replace);
  const int fd = m_fd;
  m_fd = -1;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && m_named) error = PlaceNamed(replace);
  if (error != 0) {
    Abandon();
    return error;
  }
  m_named = false;
  Disarm();
  // The new name itself must survive a crash too.
  SyncFolder(m_folder);
  return 0;
}

std::string TemporaryNamePrefix(const std::string& path) {
  return HiddenPrefix(path, FolderOf(path));
}

void RemoveTemporaryFilesOnSignal() {
  for (const int signal : kCleanedSignals) {
    struct sigaction current {};
    if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) continue;
    struct sigaction action {};
    action.sa_handler = RemoveTemporariesAndDie;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
  }
}

void UseUnnamedFilesForTesting(bool use) { g_useUnnamedFiles = use; }

int CheckNewFileName(const std::string& path) {
  const size_t slash = path.rfind('/');
  const size_t nameLength = slash == std::string::npos ? path.size() : path.size() - slash - 1;
  const long longestName = ::pathconf(FolderOf(path).c_str(), _PC_NAME_MAX);
  const long longestPath = ::pathconf(FolderOf(path).c_str(), _PC_PATH_MAX);
  if (longestName > 0 && nameLength > static_cast<size_t>(longestName)) return ENAMETOOLONG;
  if (longestPath > 0 && path.size() >= static_cast<size_t>(longestPath)) return ENAMETOOLONG;
  return 0;
}

int ReplaceFile(const std::string& path, const std::string& bytes, mode_t mode,
                const std::string& temporaryName, struct stat* written) {
  CAtomicFile file;
  const int error = file.Open(path, mode, temporaryName);
  if (error != 0) return error;
  // The mode exactly, whatever the umask.
  if (::fchmod(file.Descriptor(), mode) != 0 || !WriteAll(file.Descriptor(), bytes)) return errno;
  return file.Commit(true, written);
}
