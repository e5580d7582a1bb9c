#include "engine/JournaledMarks.h"

#include "engine/ImageChannels.h"
#include "engine/Marks.h"
#include "imagecore/RowLease.h"

namespace {

void WritePixel(CCoreImage& image, int x, int y, uint8_t value) {
  // A run may be reading the image through a share of its storage.
  ThrowIfFailed(image.OwnStorage());
  *CRowLease(image, y, x, 1).Data() = value;
}

}  // namespace

const CCoreImage* CJournaledMarks::Image() const {
  return m_generation ? &m_generation->image : nullptr;
}

void CJournaledMarks::Create(int width, int height) {
  auto generation = std::make_shared<CGeneration>();
  ThrowIfFailed(generation->image.CreateGrey(width, height));
  FillGrey(generation->image, keMarkNone);
  m_generation = std::move(generation);
}

void CJournaledMarks::Set(int x, int y, uint8_t mark) {
  CGeneration& g = *m_generation;
  g.writes.resize(g.made);
  const uint8_t before = *CRowLease(g.image, y, x, 1).Data();
  g.writes.push_back({x, y, before, mark});
  WritePixel(g.image, x, y, mark);
  ++g.made;
}

CJournaledMarks::CVersion CJournaledMarks::Version() const {
  return CVersion{m_generation, m_generation ? m_generation->made : 0};
}

void CJournaledMarks::Restore(const CVersion& version) {
  m_generation = version.generation;
  if (!m_generation) return;
  CGeneration& g = *m_generation;
  while (g.made > version.writes) {
    --g.made;
    const CGeneration::CWrite& w = g.writes[g.made];
    WritePixel(g.image, w.x, w.y, w.before);
  }
  while (g.made < version.writes && g.made < g.writes.size()) {
    const CGeneration::CWrite& w = g.writes[g.made];
    WritePixel(g.image, w.x, w.y, w.after);
    ++g.made;
  }
}

size_t CJournaledMarks::JournalBytes(const CVersion& version) {
  if (!version.generation) return 0;
  return version.generation->writes.capacity() * sizeof(CGeneration::CWrite);
}
