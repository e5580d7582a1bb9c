#include "Registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/AtomicFile.h"

struct RegistryKey__ {
  std::string path;  // full path from the root, e.g. HKEY_CURRENT_USER\Software
  REGSAM rights;
};

namespace {

constexpr const char* kRootName = "HKEY_CURRENT_USER";
constexpr const char* kMagicLine = "KELVANE-REGISTRY 1";
constexpr const char* kEndLine = "END";
// Larger files were not written by us; refusing them bounds the memory used.
constexpr off_t kMaxStoreBytes = 4 << 20;
constexpr size_t kMaxNameLength = 255;

struct StoredValue {
  std::string name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

// Names are looked up by their folded spelling; the lists keep the order
// in which the file is written.
using NameIndex = std::unordered_map<std::string, size_t>;

struct StoredKey {
  std::string path;
  std::vector<StoredValue> values;  // in the order they were first set
  NameIndex index;                  // folded name -> position in values
};

struct Store {
  std::vector<StoredKey> keys;  // in the order they were created
  NameIndex index;              // folded path -> position in keys
  bool damaged = false;         // the file exists but could not be parsed
  bool exists = false;
  mode_t mode = 0600;
};

// What identifies one version of the file: every write of ours makes a new
// file (a new inode), and a change in place moves the size or the times.
struct FileStamp {
  bool present = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  timespec changed{};

  bool operator==(const FileStamp& other) const {
    if (present != other.present) return false;
    if (!present) return true;
    return device == other.device && inode == other.inode && size == other.size &&
           modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec &&
           changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
  }
};

// The store as last read or written, kept while the file stays that version,
// so that a sequence of calls parses the file once rather than once per call.
struct CachedStore {
  bool valid = false;
  std::string path;
  FileStamp stamp;
  Store store;
};

// One lock serialises this process's read-modify-write cycles; between
// processes the atomic rename keeps every reader on a whole file.
std::mutex g_mutex;
std::set<HKEY> g_handles;
bool g_reported = false;
CachedStore g_cache;
int g_storeReads = 0;
thread_local RegistryWriteFailure t_writeFailure;

bool IsRoot(HKEY key) { return key == HKEY_CURRENT_USER; }

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Folded(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) c = LowerAscii(c);
  return folded;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

void Report(const std::string& path, const std::string& why) {
  if (g_reported) return;
  g_reported = true;
  std::fprintf(stderr, "kelvane: settings store %s %s; using defaults\n", path.c_str(),
               why.c_str());
  std::fflush(stderr);
}

// Names may hold any byte; those that would break a line or the quoting are
// written as %XX.
std::string EscapeName(std::string_view name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F || c == '%' || c == '"') {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool UnescapeName(std::string_view text, std::string& out) {
  if (text.find('%') == std::string_view::npos) {
    out.assign(text);
    return true;
  }
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return false;
    const int high = HexDigit(text[i + 1]);
    const int low = HexDigit(text[i + 2]);
    if (high < 0 || low < 0) return false;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool ValidKeyPath(const std::string& path) {
  size_t start = 0;
  bool first = true;
  while (true) {
    const size_t end = path.find('\\', start);
    const std::string_view part =
        std::string_view(path).substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (part.empty() || part.size() > kMaxNameLength) return false;
    if (first && !SameName(part, kRootName)) return false;
    first = false;
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

// Parses one value line: "name"=type:hexdata, optionally followed by a
// comment after a semicolon.
bool ParseValueLine(std::string_view line, StoredValue& value) {
  if (line.size() < 2 || line.front() != '"') return false;
  const size_t close = line.find('"', 1);
  if (close == std::string_view::npos) return false;
  if (!UnescapeName(line.substr(1, close - 1), value.name)) return false;
  if (value.name.size() > 16383) return false;
  std::string_view rest = line.substr(close + 1);
  if (rest.empty() || rest.front() != '=') return false;
  rest.remove_prefix(1);
  uint64_t type = 0;
  size_t digits = 0;
  while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') {
    type = type * 10 + static_cast<uint64_t>(rest[digits] - '0');
    if (type > 0xFFFFFFFFu) return false;
    ++digits;
  }
  if (digits == 0 || digits >= rest.size() || rest[digits] != ':') return false;
  value.type = static_cast<DWORD>(type);
  rest.remove_prefix(digits + 1);
  const size_t comment = rest.find(';');
  if (comment != std::string_view::npos) rest = rest.substr(0, comment);
  rest = Trim(rest);
  if (rest.size() % 2 != 0) return false;
  value.data.clear();
  value.data.reserve(rest.size() / 2);
  for (size_t i = 0; i < rest.size(); i += 2) {
    const int high = HexDigit(rest[i]);
    const int low = HexDigit(rest[i + 1]);
    if (high < 0 || low < 0) return false;
    value.data.push_back(static_cast<BYTE>(high * 16 + low));
  }
  return true;
}

StoredKey* FindKey(Store& store, const std::string& path) {
  const auto found = store.index.find(Folded(path));
  return found == store.index.end() ? nullptr : &store.keys[found->second];
}

StoredKey& AddKey(Store& store, const std::string& path) {
  store.index.emplace(Folded(path), store.keys.size());
  store.keys.push_back(StoredKey{path, {}, {}});
  return store.keys.back();
}

StoredValue* FindValue(StoredKey& key, std::string_view name) {
  const auto found = key.index.find(Folded(name));
  return found == key.index.end() ? nullptr : &key.values[found->second];
}

// A value of the same name is replaced where it stands.
void PutValue(StoredKey& key, StoredValue value) {
  const auto [at, added] = key.index.emplace(Folded(value.name), key.values.size());
  if (added) {
    key.values.push_back(std::move(value));
  } else {
    key.values[at->second] = std::move(value);
  }
}

// Parses the whole file; on failure tells which line and why.
bool ParseStore(const std::string& text, Store& store, std::string& why) {
  size_t position = 0;
  int lineNumber = 0;
  bool sawMagic = false;
  bool sawEnd = false;
  StoredKey* current = nullptr;
  while (position < text.size()) {
    size_t end = text.find('\n', position);
    if (end == std::string::npos) end = text.size();
    const std::string_view line = Trim(std::string_view(text).substr(position, end - position));
    position = end + 1;
    ++lineNumber;
    if (line.empty() || line.front() == ';') continue;
    const auto at = [lineNumber] { return " at line " + std::to_string(lineNumber); };
    if (sawEnd) {
      why = "has text after its end" + at();
      return false;
    }
    if (!sawMagic) {
      if (line != kMagicLine) {
        why = "is not in the expected format" + at();
        return false;
      }
      sawMagic = true;
      continue;
    }
    if (line == kEndLine) {
      sawEnd = true;
      continue;
    }
    if (line.front() == '[') {
      std::string path;
      if (line.size() < 3 || line.back() != ']' || !UnescapeName(line.substr(1, line.size() - 2), path) ||
          !ValidKeyPath(path)) {
        why = "has a malformed key" + at();
        return false;
      }
      current = FindKey(store, path);
      if (!current) current = &AddKey(store, path);
      continue;
    }
    StoredValue value;
    if (!current || !ParseValueLine(line, value)) {
      why = "has a malformed value" + at();
      return false;
    }
    PutValue(*current, std::move(value));
  }
  if (!sawMagic || !sawEnd) {
    why = "is incomplete";
    return false;
  }
  return true;
}

std::string FormatStore(const Store& store) {
  static const char kHex[] = "0123456789abcdef";
  size_t values = 0;
  for (const StoredKey& key : store.keys) values += key.values.size();
  std::string out;
  out.reserve(256 + 64 * store.keys.size() + 48 * values);
  out +=
      "; Per-user settings of Kelvane, rewritten as a whole on every change.\n"
      "; Values: \"name\"=type:data in hex bytes; type 4 is a 32-bit little-endian number.\n";
  out += kMagicLine;
  out += '\n';
  for (const StoredKey& key : store.keys) {
    out += "\n[" + EscapeName(key.path) + "]\n";
    for (const StoredValue& value : key.values) {
      out += '"' + EscapeName(value.name) + "\"=" + std::to_string(value.type) + ':';
      for (BYTE b : value.data) {
        out += kHex[b >> 4];
        out += kHex[b & 15];
      }
      if (value.type == REG_DWORD && value.data.size() == 4) {
        const uint32_t word = static_cast<uint32_t>(value.data[0]) |
                              (static_cast<uint32_t>(value.data[1]) << 8) |
                              (static_cast<uint32_t>(value.data[2]) << 16) |
                              (static_cast<uint32_t>(value.data[3]) << 24);
        out += " ; " + std::to_string(static_cast<int32_t>(word));
      }
      out += '\n';
    }
  }
  out += '\n';
  out += kEndLine;
  out += '\n';
  return out;
}

FileStamp StampOf(const struct stat& info) {
  FileStamp stamp;
  stamp.present = true;
  stamp.device = info.st_dev;
  stamp.inode = info.st_ino;
  stamp.size = info.st_size;
  stamp.modified = info.st_mtim;
  stamp.changed = info.st_ctim;
  return stamp;
}

// Reads the store; a missing file is an empty store, an unreadable or
// damaged one is reported and read as empty. `stamp` names the version read.
Store LoadStore(const std::string& path, FileStamp& stamp) {
  Store store;
  stamp = FileStamp{};
  if (path.empty()) return store;
  ++g_storeReads;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno != ENOENT && errno != ENOTDIR) Report(path, std::string("cannot be read: ") + std::strerror(errno));
    return store;
  }
  struct stat info {};
  std::string text;
  std::string why;
  bool ok = ::fstat(fd, &info) == 0;
  if (ok) stamp = StampOf(info);
  if (!ok) {
    why = std::string("cannot be read: ") + std::strerror(errno);
  } else if (!S_ISREG(info.st_mode)) {
    ok = false;
    why = "is not a file";
  } else if (info.st_size > kMaxStoreBytes) {
    ok = false;
    why = "is too large";
  } else {
    store.mode = info.st_mode & 07777;
    text.reserve(static_cast<size_t>(info.st_size));
    char buffer[8192];
    while (true) {
      const ssize_t got = ::read(fd, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        ok = false;
        why = std::string("cannot be read: ") + std::strerror(errno);
        break;
      }
      if (got == 0) break;
      text.append(buffer, static_cast<size_t>(got));
      if (text.size() > static_cast<size_t>(kMaxStoreBytes)) {
        ok = false;
        why = "is too large";
        break;
      }
    }
  }
  ::close(fd);
  store.exists = true;
  if (ok && !ParseStore(text, store, why)) ok = false;
  if (!ok) {
    const mode_t mode = store.mode;
    store = Store{};
    store.exists = true;
    store.damaged = true;
    store.mode = mode;
    Report(path, why);
  }
  return store;
}

LONG ErrorFromErrno(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
      return ERROR_ACCESS_DENIED;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return ERROR_DISK_FULL;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ERROR_WRITE_FAULT;
  }
}

bool MakeFolders(const std::string& folder) {
  for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    const std::string part = folder.substr(0, slash);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) return true;
  }
}

// The store of the file at `path`, parsed again only when the file is no
// longer the version last read or written by this process.
Store& CurrentStore(const std::string& path) {
  FileStamp now;
  struct stat info {};
  if (!path.empty() && ::stat(path.c_str(), &info) == 0) now = StampOf(info);
  if (!g_cache.valid || g_cache.path != path || !(g_cache.stamp == now)) {
    g_cache.valid = false;
    g_cache.store = LoadStore(path, g_cache.stamp);
    g_cache.path = path;
    g_cache.valid = true;
  }
  return g_cache.store;
}

LONG FailedWrite(const std::string& path, const std::string& reason, LONG error) {
  t_writeFailure = RegistryWriteFailure{path, reason};
  return error;
}

// Replaces the file by a new one: until the rename succeeds the old file is
// untouched, and after it the new contents are on disk. `store` is the
// cached one, already changed: on failure it is dropped, so that the next
// call reads the old file again.
LONG SaveStore(const std::string& path, Store& store) {
  if (path.empty()) {
    g_cache.valid = false;
    return FailedWrite(path, "no configuration folder was found", ERROR_ACCESS_DENIED);
  }
  const size_t slash = path.rfind('/');
  const std::string folder = path.substr(0, slash);
  if (!MakeFolders(folder)) {
    const int error = errno;
    g_cache.valid = false;
    return FailedWrite(path, std::strerror(error), ErrorFromErrno(error));
  }
  if (store.damaged) {
    // Keep the damaged file for whoever wants to look at it.
    const std::string aside = path + ".damaged";
    ::unlink(aside.c_str());
    (void)::link(path.c_str(), aside.c_str());  // not worth failing the write for
  }
  struct stat written {};
  const int error = ReplaceFile(path, FormatStore(store), store.mode,
                                path.substr(slash + 1) + ".XXXXXX", &written);
  if (error != 0) {
    g_cache.valid = false;
    return FailedWrite(path, std::strerror(error), ErrorFromErrno(error));
  }
  store.damaged = false;
  store.exists = true;
  // The rename changes the file's times, so its stamp is taken under its new
  // name; a different inode there means another process has replaced it.
  struct stat named {};
  if (::stat(path.c_str(), &named) == 0 && named.st_dev == written.st_dev &&
      named.st_ino == written.st_ino) {
    g_cache.stamp = StampOf(named);
  } else {
    g_cache.valid = false;
  }
  return ERROR_SUCCESS;
}

// Resolves a handle and a relative key name into a full path.
LONG Resolve(HKEY key, const char* subKey, std::string& path, REGSAM& rights) {
  if (IsRoot(key)) {
    path = kRootName;
    rights = KEY_ALL_ACCESS;
  } else if (key && g_handles.count(key)) {
    path = key->path;
    rights = key->rights;
  } else {
    return ERROR_INVALID_HANDLE;
  }
  if (!subKey || !*subKey) return ERROR_SUCCESS;
  std::string relative = subKey;
  if (relative.back() == '\\') relative.pop_back();
  if (relative.empty() || relative.front() == '\\') return ERROR_INVALID_PARAMETER;
  path += '\\';
  path += relative;
  if (!ValidKeyPath(path)) return ERROR_INVALID_PARAMETER;
  return ERROR_SUCCESS;
}

HKEY NewHandle(const std::string& path, REGSAM rights) {
  HKEY handle = new RegistryKey__{path, rights};
  g_handles.insert(handle);
  return handle;
}

LONG OpenHandle(HKEY key, REGSAM& rights, std::string& path) {
  return Resolve(key, nullptr, path, rights);
}

}  // namespace

std::string RegistryStorePath() {
  std::string base;
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && config[0] == '/') {
    base = config;
  } else {
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') {
      base = std::string(home) + "/.config";
    } else {
      struct passwd entry {};
      struct passwd* found = nullptr;
      std::vector<char> buffer(16384);
      if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
          found->pw_dir && found->pw_dir[0] == '/') {
        base = std::string(found->pw_dir) + "/.config";
      }
    }
  }
  if (base.empty()) return base;
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  return base + "/kelvane/registry";
}

void ResetRegistryReportForTesting() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_reported = false;
}

int RegistryStoreReadsForTesting() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_storeReads;
}

RegistryWriteFailure LastRegistryWriteFailure() { return t_writeFailure; }

LONG RegOpenKeyEx(HKEY key, const char* subKey, DWORD /*options*/, REGSAM rights, HKEY* result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::lock_guard<std::mutex> lock(g_mutex);
  std::string path;
  REGSAM parentRights = 0;
  if (const LONG error = Resolve(key, subKey, path, parentRights)) return error;
  if (!SameName(path, kRootName)) {
    if (!FindKey(CurrentStore(RegistryStorePath()), path)) return ERROR_FILE_NOT_FOUND;
  }
  *result = NewHandle(path, rights);
  return ERROR_SUCCESS;
}

LONG RegCreateKeyEx(HKEY key, const char* subKey, DWORD /*reserved*/, const char* /*keyClass*/,
                    DWORD /*options*/, REGSAM rights, const void* /*security*/, HKEY* result,
                    DWORD* disposition) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::lock_guard<std::mutex> lock(g_mutex);
  t_writeFailure = RegistryWriteFailure{};
  std::string path;
  REGSAM parentRights = 0;
  if (const LONG error = Resolve(key, subKey, path, parentRights)) return error;
  bool created = false;
  if (!SameName(path, kRootName)) {
    const std::string storePath = RegistryStorePath();
    Store& store = CurrentStore(storePath);
    if (!FindKey(store, path)) {
      if (!(parentRights & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
      // Every missing key on the way down is created too.
      for (size_t slash = path.find('\\');; slash = path.find('\\', slash + 1)) {
        const std::string prefix = path.substr(0, slash);
        if (slash != std::string::npos && !FindKey(store, prefix)) AddKey(store, prefix);
        if (slash == std::string::npos) break;
      }
      AddKey(store, path);
      if (const LONG error = SaveStore(storePath, store)) return error;
      created = true;
    }
  }
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *result = NewHandle(path, rights);
  return ERROR_SUCCESS;
}

LONG RegQueryValueEx(HKEY key, const char* valueName, DWORD* /*reserved*/, DWORD* type, BYTE* data,
                     DWORD* size) {
  if (data && !size) return ERROR_INVALID_PARAMETER;
  std::lock_guard<std::mutex> lock(g_mutex);
  std::string path;
  REGSAM rights = 0;
  if (const LONG error = OpenHandle(key, rights, path)) return error;
  if (!(rights & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  StoredKey* stored = FindKey(CurrentStore(RegistryStorePath()), path);
  if (!stored) return SameName(path, kRootName) ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
  const StoredValue* value = FindValue(*stored, valueName ? valueName : "");
  if (!value) return ERROR_FILE_NOT_FOUND;
  const DWORD needed = static_cast<DWORD>(value->data.size());
  if (type) *type = value->type;
  if (data) {
    if (*size < needed) {
      *size = needed;
      return ERROR_MORE_DATA;
    }
    if (needed) std::memcpy(data, value->data.data(), needed);
  }
  if (size) *size = needed;
  return ERROR_SUCCESS;
}

LONG RegSetValueEx(HKEY key, const char* valueName, DWORD /*reserved*/, DWORD type, const BYTE* data,
                   DWORD size) {
  if (size && !data) return ERROR_INVALID_PARAMETER;
  const std::string name = valueName ? valueName : "";
  if (name.size() > 16383) return ERROR_INVALID_PARAMETER;
  std::lock_guard<std::mutex> lock(g_mutex);
  t_writeFailure = RegistryWriteFailure{};
  std::string path;
  REGSAM rights = 0;
  if (const LONG error = OpenHandle(key, rights, path)) return error;
  if (!(rights & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  const std::string storePath = RegistryStorePath();
  Store& store = CurrentStore(storePath);
  StoredKey* stored = FindKey(store, path);
  if (!stored) {
    if (!SameName(path, kRootName)) return ERROR_KEY_DELETED;
    stored = &AddKey(store, kRootName);
  }
  std::vector<BYTE> bytes(data, data + size);
  StoredValue* value = FindValue(*stored, name);
  if (value) {
    if (value->type == type && value->data == bytes) return ERROR_SUCCESS;  // nothing to rewrite
    value->type = type;
    value->data = std::move(bytes);
  } else {
    PutValue(*stored, StoredValue{name, type, std::move(bytes)});
  }
  return SaveStore(storePath, store);
}

LONG RegCloseKey(HKEY key) {
  if (IsRoot(key)) return ERROR_SUCCESS;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!key || !g_handles.erase(key)) return ERROR_INVALID_HANDLE;
  delete key;
  return ERROR_SUCCESS;
}
