// A file descriptor closed on every way out.
#pragma once

#include <unistd.h>

class CFileDescriptor {
 public:
  explicit CFileDescriptor(int descriptor) : m_descriptor(descriptor) {}
  ~CFileDescriptor() {
    if (m_descriptor >= 0) close(m_descriptor);
  }
  CFileDescriptor(const CFileDescriptor&) = delete;
  CFileDescriptor& operator=(const CFileDescriptor&) = delete;
  // -1 when the opening failed (errno says why).
  int Get() const { return m_descriptor; }

 private:
  int m_descriptor;
};
