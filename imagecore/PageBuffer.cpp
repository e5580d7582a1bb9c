#include "imagecore/PageBuffer.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "imagecore/CoreResult.h"
#include "platform/RecycledPages.h"

namespace {

// Below this the heap serves as well.
constexpr size_t kPagesFrom = size_t{1} << 20;

}  // namespace

CPageBuffer::CPageBuffer(size_t bytes, bool sparse) : m_bytes(bytes), m_pages(bytes >= kPagesFrom) {
  if (bytes == 0) return;
  void* storage = m_pages ? TakePages(bytes, false, !sparse, m_length) : std::malloc(bytes);
  if (!storage) ThrowIfFailed(keErrOutOfMemory);
  m_data = static_cast<uint8_t*>(storage);
}

CPageBuffer::CPageBuffer(const CPageBuffer& other) : CPageBuffer(other.m_bytes) {
  if (m_bytes != 0) std::memcpy(m_data, other.m_data, m_bytes);
}

CPageBuffer::CPageBuffer(CPageBuffer&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)), m_bytes(std::exchange(other.m_bytes, 0)),
      m_length(other.m_length), m_pages(other.m_pages) {}

CPageBuffer& CPageBuffer::operator=(const CPageBuffer& other) {
  if (this != &other) *this = CPageBuffer(other);
  return *this;
}

CPageBuffer& CPageBuffer::operator=(CPageBuffer&& other) noexcept {
  if (this != &other) {
    Free();
    m_data = std::exchange(other.m_data, nullptr);
    m_bytes = std::exchange(other.m_bytes, 0);
    m_length = other.m_length;
    m_pages = other.m_pages;
  }
  return *this;
}

CPageBuffer::~CPageBuffer() { Free(); }

void CPageBuffer::Free() {
  if (!m_data) return;
  if (m_pages) {
    GivePagesBack(m_data, m_length);
  } else {
    std::free(m_data);
  }
  m_data = nullptr;
  m_bytes = 0;
}

namespace {

// Recycled pages start with their mapping's length, which may exceed the
// request; the data follows, aligned for any element.
constexpr size_t kHeader = 64;

}  // namespace

void* AllocateRecycled(size_t bytes) {
  if (bytes + kHeader < kPagesFrom) {
    if (void* storage = std::malloc(bytes == 0 ? 1 : bytes)) return storage;
    throw std::bad_alloc();
  }
  if (bytes > SIZE_MAX - kHeader) throw std::bad_alloc();
  size_t length = 0;
  auto* pages = static_cast<uint8_t*>(TakePages(bytes + kHeader, false, false, length));
  if (!pages) throw std::bad_alloc();
  std::memcpy(pages, &length, sizeof length);
  return pages + kHeader;
}

void FreeRecycled(void* storage, size_t bytes) {
  if (!storage) return;
  if (bytes + kHeader < kPagesFrom) {
    std::free(storage);
    return;
  }
  uint8_t* pages = static_cast<uint8_t*>(storage) - kHeader;
  size_t length = 0;
  std::memcpy(&length, pages, sizeof length);
  GivePagesBack(pages, length);
}
