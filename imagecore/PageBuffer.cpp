#include "imagecore/PageBuffer.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "imagecore/CoreResult.h"
#include "platform/RecycledPages.h"
#include "platform/VirtualMemory.h"

namespace {

// Below this the heap serves as well.
constexpr size_t kPagesFrom = size_t{1} << 20;
// Recycled pages start with their mapping's length, which may exceed the
// request; the data follows, aligned for any element.
constexpr size_t kHeader = 64;

bool OnPages(size_t bytes) { return bytes >= kPagesFrom - kHeader; }

// What the header holds.
struct CPagesHeader {
  size_t length;
  bool sparse;
};
static_assert(sizeof(CPagesHeader) <= kHeader);

// Storage for bytes from the heap or recycled pages; null when refused.
// Sparse storage takes fresh pages and returns them at once when freed: kept
// pages are for buffers written whole, and a mapping mostly absent would
// serve them with fresh pages while present ones stay idle.
void* Take(size_t bytes, bool sparse) {
  if (!OnPages(bytes)) return std::malloc(bytes == 0 ? 1 : bytes);
  if (bytes > SIZE_MAX - kHeader) return nullptr;
  CPagesHeader header{0, sparse};
  uint8_t* pages = nullptr;
  if (sparse) {
    header.length = bytes + kHeader;
    pages = static_cast<uint8_t*>(TakeFreshPages(header.length, false));
  } else {
    pages = static_cast<uint8_t*>(TakePages(bytes + kHeader, false, true, header.length));
  }
  if (!pages) return nullptr;
  std::memcpy(pages, &header, sizeof header);
  return pages + kHeader;
}

void Give(void* storage, size_t bytes) {
  if (!storage) return;
  if (!OnPages(bytes)) {
    std::free(storage);
    return;
  }
  uint8_t* pages = static_cast<uint8_t*>(storage) - kHeader;
  CPagesHeader header;
  std::memcpy(&header, pages, sizeof header);
  if (header.sparse) {
    UnmapPages(pages, header.length);
  } else {
    GivePagesBack(pages, header.length);
  }
}

}  // namespace

CPageBuffer::CPageBuffer(size_t bytes, bool sparse) : m_bytes(bytes) {
  if (bytes == 0) return;
  m_data = static_cast<uint8_t*>(Take(bytes, sparse));
  if (!m_data) ThrowIfFailed(keErrOutOfMemory);
}

CPageBuffer::CPageBuffer(const CPageBuffer& other) : CPageBuffer(other.m_bytes) {
  if (m_bytes != 0) std::memcpy(m_data, other.m_data, m_bytes);
}

CPageBuffer::CPageBuffer(CPageBuffer&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)), m_bytes(std::exchange(other.m_bytes, 0)) {}

CPageBuffer& CPageBuffer::operator=(const CPageBuffer& other) {
  if (this != &other) *this = CPageBuffer(other);
  return *this;
}

CPageBuffer& CPageBuffer::operator=(CPageBuffer&& other) noexcept {
  if (this != &other) {
    Free();
    m_data = std::exchange(other.m_data, nullptr);
    m_bytes = std::exchange(other.m_bytes, 0);
  }
  return *this;
}

CPageBuffer::~CPageBuffer() { Free(); }

void CPageBuffer::Free() {
  Give(m_data, m_bytes);
  m_data = nullptr;
  m_bytes = 0;
}

void* AllocateRecycled(size_t bytes) {
  if (void* storage = Take(bytes, false)) return storage;
  throw std::bad_alloc();
}

void FreeRecycled(void* storage, size_t bytes) { Give(storage, bytes); }
