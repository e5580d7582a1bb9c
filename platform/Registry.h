// The per-user registry: keys holding named, typed values, kept in one text
// file under the user's configuration folder
// ($XDG_CONFIG_HOME/kelvane/registry, by default ~/.config/kelvane/registry).
//
// Every change rewrites the whole file through a temporary file in the same
// folder that is flushed to disk and renamed over the old one, so a crash or
// a full disk leaves the previous contents readable and another process never
// sees half a file; when two processes write, the last one wins. The file is
// parsed again only when it is no longer the version this process last read
// or wrote, so a run of calls costs one parse. A store that cannot be read or
// parsed is reported once per process on standard error and behaves as if it
// were missing. Key and value names compare without
// regard to ASCII case and keep the spelling they were created with.
#pragma once

#include <cstdint>
#include <string>

typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint8_t BYTE;
typedef uint32_t REGSAM;
typedef struct RegistryKey__* HKEY;

// The only predefined key: the current user's.
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000001u)))

// Result codes.
enum : LONG {
  ERROR_SUCCESS = 0,
  ERROR_FILE_NOT_FOUND = 2,
  ERROR_ACCESS_DENIED = 5,
  ERROR_INVALID_HANDLE = 6,
  ERROR_NOT_ENOUGH_MEMORY = 8,
  ERROR_WRITE_FAULT = 29,
  ERROR_INVALID_PARAMETER = 87,
  ERROR_DISK_FULL = 112,
  ERROR_MORE_DATA = 234,
  ERROR_KEY_DELETED = 1018,
};

// Access rights of an open key.
enum : REGSAM {
  KEY_QUERY_VALUE = 0x0001,
  KEY_SET_VALUE = 0x0002,
  KEY_CREATE_SUB_KEY = 0x0004,
  KEY_ENUMERATE_SUB_KEYS = 0x0008,
  KEY_NOTIFY = 0x0010,
  KEY_READ = 0x00020019,
  KEY_WRITE = 0x00020006,
  KEY_ALL_ACCESS = 0x000F003F,
};

// Value types; only their numbers are stored, the data are never checked.
enum : DWORD {
  REG_NONE = 0,
  REG_SZ = 1,
  REG_BINARY = 3,
  REG_DWORD = 4,  // 32-bit little-endian number
};

// Options and dispositions of RegCreateKeyEx.
enum : DWORD {
  REG_OPTION_NON_VOLATILE = 0,
  REG_CREATED_NEW_KEY = 1,
  REG_OPENED_EXISTING_KEY = 2,
};

// Opens an existing key below `key` (null or "" opens `key` itself again).
// ERROR_FILE_NOT_FOUND when it does not exist.
LONG RegOpenKeyEx(HKEY key, const char* subKey, DWORD options, REGSAM rights, HKEY* result);

// Opens the key, creating it and any missing keys above it; creating needs
// KEY_CREATE_SUB_KEY on `key`. `keyClass` and `security` are ignored.
LONG RegCreateKeyEx(HKEY key, const char* subKey, DWORD reserved, const char* keyClass,
                    DWORD options, REGSAM rights, const void* security, HKEY* result,
                    DWORD* disposition);

// Reads a value (null or "" names the key's default value). `*size` is the
// buffer's size on entry and the data's size on return; with a null `data`
// only the size is asked for. A value larger than the buffer gives
// ERROR_MORE_DATA and leaves the buffer untouched. Needs KEY_QUERY_VALUE.
LONG RegQueryValueEx(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                     DWORD* size);

// Stores a value, replacing one of the same name. Needs KEY_SET_VALUE.
LONG RegSetValueEx(HKEY key, const char* valueName, DWORD reserved, DWORD type, const BYTE* data,
                   DWORD size);

LONG RegCloseKey(HKEY key);

// The file behind the store for the current environment; empty when no
// configuration folder can be found.
std::string RegistryStorePath();

// Why the last call of this thread that changes the store could not write
// it: the store's file and the system's reason. Both empty when that call
// wrote, or failed before writing (a bad handle, missing rights).
struct RegistryWriteFailure {
  std::string path;
  std::string reason;
};
RegistryWriteFailure LastRegistryWriteFailure();

// For tests: lets the next unreadable store be reported again.
void ResetRegistryReportForTesting();
// For tests: how many times this process has read the store's file.
int RegistryStoreReadsForTesting();
