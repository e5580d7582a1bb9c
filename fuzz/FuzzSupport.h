// What the fuzz targets share: a private scratch folder per process, inputs
// handed to readers that only take a path, and the seed check.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// A folder of this process's own under $TMPDIR (or /tmp), made on first use
// and removed when the process exits, so a fuzz run leaves nothing behind
// and never touches the user's files.
const std::string& ScratchFolder();

// Points $XDG_CONFIG_HOME at <scratch>/config, so the settings store the
// code under test reads and writes is a private one.
void UsePrivateConfiguration();

// The input as a file that exists only in memory: `Path()` names it for
// readers that open by name; it is gone when the object is.
class CMemoryFile {
 public:
  CMemoryFile(const uint8_t* data, size_t size);
  ~CMemoryFile();
  CMemoryFile(const CMemoryFile&) = delete;
  CMemoryFile& operator=(const CMemoryFile&) = delete;

  bool IsOpen() const { return m_fd >= 0; }
  const std::string& Path() const { return m_path; }

 private:
  int m_fd = -1;
  std::string m_path;
};

// Writes the bytes to `path`, replacing the file; false when it cannot.
bool WriteWholeFile(const std::string& path, const uint8_t* data, size_t size);

// Seeds are meant to be valid inputs that reach deep. With
// KELVANE_FUZZ_REQUIRE_VALID=1 in the environment a refused input aborts
// (naming `what`), so the seed check fails; otherwise refusals are normal.
void ExpectAccepted(bool accepted, const char* what);

// A check the code under test must always pass, whatever the input: a
// failure aborts, which the fuzzer reports as a crash with the input.
void Require(bool condition, const char* what);

// The bytes a packed device-independent bitmap occupies as its header
// describes it (header, colour table, rows), or nothing when the header
// describes no readable bitmap or sizes past `limit`.
std::optional<uint64_t> PackedDibBytes(const uint8_t* data, size_t size, uint64_t limit);
